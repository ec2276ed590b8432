# Tests of the cipher engine and of veltrane-cli. They link the engine (and the tool's parts) only; Qt Test
# is the harness.
veltrane_add_test(tst_keystream SOURCES tst_keystream.cpp LIBS veltrane_engine)
veltrane_add_test(tst_blockpass SOURCES tst_blockpass.cpp LIBS veltrane_testsupport)
# Enciphers and deciphers a sparse file over 4 GiB: give its test function more than Qt Test's
# default five minutes on a slow machine.
set_property(TEST tst_blockpass APPEND PROPERTY ENVIRONMENT "QTEST_FUNCTION_TIMEOUT=900000")
# The sanitized builds leave the file above 4 GiB out (minutes of the disk's time there, and many times
# slower under ThreadSanitizer): the thorough tier runs it under AddressSanitizer by hand, and the
# sanitizers watch the pass over the smaller files. VELTRANE_SKIP_LARGE_FILES=1 skips it anywhere.
if(VELTRANE_SANITIZE)
    set_property(TEST tst_blockpass APPEND PROPERTY ENVIRONMENT "VELTRANE_SKIP_LARGE_FILES=1")
endif()
veltrane_add_test(tst_filelayout SOURCES tst_filelayout.cpp LIBS veltrane_testsupport)
veltrane_add_test(tst_cli SOURCES tst_cli.cpp LIBS veltrane_cli veltrane_testsupport)
target_compile_definitions(tst_cli PRIVATE VELTRANE_CLI_PATH="$<TARGET_FILE:veltrane-cli>" VELTRANE_VERSION="${PROJECT_VERSION}")
add_dependencies(tst_cli veltrane-cli)
veltrane_add_test(tst_currentfile SOURCES tst_currentfile.cpp LIBS veltrane_testsupport)
veltrane_add_test(tst_keybytes SOURCES tst_keybytes.cpp LIBS veltrane_engine)
veltrane_add_test(tst_fileexists SOURCES tst_fileexists.cpp LIBS veltrane_engine)
veltrane_add_test(tst_partwaystate SOURCES tst_partwaystate.cpp LIBS veltrane_testsupport)
