# The installed tree of the program and the tool: what `cmake --install` puts where the desktop
# looks for it, checked as scripts/package checks the Debian packages; and the desktop entry and
# the file managers' actions, each read as its reader reads it.
if(TARGET veltrane)
    add_test(NAME tst_install
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tst_install ${PROJECT_BINARY_DIR} ${VELTRANE_APP_ID} ${PROJECT_VERSION})
    set_tests_properties(tst_install PROPERTIES
        ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
        TIMEOUT 120)
    add_test(NAME tst_filemanagers
             COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/tst_filemanagers.py ${PROJECT_BINARY_DIR} ${VELTRANE_APP_ID})
    set_tests_properties(tst_filemanagers PROPERTIES TIMEOUT 60)
endif()
