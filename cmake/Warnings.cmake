# Warnings of every target of the project; CMAKE_COMPILE_WARNING_AS_ERROR
# (set by the presets) turns them into errors.
function(rxmfiles_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                           -Wnon-virtual-dtor -Woverloaded-virtual -Wformat=2)
endfunction()
