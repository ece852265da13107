# Runs one fuzzer for a while on a fresh working copy of its seed corpus, so that
# what it finds stays in the build folder and the committed corpus is never written.
# Arguments: FUZZER, SEEDS, WORK, SECONDS.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
file(GLOB seeds "${SEEDS}/*")
file(COPY ${seeds} DESTINATION "${WORK}/corpus")

execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -max_len=512 -print_final_stats=1
          "-artifact_prefix=${WORK}/artifacts/" "${WORK}/corpus"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the input that broke it is in ${WORK}/artifacts")
endif()
