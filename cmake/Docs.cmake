# The API reference: Doxygen over exactly the installed headers, into
# <build>/docs/html. Only where Doxygen is found; a public name without
# documentation fails the target (docs/Doxyfile.in).
find_package(Doxygen QUIET)

# rxmfiles_docs(HEADER...): the docs target over HEADERs (paths relative to
# the current source folder: the installed list).
function(rxmfiles_docs)
  if(NOT DOXYGEN_FOUND)
    return()
  endif()
  set(inputs)
  foreach(header IN LISTS ARGN)
    list(APPEND inputs "${CMAKE_CURRENT_SOURCE_DIR}/${header}")
  endforeach()
  list(JOIN inputs " \\\n    " RXMFILES_DOCS_INPUT)
  set(RXMFILES_DOCS_OUTPUT ${PROJECT_BINARY_DIR}/docs)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)
  add_custom_target(
    docs
    COMMAND ${DOXYGEN_EXECUTABLE} ${PROJECT_BINARY_DIR}/docs/Doxyfile
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/docs
    DEPENDS ${inputs} ${PROJECT_SOURCE_DIR}/docs/Doxyfile.in
    COMMENT "API reference of the installed headers: ${RXMFILES_DOCS_OUTPUT}/html"
    VERBATIM)
endfunction()
