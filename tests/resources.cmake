# The pictures, loaded from the resource set of a plain link of the resources unit.
if(TARGET veltrane_resources)
    veltrane_add_test(tst_resources SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_resources.cpp LIBS veltrane_resources)
endif()
