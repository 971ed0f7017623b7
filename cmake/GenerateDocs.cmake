# cmake -DPROGRAM=... -DMAN_PAGE=.../velmora.1.gz -DCOMPLETION=... -P GenerateDocs.cmake
# Writes the man page (compressed, as installed) and the bash completion that
# the program prints from its command table.
get_filename_component(man_dir ${MAN_PAGE} DIRECTORY)
get_filename_component(completion_dir ${COMPLETION} DIRECTORY)
file(MAKE_DIRECTORY ${man_dir} ${completion_dir})
string(REGEX REPLACE "\\.gz$" "" man_plain ${MAN_PAGE})
execute_process(COMMAND ${PROGRAM} help --man OUTPUT_FILE ${man_plain} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} help --man failed: ${rc}")
endif()
execute_process(COMMAND gzip -9nf ${man_plain} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip ${man_plain} failed: ${rc}")
endif()
execute_process(COMMAND ${PROGRAM} help --completion OUTPUT_FILE ${COMPLETION} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} help --completion failed: ${rc}")
endif()
