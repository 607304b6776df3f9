# SPDX-License-Identifier: Apache-2.0
# The HTML manual opens from the desktop program: the manual installed into a fresh prefix, the clicking
# program put in its bin/, run under a virtual X server where the desktop's launcher (xdg-open) hands the
# page to a browser (dillo). The picture of the screen is left in WORK_DIR/manual-opened.png.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component documentation
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not install the manual into ${prefix}")
endif()
file(COPY ${SHOT_PROGRAM} DESTINATION ${prefix}/bin)
get_filename_component(program ${SHOT_PROGRAM} NAME)
# The browser's window the size of a page. (Its toolkit finds no font with Chinese characters by name: the
# page's Chinese shows as boxes in this browser, its layout and pictures as in any other.)
set(home ${WORK_DIR}/home)
file(WRITE ${home}/.dillo/dillorc "geometry=900x700\n")
set(environment HOME=${home} XDG_CONFIG_HOME=${home}/.config XDG_DATA_HOME=${home}/.local/share)
# Under AddressSanitizer the leak check stays off here: a real display brings D-Bus and plugins that keep
# memory to the end (the other window tests run offscreen, without them, and are checked).
set(environment ${environment} ASAN_OPTIONS=detect_leaks=0:abort_on_error=1)
# Written to files: the browser's helper daemon outlives the display and would hold a pipe open.
execute_process(
  COMMAND xvfb-run -a -s "-screen 0 1400x1000x24"
    ${CMAKE_COMMAND} -E env ${environment} BROWSER=dillo QT_QPA_PLATFORM=xcb
      ${prefix}/bin/${program} "Tarn 用户手册" ${WORK_DIR}/manual-opened.png
  RESULT_VARIABLE rc OUTPUT_FILE ${WORK_DIR}/out.txt ERROR_FILE ${WORK_DIR}/err.txt TIMEOUT 120)
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${environment} /usr/libexec/dillo/dpidc stop
  OUTPUT_QUIET ERROR_QUIET)
file(READ ${WORK_DIR}/out.txt out)
file(READ ${WORK_DIR}/err.txt err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the manual did not open (${rc}):\n${out}\n${err}")
endif()
message("${out}")
