# The About window, linking the About unit only.
if(TARGET veltrane_about)
    veltrane_add_test(tst_taboutbox SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_taboutbox.cpp LIBS veltrane_about)
endif()
