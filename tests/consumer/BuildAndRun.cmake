# Configures, builds and runs the consumer against an installed prefix, with
# the flags of the build that installed it (sanitizers included).
file(REMOVE_RECURSE ${BINARY})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -DCMAKE_PREFIX_PATH=${PREFIX}
                        -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
                        "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${BINARY}/consumer ${BINARY}/consumer.dat COMMAND_ERROR_IS_FATAL ANY)
