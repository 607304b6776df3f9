# SPDX-License-Identifier: Apache-2.0
# Fails when any of FILES (';'-separated) loads OpenCV's image codecs at start-up: they pull in some 140
# shared objects and are loaded only when an image is first read or written.
foreach(file IN LISTS FILES)
  execute_process(COMMAND ldd ${file} OUTPUT_VARIABLE loaded RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "ldd ${file} failed")
  endif()
  string(REGEX MATCH "libopencv_imgcodecs[^ ]*" codecs "${loaded}")
  if(codecs)
    message(FATAL_ERROR "${file} loads ${codecs} at start-up")
  endif()
  string(REGEX MATCHALL "\n" lines "${loaded}")
  list(LENGTH lines count)
  message(STATUS "${file}: ${count} shared objects")
endforeach()
