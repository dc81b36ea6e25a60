# The installed headers are the public interface and nothing else: each
# compiles alone from the installed tree, includes only installed headers
# ("...") and the C++ standard library (<name>, no extension: never
# <windows.h>, whatever branch of the preprocessor it stands in), and each is
# reached from RXMFiles.h, so that no header of the library's own is
# installed by mistake.
#   cmake -DPREFIX=... -DBINARY=... -DCXX=... [-DCXX_FLAGS=...] -P CheckHeaders.cmake
cmake_minimum_required(VERSION 3.25)
file(GLOB_RECURSE umbrella ${PREFIX}/*/RXMFiles/RXMFiles.h)
if(NOT umbrella)
  message(FATAL_ERROR "no RXMFiles/RXMFiles.h under ${PREFIX}")
endif()
get_filename_component(root "${umbrella}" DIRECTORY)
file(GLOB_RECURSE installed RELATIVE ${root} ${root}/*)

set(failures)
set(reached RXMFiles.h)
set(pending RXMFiles.h)
while(pending)
  list(POP_FRONT pending header)
  if(NOT EXISTS ${root}/${header})
    continue()  # said where it is included
  endif()
  file(STRINGS ${root}/${header} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(included ${CMAKE_MATCH_1})
      if(NOT EXISTS ${root}/${included})
        list(APPEND failures "${header} includes \"${included}\", which is not installed")
      elseif(NOT included IN_LIST reached)
        list(APPEND reached ${included})
        list(APPEND pending ${included})
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
      set(included ${CMAKE_MATCH_1})
      if(included MATCHES "\\.")
        list(APPEND failures "${header} includes <${included}>, not a C++ standard header")
      endif()
    else()
      list(APPEND failures "${header}: an include this check cannot read: ${line}")
    endif()
  endforeach()
endwhile()

foreach(header IN LISTS installed)
  if(NOT header IN_LIST reached)
    list(APPEND failures "${header} is installed, but RXMFiles.h does not reach it")
  endif()
endforeach()

# Each header alone, as the first thing a program includes.
separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS}")
file(REMOVE_RECURSE ${BINARY})
file(MAKE_DIRECTORY ${BINARY})
foreach(header IN LISTS installed)
  string(MAKE_C_IDENTIFIER ${header} name)
  file(WRITE ${BINARY}/${name}.cpp "#include <${header}>\n")
  execute_process(
    COMMAND ${CXX} ${flags} -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I${root}
            ${BINARY}/${name}.cpp
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    list(APPEND failures "${header} does not compile alone:\n${output}")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
list(LENGTH installed count)
message(STATUS "${count} installed headers, each alone, all reached from RXMFiles.h")
