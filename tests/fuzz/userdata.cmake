# The stored user-data document parser against arbitrary bytes. The few client-core sources it
# needs are compiled in directly, so the rest of that library cannot stop the fuzzer from building.
norvo_fuzzer(userdata ${CMAKE_CURRENT_SOURCE_DIR}/userdata_fuzz.cc platform messaging
             PkgConfig::TINYXML2)
target_sources(fuzz_userdata PRIVATE ${PROJECT_SOURCE_DIR}/client-core/NorvoWinUtilities.cc
               ${PROJECT_SOURCE_DIR}/client-core/NorvoGlobalContext.cc
               ${PROJECT_SOURCE_DIR}/client-core/NorvoThreadUtil.cc
               ${PROJECT_SOURCE_DIR}/client-core/NorvoLogger.cc)
