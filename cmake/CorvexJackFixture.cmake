# A JACK server (dummy backend, unique name) as a CTest fixture.
#
#   corvex_add_jackd_fixture(<fixture> [RATE hz] [PERIOD frames])
#
# registers the tests <fixture>.start and <fixture>.stop and sets, in the caller's scope,
# <fixture>_RUN: a command prefix that runs a program with JACK_DEFAULT_SERVER naming the server.
# A test that needs the server:
#
#   corvex_add_jackd_fixture(my_jack PERIOD 128)
#   add_test(NAME my_test COMMAND ${my_jack_RUN} $<TARGET_FILE:my_program>)
#   set_tests_properties(my_test PROPERTIES FIXTURES_REQUIRED my_jack RESOURCE_LOCK ${CORVEX_JACK_LOCK})
#
# Every test that starts, stops or talks to a JACK server takes the lock CORVEX_JACK_LOCK: a client
# that connects while another server registers itself can be refused (status 0x21), about once in
# three hundred connections here.
#
# Programs that start servers of their own (to kill one, say) can call the script directly:
# CORVEX_JACKD_FIXTURE_SCRIPT, see its usage line.
set(CORVEX_JACKD_FIXTURE_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/../tests/support/jackd-fixture.sh")
cmake_path(NORMAL_PATH CORVEX_JACKD_FIXTURE_SCRIPT)
set(CORVEX_JACK_LOCK corvex_jack)

find_program(CORVEX_JACKD jackd)
find_program(CORVEX_JACK_LSP jack_lsp)

function(corvex_add_jackd_fixture fixture)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "RATE;PERIOD" "")
  if(NOT arg_RATE)
    set(arg_RATE 48000)
  endif()
  if(NOT arg_PERIOD)
    set(arg_PERIOD 256)
  endif()
  set(state "${CMAKE_CURRENT_BINARY_DIR}/${fixture}.jackd")
  add_test(NAME ${fixture}.start
    COMMAND sh "${CORVEX_JACKD_FIXTURE_SCRIPT}" start "${state}" ${arg_RATE} ${arg_PERIOD})
  add_test(NAME ${fixture}.stop COMMAND sh "${CORVEX_JACKD_FIXTURE_SCRIPT}" stop "${state}")
  set_tests_properties(${fixture}.start PROPERTIES FIXTURES_SETUP ${fixture} LABELS jack TIMEOUT 30
    RESOURCE_LOCK ${CORVEX_JACK_LOCK})
  set_tests_properties(${fixture}.stop PROPERTIES FIXTURES_CLEANUP ${fixture} LABELS jack TIMEOUT 30
    RESOURCE_LOCK ${CORVEX_JACK_LOCK})
  set(${fixture}_RUN sh "${CORVEX_JACKD_FIXTURE_SCRIPT}" run "${state}" PARENT_SCOPE)
endfunction()

# True when the machine has what the fixture needs (Debian package jackd2).
if(CORVEX_JACKD AND CORVEX_JACK_LSP)
  set(CORVEX_JACKD_FIXTURE_AVAILABLE TRUE)
else()
  set(CORVEX_JACKD_FIXTURE_AVAILABLE FALSE)
endif()
