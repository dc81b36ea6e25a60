# Configures, builds and runs the consumer against an installed prefix, with
# the compiler and flags of the build that installed it (sanitizers included).
# For a cross build, TOOLCHAIN is its toolchain file and EMULATOR runs the
# consumer, which finds the installed DLL copied beside it.
file(REMOVE_RECURSE ${BINARY})
set(toolchain)
if(TOOLCHAIN)
  # A cross toolchain searches only its own root; the package is named outright.
  file(GLOB_RECURSE config ${PREFIX}/*/RXMFilesConfig.cmake)
  get_filename_component(config_dir "${config}" DIRECTORY)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DRXMFiles_DIR=${config_dir})
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -DCMAKE_PREFIX_PATH=${PREFIX} ${toolchain}
          -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
          "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} COMMAND_ERROR_IS_FATAL ANY)
if(EMULATOR)
  file(GLOB dlls ${PREFIX}/bin/*.dll)
  file(COPY ${dlls} DESTINATION ${BINARY})
  execute_process(COMMAND ${EMULATOR} ${BINARY}/consumer.exe consumer.dat WORKING_DIRECTORY ${BINARY}
                  COMMAND_ERROR_IS_FATAL ANY)
else()
  execute_process(COMMAND ${BINARY}/consumer ${BINARY}/consumer.dat COMMAND_ERROR_IS_FATAL ANY)
endif()
