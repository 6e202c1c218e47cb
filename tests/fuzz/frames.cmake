# The song-stream reader of `norvo frames` against arbitrary bytes in arbitrary pieces.
norvo_fuzzer(frames ${CMAKE_CURRENT_LIST_DIR}/frames_fuzz.cc streaming client-core platform
             messaging)
