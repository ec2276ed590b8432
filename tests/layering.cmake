# The layering, enforced: the engine includes no Qt and no header of the window or the tool and refers
# to no Qt symbol, and the window and the tool include none of the engine's private headers
# (scripts/check-layering; the rule is in CONTRIBUTING.md).
add_test(NAME tst_layering
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-layering ${PROJECT_SOURCE_DIR} $<TARGET_FILE:veltrane_engine>
                 $<TARGET_PROPERTY:veltrane_engine,LINK_LIBRARIES>)
set_tests_properties(tst_layering PROPERTIES LABELS quick TIMEOUT 60)
