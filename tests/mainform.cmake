# The main window, the application object and start-up, driven as a user would under offscreen Qt.
if(TARGET veltrane_app)
    veltrane_add_test(tst_mainform
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainform.cpp ${CMAKE_CURRENT_LIST_DIR}/tst_mainform_runs.cpp
                ${CMAKE_CURRENT_LIST_DIR}/tst_mainform.h
        LIBS veltrane_app veltrane_testsupport)
    veltrane_add_test(tst_app SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_app.cpp LIBS veltrane_app)
endif()
