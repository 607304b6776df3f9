# SPDX-License-Identifier: Apache-2.0
# One manual page as HTML: the Markdown SOURCE through cmark (CMARK), inside a page of its own that says its
# character set (the Chinese manual reads right in any browser), its language LANG and title TITLE; OUTPUT.
execute_process(COMMAND ${CMARK} ${SOURCE} RESULT_VARIABLE rc OUTPUT_VARIABLE body ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmark failed on ${SOURCE}: ${err}")
endif()
file(WRITE ${OUTPUT} "<!DOCTYPE html>
<html lang=\"${LANG}\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>${TITLE}</title>
<style>
body { max-width: 60em; margin: 2em auto; padding: 0 1em; line-height: 1.55;
       font-family: \"WenQuanYi Micro Hei\", \"Microsoft YaHei\", sans-serif; }
code, pre { font-family: monospace; background: #f4f4f4; }
pre { padding: 0.6em; overflow-x: auto; }
table { border-collapse: collapse; } td, th { border: 1px solid #ccc; padding: 0.2em 0.5em; }
img { max-width: 100%; border: 1px solid #ddd; }
</style>
</head>
<body>
${body}</body>
</html>
")
