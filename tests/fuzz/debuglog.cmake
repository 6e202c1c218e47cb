# The XMPP traffic logger against arbitrary bytes in arbitrary pieces. DebugLog is compiled in
# directly: it needs only the messaging layer.
norvo_fuzzer(debuglog ${CMAKE_CURRENT_SOURCE_DIR}/debuglog_fuzz.cc messaging)
target_sources(fuzz_debuglog PRIVATE ${PROJECT_SOURCE_DIR}/client-core/DebugLog.cc)
