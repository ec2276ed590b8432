# The optimised keystream against a plain reading of its rules: once as the engine builds it, and
# once more with the portable C++ steps that other machines use, so that both stay exact. The two
# suites share one compiled copy of the tests.
add_library(tst_keystream_differential_suite OBJECT tst_keystream_differential.cpp)
veltrane_test_objects(tst_keystream_differential_suite LIBS veltrane_testsupport)
veltrane_add_test(tst_keystream_differential LIBS tst_keystream_differential_suite veltrane_testsupport)
# The portable build compiles the one source that the choice of kernel depends on once more,
# without the machine's own kernels. Its object comes before the engine library on the link line,
# so that the engine's own copy stays out, and with it the kernels that only that copy refers to;
# were that copy pulled in all the same, its symbols would clash with these and the link fail.
set(portable_source ${PROJECT_SOURCE_DIR}/engine/keystreamkernels.cpp)
veltrane_add_test(tst_keystream_differential_portable
    SOURCES ${portable_source} LIBS tst_keystream_differential_suite veltrane_testsupport)
target_compile_definitions(tst_keystream_differential_portable PRIVATE VELTRANE_PORTABLE_KEYSTREAM)
# With the options the engine compiles it with.
get_source_file_property(options ${portable_source} TARGET_DIRECTORY veltrane_engine COMPILE_OPTIONS)
set_source_files_properties(${portable_source} TARGET_DIRECTORY tst_keystream_differential_portable
    PROPERTIES COMPILE_OPTIONS "${options}")
