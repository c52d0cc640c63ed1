# Runs grammar_test.mjs from a copy in WORK_DIR (build folder) so node_modules stays out of the
# source tree; `npm ci` reinstalls the locked packages only when package-lock.json changed, so
# later runs need no network. Expects NODE, NPM, SOURCE_DIR and WORK_DIR.
set(here ${SOURCE_DIR}/tests/editor)
file(COPY ${here}/package.json ${here}/package-lock.json ${here}/grammar_test.mjs DESTINATION ${WORK_DIR})
set(stamp ${WORK_DIR}/node_modules/.ferrow-installed-lock.json)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/package-lock.json ${stamp}
                RESULT_VARIABLE stale OUTPUT_QUIET ERROR_QUIET)
if(stale)
  execute_process(COMMAND ${NPM} ci --no-audit --no-fund WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "npm ci failed (${status}) in ${WORK_DIR}")
  endif()
  configure_file(${WORK_DIR}/package-lock.json ${stamp} COPYONLY)
endif()
execute_process(COMMAND ${NODE} grammar_test.mjs ${SOURCE_DIR} WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "grammar_test.mjs failed (${status})")
endif()
