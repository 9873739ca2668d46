# Install step: the release's manifest must be given and accepted by orvek-payloads exactly as
# the application will read it; the font must be there. Nothing is installed otherwise.

# Indented lines are printed as they are, so a sentence is never broken across lines.
function(orvek_refuse text)
  string(REPLACE "\n" "\n  " text "${text}")
  message(FATAL_ERROR "\n  ${text}\n")
endfunction()

if(ORVEK_PAYLOADS STREQUAL "")
  orvek_refuse("Нет манифеста выпуска: соберите его orvek-payloads и укажите -DORVEK_PAYLOADS=FILE.")
endif()
if(NOT EXISTS "${ORVEK_PAYLOADS}" OR IS_DIRECTORY "${ORVEK_PAYLOADS}")
  orvek_refuse("Манифеста выпуска нет: ${ORVEK_PAYLOADS}")
endif()
set(orvek_check "${ORVEK_PAYLOADS_TOOL}" --check "${ORVEK_PAYLOADS}")
# Only the tests bring an archive of their own, with its hash as the pin.
if(DEFINED ORVEK_PAYLOADS_PIN_FOR_TESTING)
  list(APPEND orvek_check --archive-pin-for-testing "${ORVEK_PAYLOADS_PIN_FOR_TESTING}")
endif()
execute_process(COMMAND ${orvek_check} RESULT_VARIABLE orvek_status
  OUTPUT_VARIABLE orvek_output ERROR_VARIABLE orvek_output)
if(NOT orvek_status EQUAL 0)
  string(STRIP "${orvek_output}" orvek_output)
  orvek_refuse("Манифест выпуска ${ORVEK_PAYLOADS} не принят:\n${orvek_output}")
endif()
if(NOT ORVEK_PROMO STREQUAL "" AND NOT EXISTS "${ORVEK_PROMO}")
  orvek_refuse("Файла акции нет: ${ORVEK_PROMO}")
endif()
if(NOT EXISTS "${ORVEK_FONT_FILE}")
  orvek_refuse("Нет шрифта Onest (${ORVEK_FONT_FILE}): запустите scripts/bootstrap.")
endif()
