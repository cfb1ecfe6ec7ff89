# Runs PROGRAM and compares its standard output, byte for byte, with the
# file EXPECTED; a non-zero exit status fails as well.
execute_process(COMMAND ${PROGRAM} OUTPUT_VARIABLE actual RESULT_VARIABLE status)
file(READ ${EXPECTED} expected)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${status}; output:\n${actual}")
endif()
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "output differs\n--- expected\n${expected}--- actual\n${actual}")
endif()
