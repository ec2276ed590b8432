# The progress gauge's tests link the gauge unit only.
if(TARGET veltrane_gauge)
    veltrane_add_test(tst_tgauge SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_tgauge.cpp LIBS veltrane_gauge)
endif()
