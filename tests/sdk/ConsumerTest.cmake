# SPDX-License-Identifier: Apache-2.0
cmake_minimum_required(VERSION 3.25)
# Installs the build tree into a fresh prefix — or, with -DDEB=ON, builds the Debian package and unpacks it
# into a fresh root — then configures, builds and runs the SDK consumer example against that prefix alone
# and the installed program (and, from the package, imports the Python module and calibrates with it).
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

if(DEB)
  run(cpack -G DEB -B ${WORK_DIR}/package --config ${BUILD_DIR}/CPackConfig.cmake)
  file(GLOB debs ${WORK_DIR}/package/*.deb)
  foreach(deb ${debs})
    run(dpkg-deb -x ${deb} ${WORK_DIR}/root)
  endforeach()
  set(prefix ${WORK_DIR}/root/usr)
  # The binaries are stripped, their debug information in the -dbgsym packages; the runtime stays small.
  file(GLOB debug_packages ${WORK_DIR}/package/*-dbgsym_*.ddeb)
  list(LENGTH debug_packages debug_count)
  if(NOT debug_count EQUAL 3)
    message(FATAL_ERROR "expected the debug symbols of tarn, libtarn2 and python3-tarn, found: ${debug_packages}")
  endif()
  file(GLOB library ${prefix}/lib/libtarn.so.*.*)
  file(SIZE ${library} library_size)
  run(readelf -S ${library})
  if(library_size GREATER 10000000 OR last_output MATCHES "\\.debug_info")
    message(FATAL_ERROR "${library} is ${library_size} bytes or carries its debug information")
  endif()
else()
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/sdk_consumer)
message("${last_output}")
# The installed program runs a command through the command module installed with it.
run(${prefix}/bin/tarn marker --out ${WORK_DIR}/marker.svg)
if(DEB)
  run(${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/lib/python3/dist-packages ${PYTHON}
    ${prefix}/share/tarn/TarnSDK/examples/python/calibrate_synthetic.py)
  message("python: ${last_output}")
  foreach(file share/doc/tarn/manual/zh/README.md share/doc/tarn/manual/en/README.md bin/tarn bin/tarn_studio
          share/doc/tarn/copyright share/doc/tarn/manual/zh/index.html share/doc/tarn/manual/en/index.html
          share/doc/tarn/screenshots/tab0-collection.png)
    if(NOT EXISTS ${prefix}/${file})
      message(FATAL_ERROR "the package lacks ${file}")
    endif()
  endforeach()
  # The copyright file states our licence and every third-party one the programs link or are compiled with.
  file(READ ${prefix}/share/doc/tarn/copyright copyright)
  foreach(licence "Apache-2.0" "LGPL-3" "LGPL-2.1+ with Qwt-1.0 exception" "MPL-2.0" "Expat" "BSD-3-Clause")
    string(FIND "${copyright}" "\nLicense: ${licence}\n" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the copyright file has no licence paragraph for ${licence}")
    endif()
  endforeach()
endif()
