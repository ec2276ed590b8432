# The optimised keystream against a plain reading of its rules: once as the engine builds it, and
# once more with the portable C++ steps that other machines use, so that both stay exact.
veltrane_add_test(tst_keystream_differential SOURCES tst_keystream_differential.cpp LIBS veltrane_testsupport)
# The portable build compiles the whole engine once more, so that the passes over files run on the
# portable steps too; the test support is compiled with it rather than linked with the engine.
get_target_property(engine_sources veltrane_engine SOURCES)
list(TRANSFORM engine_sources PREPEND ${PROJECT_SOURCE_DIR}/engine/)
get_target_property(support_sources veltrane_testsupport SOURCES)
veltrane_add_test(tst_keystream_differential_portable
    SOURCES tst_keystream_differential.cpp ${support_sources} ${engine_sources})
target_compile_definitions(tst_keystream_differential_portable PRIVATE VELTRANE_PORTABLE_KEYSTREAM)
get_target_property(optimised_sources veltrane_engine VELTRANE_OPTIMISED_SOURCES)
set_source_files_properties(${optimised_sources}
    TARGET_DIRECTORY tst_keystream_differential_portable PROPERTIES COMPILE_OPTIONS "-O2")
