# Runs one script through mx2 and compares its output and exit code.
file(STRINGS ${SCRIPT} header LIMIT_COUNT 5)
set(expected_code 0)
set(extra_args "")
foreach(line ${header})
  if(line MATCHES "^// exit: *(-?[0-9]+)")
    set(expected_code ${CMAKE_MATCH_1})
  elseif(line MATCHES "^// args: *(.*)$")
    separate_arguments(extra_args UNIX_COMMAND "${CMAKE_MATCH_1}")
  endif()
endforeach()
execute_process(COMMAND ${MX2} ${SCRIPT} ${extra_args}
  WORKING_DIRECTORY ${WORKDIR}
  INPUT_FILE /dev/null
  OUTPUT_VARIABLE actual
  ERROR_VARIABLE errors
  RESULT_VARIABLE code)
if(EXISTS ${EXPECTED})
  file(READ ${EXPECTED} expected)
else()
  set(expected "")
endif()
set(failed FALSE)
if(NOT "${code}" STREQUAL "${expected_code}")
  message(SEND_ERROR "exit code ${code}, expected ${expected_code}")
  set(failed TRUE)
endif()
if(NOT "${actual}" STREQUAL "${expected}")
  message(SEND_ERROR "output differs.\n--- expected:\n${expected}\n--- actual:\n${actual}")
  set(failed TRUE)
endif()
if(failed AND errors)
  message(STATUS "stderr:\n${errors}")
endif()
