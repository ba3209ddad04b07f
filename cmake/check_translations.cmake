# Fails when a text of the sources has no finished translation: lupdate
# brings a copy of each translation file up to date with the sources (a new
# text comes in unfinished), then lrelease counts what is unfinished.
# Variables: LUPDATE, LRELEASE, TS_FILES, SOURCES, OPTIONS (lists), WORK.
file(MAKE_DIRECTORY "${WORK}")
foreach(ts IN LISTS TS_FILES)
  get_filename_component(name "${ts}" NAME)
  set(copy "${WORK}/${name}")
  file(COPY_FILE "${ts}" "${copy}")
  execute_process(COMMAND "${LUPDATE}" -silent ${OPTIONS} ${SOURCES} -ts "${copy}"
                  RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "lupdate failed on ${name}:\n${errors}")
  endif()
  execute_process(COMMAND "${LRELEASE}" "${copy}" -qm "${WORK}/check.qm"
                  RESULT_VARIABLE result OUTPUT_VARIABLE report ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "lrelease failed on ${name}:\n${report}${errors}")
  endif()
  # A new text comes in with no translation at all ("untranslated"), a
  # changed one keeps its old translation marked "unfinished".
  string(REGEX MATCH "([0-9]+) unfinished" unfinished "${report}")
  set(unfinished_count "${CMAKE_MATCH_1}")
  string(REGEX MATCH "Ignored [0-9]+ untranslated" untranslated "${report}")
  if(NOT unfinished OR NOT unfinished_count EQUAL 0 OR untranslated)
    message(FATAL_ERROR "${name} is missing translations; "
                        "update it with the update_translations target and translate what it marks unfinished:\n"
                        "${report}")
  endif()
endforeach()
