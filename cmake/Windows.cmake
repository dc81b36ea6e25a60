# Building for Windows with mingw-w64, usually from Linux.

# A path of the build machine as the built programs see it: under Wine, the
# drive Z: is the Linux root.
function(rxmfiles_target_path out path)
  if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
    set(${out} "Z:${path}" PARENT_SCOPE)
  else()
    set(${out} "${path}" PARENT_SCOPE)
  endif()
endfunction()

if(NOT WIN32)
  return()
endif()

# Every program and the DLL land in one folder, so that the programs find
# RXMFiles.dll beside them. The runtimes are linked in statically, so that
# nothing but the system's own DLLs (KERNEL32, msvcrt) is needed to run them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
add_link_options(-static)

# Running the built programs from Linux: the 64-bit ones under Debian's
# wine64, through a wrapper that keeps Wine's state in a prefix of this build
# (WINEPREFIX, unless the caller gives one) and quiet (WINEDEBUG=-all).
# There is no emulator for 32-bit programs here (no wine32), so they are
# built and checked but not run.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR
   AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(RXMFILES_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(RXMFILES_WINE64)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${PROJECT_BINARY_DIR}/wine-run @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
  endif()
endif()
