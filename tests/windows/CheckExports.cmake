# Checks that a DLL exports every name of a list: reads the DLL's export table
# with objdump -p, demangles it with c++filt, and names each one missing.
# cmake -DOBJDUMP=... -DCXXFILT=... -DDLL=... -DEXPECTED=... -DSIZE_T=... -P CheckExports.cmake
# (SIZE_T: how c++filt names std::size_t for the DLL's width; the list says
# "size_t" where a signature has one)
# (writes exports.mangled in the current folder)
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
# The export table's names follow its "[Ordinal/Name Pointer] Table" heading,
# one "[   n] name" line each.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export table")
endif()
string(SUBSTRING "${dump}" ${at} -1 table)
string(REGEX MATCHALL "\n[ \t]*\\[ *[0-9]+\\] [^\n]+" lines "${table}")
set(mangled "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^\n[ \t]*\\[ *[0-9]+\\] " "" name "${line}")
  string(APPEND mangled "${name}\n")
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/exports.mangled "${mangled}")
# -n: the names have no leading underscore to strip (32-bit targets expect one).
execute_process(COMMAND ${CXXFILT} -n INPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/exports.mangled
                OUTPUT_VARIABLE demangled COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" exported "${demangled}")

file(STRINGS ${EXPECTED} expected REGEX "^[^#]")
string(REGEX REPLACE "([(, ])size_t([,)])" "\\1${SIZE_T}\\2" expected "${expected}")
set(missing 0)
foreach(name IN LISTS expected)
  if(NOT name IN_LIST exported)
    message("missing export: ${name}")
    math(EXPR missing "${missing} + 1")
  endif()
endforeach()
list(LENGTH expected checked)
list(LENGTH exported total)
if(missing GREATER 0)
  message(FATAL_ERROR "${DLL}: ${missing} of ${checked} expected exports missing")
endif()
message("${DLL}: all ${checked} expected names among its ${total} exports")
