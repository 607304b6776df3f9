# SPDX-License-Identifier: Apache-2.0
# Every source file of the tree SOURCE_DIR states its licence in an SPDX line among its first three lines,
# and the licence itself is at the top of the tree.
#   cmake -DSOURCE_DIR=… -P CheckLicenceLines.cmake
if(NOT EXISTS ${SOURCE_DIR}/LICENSE)
  message(FATAL_ERROR "no LICENSE at the top of ${SOURCE_DIR}")
endif()
set(files)
foreach(dir LieGroup Modules app bench cmake docs examples handeye python scripts sim tests tools workflow)
  file(GLOB_RECURSE found RELATIVE ${SOURCE_DIR}
    ${SOURCE_DIR}/${dir}/*.cpp ${SOURCE_DIR}/${dir}/*.h ${SOURCE_DIR}/${dir}/*.py ${SOURCE_DIR}/${dir}/*.pyi
    ${SOURCE_DIR}/${dir}/*.sh ${SOURCE_DIR}/${dir}/*.cmake ${SOURCE_DIR}/${dir}/*.cmake.in
    ${SOURCE_DIR}/${dir}/CMakeLists.txt ${SOURCE_DIR}/${dir}/*.map ${SOURCE_DIR}/${dir}/*.ui ${SOURCE_DIR}/${dir}/*.qrc)
  list(APPEND files ${found})
endforeach()
list(APPEND files CMakeLists.txt Makefile .ci/run)
set(missing)
foreach(file ${files})
  file(STRINGS ${SOURCE_DIR}/${file} head LIMIT_COUNT 3)
  string(FIND "${head}" "SPDX-License-Identifier: Apache-2.0" at)
  if(at EQUAL -1)
    list(APPEND missing ${file})
  endif()
endforeach()
list(LENGTH files count)
if(missing)
  string(REPLACE ";" "\n  " missing "${missing}")
  message(FATAL_ERROR "no SPDX licence line at the top of:\n  ${missing}")
endif()
message("${count} source files state their licence")
