# A device's browse and play uris against a small library, and the reply body that echoes them.
norvo_fuzzer(library_browse ${CMAKE_CURRENT_LIST_DIR}/library_browse_fuzz.cc client-core
             platform messaging)
