// Feeds the stream parser pieces of the input: the first byte gives the piece size (1 to 256).
// Each stanza handed over must serialize to well-formed XML that reads back to the same tree,
// and its addresses must parse without harm.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "messaging/xmpp/constants.h"
#include "messaging/xmpp/jid.h"
#include "messaging/xmpp/xmlparser.h"

namespace {

struct Checker : buzz::XmppStreamParser::Handler {
  void OnStreamStart(const buzz::XmlElement& stream) override { Check(stream); }
  void OnStanza(std::unique_ptr<buzz::XmlElement> stanza) override {
    Check(*stanza);
    const buzz::Jid from(stanza->Attr(buzz::QN_FROM));
    if (from.IsValid() && buzz::Jid(from.Str()) != from) std::abort();
  }
  void OnStreamEnd() override {}
  void OnXmlError(const std::string&) override {
    if (++errors > 1) std::abort();  // reported once
  }
  static void Check(const buzz::XmlElement& elem) {
    const std::string text = elem.Str();
    std::unique_ptr<buzz::XmlElement> back = buzz::XmlElement::ForStr(text);
    if (!back || back->Str() != text) std::abort();
  }
  int errors = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = static_cast<size_t>(data[0]) + 1;
  Checker checker;
  buzz::XmppStreamParser parser(&checker);
  for (size_t i = 1; i < size; i += piece) {
    const size_t n = size - i < piece ? size - i : piece;
    parser.Parse(reinterpret_cast<const char*>(data) + i, n);
  }
  return 0;
}
