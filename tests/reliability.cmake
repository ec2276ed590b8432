# Reliability: faults injected into real files, bad input, and load. Engine only, Qt Test as harness.
veltrane_add_test(tst_faultmatrix SOURCES tst_faultmatrix.cpp support/reliabilitysupport.h enginetestsupport.h
                  LIBS veltrane_engine)
