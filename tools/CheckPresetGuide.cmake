# Runs the preset guide generator and compares its output with the committed
# docs/presets.md. Run as `cmake -P` with TOOL, TSV, GUIDE and OUTPUT (where
# the fresh guide is written).
execute_process(COMMAND ${TOOL} ${TSV} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result
                ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the preset guide generator failed (${result}): ${error}")
endif()
file(READ ${OUTPUT} fresh)
file(READ ${GUIDE} committed)
if(NOT fresh STREQUAL committed)
  message(FATAL_ERROR "docs/presets.md is out of date; regenerate it with\n"
          "  ${TOOL} docs/bootstrap-precision.tsv > docs/presets.md\n"
          "(the fresh output is ${OUTPUT})")
endif()
