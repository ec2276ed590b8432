# The help window, linking the help unit only.
if(TARGET veltrane_help)
    veltrane_add_test(tst_thelpform SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_thelpform.cpp LIBS veltrane_help)
endif()
