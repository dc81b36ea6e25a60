# The README's example is the source of examples/modern, which the build
# compiles and a test runs: its code block (the one whose first line names
# the file) must be that file, byte for byte.
#   cmake -DREADME=README.md -DSOURCE=examples/modern/main.cpp -P SameAsReadme.cmake
file(READ ${README} readme)
file(READ ${SOURCE} source)
string(REGEX MATCH "^// [^\n]*" first_line "${source}")
string(FIND "${readme}" "```cpp\n${first_line}\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${README} has no ```cpp block beginning with \"${first_line}\"")
endif()
string(LENGTH "```cpp\n" fence)
math(EXPR start "${start} + ${fence}")
string(SUBSTRING "${readme}" ${start} -1 rest)
string(FIND "${rest}" "\n```" end)
math(EXPR end "${end} + 1")
string(SUBSTRING "${rest}" 0 ${end} block)
if(NOT block STREQUAL source)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/readme-block.cpp "${block}")
  message(FATAL_ERROR "${README}'s block differs from ${SOURCE}; it is in "
                      "${CMAKE_CURRENT_BINARY_DIR}/readme-block.cpp")
endif()
