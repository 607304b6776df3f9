# SPDX-License-Identifier: Apache-2.0
# Small helpers shared by every module.

# Warnings on, per target (not globally, so imported code is not affected).
function(tarn_enable_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wconversion -Wsign-conversion
    -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough
    $<$<BOOL:${TARN_WERROR}>:-Werror>)
endfunction()

# Hidden visibility keeps our own code private; a linker version script also keeps local the template
# code instantiated from third-party headers (type info, vtables), so the library exports exactly the
# names the script lists.
function(tarn_export_only target script)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${script}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})
endfunction()

# Sanitizers for the whole build (tests included).
function(tarn_apply_sanitizers sanitizers)
  if(sanitizers)
    list(JOIN sanitizers "," joined)
    # -O1 keeps the rendering and detection tests fast enough while assertions stay on.
    add_compile_options(-fsanitize=${joined} -fno-omit-frame-pointer -fno-sanitize-recover=all -O1)
    add_link_options(-fsanitize=${joined})
  endif()
endfunction()

# A Google Test program registered with CTest, one test per case.
#   tarn_add_test(NAME n SRCS a.cpp b.cpp LINK_LIBS x y)
function(tarn_add_test)
  cmake_parse_arguments(ARG "" "NAME" "SRCS;LINK_LIBS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SRCS})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LINK_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  tarn_enable_warnings(${ARG_NAME})
  gtest_discover_tests(${ARG_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# Installs a library into the TarnTargets export set.
function(tarn_install_library target)
  install(TARGETS ${target} EXPORT TarnTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endfunction()

# Installs docs/man/<page> (its version filled in), compressed as Debian keeps manual pages, with the programs.
function(tarn_install_manual_page page)
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page})
  set(built ${PROJECT_BINARY_DIR}/man/${page})
  configure_file(${source} ${built} @ONLY)
  execute_process(COMMAND gzip -9nf ${built} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${page}")
  endif()
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  install(FILES ${built}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT programs)
endfunction()
