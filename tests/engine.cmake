# Tests of the cipher engine and of veltrane-cli. They link the engine only; Qt Test is the harness.
veltrane_add_test(tst_keystream SOURCES tst_keystream.cpp LIBS veltrane_engine)
