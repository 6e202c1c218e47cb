# Base64 decoding of texts from devices and stored rows: strict, and the exact inverse of encoding.
norvo_fuzzer(base64 ${CMAKE_CURRENT_LIST_DIR}/base64_fuzz.cc messaging)
