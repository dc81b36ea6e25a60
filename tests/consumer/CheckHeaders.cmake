# The installed headers are the public interface and nothing else: each
# compiles alone from the installed tree; each includes only installed
# headers and the C++ standard library (<name> without an extension: never
# <windows.h>, whatever branch of the preprocessor it stands in); and each is
# reached from one of the umbrella headers ROOTS, so that no header of the
# library's own is installed by mistake.
#   cmake -DPREFIX=... -DBINARY=... -DCXX=... [-DCXX_FLAGS=...] -DROOTS=RXMFiles.h[,...]
#         -P CheckHeaders.cmake
cmake_minimum_required(VERSION 3.25)
file(GLOB_RECURSE umbrella ${PREFIX}/*/RXMFiles/RXMFiles.h)
if(NOT umbrella)
  message(FATAL_ERROR "no RXMFiles/RXMFiles.h under ${PREFIX}")
endif()
get_filename_component(root "${umbrella}" DIRECTORY)
file(GLOB_RECURSE installed RELATIVE ${root} ${root}/*)
if(NOT ROOTS)
  set(ROOTS RXMFiles.h)
endif()
string(REPLACE "," ";" ROOTS "${ROOTS}")

set(failures)
set(reached ${ROOTS})
set(pending ${ROOTS})
while(pending)
  list(POP_FRONT pending header)
  if(NOT EXISTS ${root}/${header})
    list(APPEND failures "${header}, an umbrella header, is not installed")
    continue()
  endif()
  get_filename_component(folder ${header} DIRECTORY)
  file(STRINGS ${root}/${header} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    # An installed header, as "..." finds it (beside the includer, then from
    # the root) or as <...> does (from the root).
    set(found "")
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(included ${CMAKE_MATCH_1})
      if(folder AND EXISTS ${root}/${folder}/${included})
        set(found ${folder}/${included})
      elseif(EXISTS ${root}/${included})
        set(found ${included})
      else()
        list(APPEND failures "${header} includes \"${included}\", which is not installed")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
      set(included ${CMAKE_MATCH_1})
      if(EXISTS ${root}/${included})
        set(found ${included})
      elseif(included MATCHES "\\.")
        list(APPEND failures "${header} includes <${included}>, not a C++ standard header")
      endif()
    else()
      list(APPEND failures "${header}: an include this check cannot read: ${line}")
    endif()
    if(found AND NOT found IN_LIST reached)
      list(APPEND reached ${found})
      list(APPEND pending ${found})
    endif()
  endforeach()
endwhile()

foreach(header IN LISTS installed)
  if(NOT header IN_LIST reached)
    list(APPEND failures "${header} is installed, but no umbrella header (${ROOTS}) reaches it")
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
message(STATUS "${count} installed headers, each alone, all reached from ${ROOTS}")
