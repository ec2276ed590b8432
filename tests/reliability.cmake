# Reliability: faults injected into real files, bad input, and load. Engine only, Qt Test as harness.
veltrane_add_test(tst_faultmatrix SOURCES tst_faultmatrix.cpp support/reliabilitysupport.h enginetestsupport.h
                  LIBS veltrane_engine)
veltrane_add_test(tst_badinput SOURCES tst_badinput.cpp support/reliabilitysupport.h enginetestsupport.h
                  LIBS veltrane_engine)
target_compile_definitions(tst_badinput PRIVATE VELTRANE_CLI_PATH="$<TARGET_FILE:veltrane-cli>")
add_dependencies(tst_badinput veltrane-cli)
