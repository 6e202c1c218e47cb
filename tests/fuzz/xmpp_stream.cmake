# The XMPP stream parser against arbitrary bytes in arbitrary pieces; every stanza it hands over
# must serialize to a document that parses back to the same text.
norvo_fuzzer(xmpp_stream ${CMAKE_CURRENT_LIST_DIR}/xmpp_stream_fuzz.cc messaging)
