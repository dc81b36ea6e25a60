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
# RXMFiles.dll beside them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# How the GCC runtimes are linked, also by programs built against the
# installed library (RXMFILES_RUNTIME_LINK_OPTIONS). 64-bit: statically, so
# that nothing but the system's own DLLs (KERNEL32, msvcrt) is needed; its
# exceptions unwind through the system's tables, across modules. 32-bit:
# exceptions unwind through DWARF tables that each copy of libgcc keeps for
# the module it is linked into, so an Exception thrown by RXMFiles.dll would
# end the program (std::terminate) instead of reaching its catch. There the
# runtimes are shared DLLs, copied beside the programs and installed with
# the library.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(RXMFILES_RUNTIME_LINK_OPTIONS "")
  foreach(runtime libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(runtime_path "${runtime_path}" REALPATH)
    if(NOT EXISTS "${runtime_path}")
      message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${runtime}")
    endif()
    file(COPY ${runtime_path} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    install(FILES ${runtime_path} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endforeach()
else()
  set(RXMFILES_RUNTIME_LINK_OPTIONS -static)
endif()
add_link_options(${RXMFILES_RUNTIME_LINK_OPTIONS})

# Running the built programs from Linux: the 64-bit ones under Debian's
# wine64, the 32-bit ones under its 32-bit wine (package wine32:i386), each
# through a wrapper that keeps Wine's state in a prefix of this build
# (WINEPREFIX, unless the caller gives one), makes that prefix on first use,
# and keeps Wine quiet (WINEDEBUG=-all). Without the Wine of the build's
# width, the programs are built and checked but not run.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(rxmfiles_wine_name wine64)
    set(RXMFILES_WINE_ARCH win64)
  else()
    set(rxmfiles_wine_name wine)
    set(RXMFILES_WINE_ARCH win32)
  endif()
  find_program(RXMFILES_WINE NAMES ${rxmfiles_wine_name} PATHS /usr/lib/wine NO_DEFAULT_PATH
               NO_CMAKE_FIND_ROOT_PATH)
  find_program(RXMFILES_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH
               NO_CMAKE_FIND_ROOT_PATH)
  # Some hosts cannot run 32-bit programs at all (a kernel without IA-32
  # emulation, or a virtual machine that offers none): wine32 is installed
  # there but fails to start.
  if(RXMFILES_WINE)
    execute_process(COMMAND ${RXMFILES_WINE} --version RESULT_VARIABLE rxmfiles_wine_starts
                    OUTPUT_QUIET ERROR_QUIET)
    if(NOT rxmfiles_wine_starts EQUAL 0)
      message(STATUS "${RXMFILES_WINE} does not start on this host (${rxmfiles_wine_starts})")
      set(RXMFILES_WINE "")
    endif()
  endif()
  if(RXMFILES_WINE AND RXMFILES_WINESERVER)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${PROJECT_BINARY_DIR}/wine-run @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
  else()
    message(STATUS "No ${rxmfiles_wine_name} that runs here: "
                   "the ${CMAKE_SYSTEM_PROCESSOR} programs are built, not run")
    file(REMOVE ${PROJECT_BINARY_DIR}/wine-run)
  endif()
endif()
