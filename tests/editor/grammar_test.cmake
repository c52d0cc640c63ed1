# Driver of the editor_grammar test: runs tests/editor/grammar_test.mjs from a
# copy in WORK_DIR (under the build folder), so that node_modules never lands
# in the source tree. `npm ci` installs the locked packages there, and again
# only when package-lock.json has changed since, so later runs need no network.
# Expects NODE, NPM, SOURCE_DIR and WORK_DIR.
set(here ${SOURCE_DIR}/tests/editor)
file(MAKE_DIRECTORY ${WORK_DIR})
foreach(name package.json package-lock.json grammar_test.mjs)
  configure_file(${here}/${name} ${WORK_DIR}/${name} COPYONLY)
endforeach()

set(stamp ${WORK_DIR}/node_modules/.ferrow-installed-lock.json)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/package-lock.json ${stamp}
                RESULT_VARIABLE stale OUTPUT_QUIET ERROR_QUIET)
if(stale)
  execute_process(COMMAND ${NPM} ci --no-audit --no-fund WORKING_DIRECTORY ${WORK_DIR}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "npm ci failed (${status}) in ${WORK_DIR}")
  endif()
  configure_file(${WORK_DIR}/package-lock.json ${stamp} COPYONLY)
endif()

execute_process(COMMAND ${NODE} grammar_test.mjs ${SOURCE_DIR} WORKING_DIRECTORY ${WORK_DIR}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "grammar_test.mjs failed (${status})")
endif()
