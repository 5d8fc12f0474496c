# Runs one fuzz target for a while on a fresh copy of its seed corpus, so that the committed
# corpus never grows; fails when the target exits non-zero or leaves a finding.
#   cmake -DTARGET=<exe> -DCORPUS=<seed dir> -DWORK=<dir> -DSECONDS=<n> [-DFLAGS=<list>]
#         -P run_target.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
file(GLOB seeds ${CORPUS}/*)
file(COPY ${seeds} DESTINATION ${WORK}/corpus)
execute_process(
  COMMAND ${TARGET} -max_total_time=${SECONDS} -max_len=4096 -timeout=10
          -artifact_prefix=${WORK}/artifacts/ ${FLAGS} ${WORK}/corpus
  RESULT_VARIABLE status
  OUTPUT_FILE ${WORK}/log
  ERROR_FILE ${WORK}/log)
file(GLOB findings ${WORK}/artifacts/*)
file(STRINGS ${WORK}/log done REGEX "^Done [0-9]+ runs")
if(NOT status EQUAL 0 OR findings OR NOT done)
  file(STRINGS ${WORK}/log errors REGEX "ERROR|invariant failed|runtime error|SUMMARY")
  list(JOIN errors "\n" errors)
  message(FATAL_ERROR "exit ${status}, findings: ${findings}, log ${WORK}/log\n${errors}")
endif()
message(STATUS "${done}, no findings")
