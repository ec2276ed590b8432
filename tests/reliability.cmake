# Reliability: faults injected into real files, bad input, and load. Engine only, Qt Test as harness.
veltrane_add_test(tst_faultmatrix SOURCES tst_faultmatrix.cpp LIBS veltrane_testsupport)
veltrane_add_test(tst_badinput SOURCES tst_badinput.cpp LIBS veltrane_testsupport)
target_compile_definitions(tst_badinput PRIVATE VELTRANE_CLI_PATH="$<TARGET_FILE:veltrane-cli>")
add_dependencies(tst_badinput veltrane-cli)
# Hundreds of simultaneous pairs of the tool in one function: minutes in the sanitized build on a
# busy machine, beyond Qt Test's five minutes per function.
set_property(TEST tst_badinput APPEND PROPERTY ENVIRONMENT "QTEST_FUNCTION_TIMEOUT=900000")
set_property(TEST tst_badinput PROPERTY TIMEOUT 1200)
# A run of the command-line tool over 10,000 files.
veltrane_add_test(tst_load SOURCES tst_load.cpp LIBS veltrane_testsupport)
target_compile_definitions(tst_load PRIVATE VELTRANE_CLI_PATH="$<TARGET_FILE:veltrane-cli>")
add_dependencies(tst_load veltrane-cli)
set_property(TEST tst_load APPEND PROPERTY ENVIRONMENT "QTEST_FUNCTION_TIMEOUT=900000")
# The same faults and bad entries met by the window's runs.
if(TARGET veltrane_app)
    veltrane_add_test(tst_reliabilitywindow SOURCES tst_reliabilitywindow.cpp LIBS veltrane_app veltrane_testsupport)
endif()
# What a power cut or a kill at every step of a command leaves, and what the next command makes of it.
veltrane_add_test(tst_crashstates SOURCES tst_crashstates.cpp LIBS veltrane_testsupport)
