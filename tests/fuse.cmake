# The power-cut layer: a FUSE file system that keeps files in memory and, at a power cut, keeps any
# subset of the pages not yet synced (tests/fuse). Its model of the disk is tested everywhere; the layer
# itself and its rounds of real commands cut at random moments need libfuse3 (tests/fuse/setup installs
# it for the thorough tier) and run in the thorough tier only (label `thorough`, VELTRANE_THOROUGH=1).
veltrane_add_test(tst_powercutfile SOURCES fuse/tst_powercutfile.cpp fuse/powercutfile.cpp fuse/powercutfile.h)

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(FUSE3 QUIET IMPORTED_TARGET fuse3)
endif()
if(NOT FUSE3_FOUND)
    return()
endif()

add_executable(powercutfs fuse/powercutfs.cpp fuse/powercutlayer.cpp fuse/powercutlayer.h fuse/powercutfile.cpp
                          fuse/powercutfile.h)
target_link_libraries(powercutfs PRIVATE veltrane_options PkgConfig::FUSE3)
target_include_directories(powercutfs PRIVATE ${PROJECT_SOURCE_DIR})
set_target_properties(powercutfs PROPERTIES AUTOMOC OFF)

add_test(NAME powercut_rounds
         COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/fuse/powercutrounds.py $<TARGET_FILE:powercutfs> $<TARGET_FILE:veltrane-cli>)
set_tests_properties(powercut_rounds PROPERTIES LABELS thorough SKIP_RETURN_CODE 77 TIMEOUT 1800)
if(VELTRANE_SANITIZE)
    set_property(TEST powercut_rounds PROPERTY ENVIRONMENT "VELTRANE_FEWER_ROUNDS=1")
endif()
