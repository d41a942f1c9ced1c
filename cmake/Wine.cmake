# Test runs under Wine: the emulator wrapper and the prefix's setup and
# teardown, as a ctest fixture that every Windows test requires, so one
# wineserver serves the whole run.
foreach(f env.sh run.sh setup.sh teardown.sh settings.reg)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine/${f} ${CMAKE_BINARY_DIR}/wine/${f} COPYONLY)
endforeach()

add_test(NAME wine_setup COMMAND sh ${CMAKE_BINARY_DIR}/wine/setup.sh)
set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine)
add_test(NAME wine_teardown COMMAND sh ${CMAKE_BINARY_DIR}/wine/teardown.sh)
set_tests_properties(wine_teardown PROPERTIES FIXTURES_CLEANUP wine)
