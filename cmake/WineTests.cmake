# Running Windows test programs under Wine, in a prefix of the build's own.
set(QORN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for tests")
set(QORN_WINE_ENV
    WINEPREFIX=${QORN_WINEPREFIX}
    WINEDEBUG=-all
    WINEDLLOVERRIDES=bluetoothapis=n)

# Registers a test that runs TARGET under Wine from the bin folder; the prefix is
# created (once) by the wine_prefix fixture, which also copies the stand-ins for
# Windows' own DLLs into its system32 before every run.
function(qorn_add_wine_test name target)
  add_test(NAME ${name} COMMAND ${target} ${ARGN} WORKING_DIRECTORY ${QORN_BIN_DIR})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "${QORN_WINE_ENV}"
    FIXTURES_REQUIRED wine_prefix)
endfunction()

function(qorn_add_wine_prefix_fixture)
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh ${QORN_WINEPREFIX}
                   ${QORN_SYSTEM32_STAGE})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix)
endfunction()

# Registers a test that runs a Windows program built outside CMake's own targets.
function(qorn_add_wine_program_test name program)
  add_test(NAME ${name} COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${program} ${ARGN}
           WORKING_DIRECTORY ${QORN_BIN_DIR})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "${QORN_WINE_ENV}"
    FIXTURES_REQUIRED wine_prefix)
endfunction()
