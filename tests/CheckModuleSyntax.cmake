# node --check FILE as an ES module (node decides by the extension: copy it to .mjs first).
get_filename_component(name ${FILE} NAME_WE)
set(copy ${CMAKE_CURRENT_BINARY_DIR}/${name}-syntax-check.mjs)
configure_file(${FILE} ${copy} COPYONLY)
execute_process(COMMAND ${NODE} --check ${copy} RESULT_VARIABLE result ERROR_VARIABLE error)
file(REMOVE ${copy})
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FILE} does not parse as a module:\n${error}")
endif()
