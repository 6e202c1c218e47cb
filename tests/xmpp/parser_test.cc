// The incremental stream parser: the same stanzas whatever the pieces, and errors for bad input.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "messaging/xmpp/constants.h"
#include "messaging/xmpp/xmlparser.h"

namespace buzz {
namespace {

// A server's side of a stream, as recorded: header, features, stanzas with nested namespaces,
// entities, CDATA, multi-byte text, white-space keep-alives, and the end.
const char kRecordedStream[] =
    "<?xml version='1.0'?>"
    "<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams' "
    "id='s1' from='localhost' version='1.0' xml:lang='en'>"
    "<stream:features><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/>"
    "<session xmlns='urn:ietf:params:xml:ns:xmpp-session'><optional/></session></stream:features>"
    "<iq type='result' id='1'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
    "<jid>hub@localhost/norvo.pc</jid></bind></iq>\n \n"
    "<presence from='dev@localhost/phone'><show>away</show><status>caf\xC3\xA9 &amp; \xE2\x99\xAA"
    "</status><c xmlns='http://jabber.org/protocol/caps' node='n' ver='1' ext='share-v1'/>"
    "<norvo xmlns='norvo:device' device-name='Pixel &quot;7&quot;'/></presence>"
    "<message to='hub@localhost' type='chat'><body><![CDATA[<raw> & text]]></body></message>"
    "<iq xmlns:p='urn:x' type='get' id='q&lt;2' p:flag='on'><p:query><p:deep><p:er/></p:deep>"
    "</p:query></iq> "
    "</stream:stream>";

struct Recorder : XmppStreamParser::Handler {
  void OnStreamStart(const XmlElement& stream) override {
    events.push_back("start:" + stream.Str());
  }
  void OnStanza(std::unique_ptr<XmlElement> stanza) override {
    events.push_back(stanza->StrInContext(NS_CLIENT));
  }
  void OnStreamEnd() override { events.push_back("end"); }
  void OnXmlError(const std::string& message) override { errors.push_back(message); }
  std::vector<std::string> events;
  std::vector<std::string> errors;
};

std::vector<std::string> ParseInPieces(const std::string& stream, size_t piece) {
  Recorder r;
  XmppStreamParser parser(&r);
  for (size_t i = 0; i < stream.size(); i += piece) {
    parser.Parse(stream.data() + i, std::min(piece, stream.size() - i));
  }
  EXPECT_TRUE(r.errors.empty()) << "piece " << piece << ": " << r.errors.front();
  return r.events;
}

TEST(XmppStreamParserTest, SameStanzasWhateverThePieces) {
  const std::string stream = kRecordedStream;
  const std::vector<std::string> whole = ParseInPieces(stream, stream.size());
  ASSERT_EQ(whole.size(), 7u);  // the header, the features, four stanzas, the end
  EXPECT_EQ(whole.front().substr(0, 21), "start:<stream xmlns=\"");
  EXPECT_EQ(whole[2],
            "<iq type=\"result\" id=\"1\"><bind xmlns=\"urn:ietf:params:xml:ns:xmpp-bind\">"
            "<jid>hub@localhost/norvo.pc</jid></bind></iq>");
  EXPECT_EQ(whole[4],
            "<message to=\"hub@localhost\" type=\"chat\"><body>&lt;raw&gt; &amp; text</body>"
            "</message>");
  EXPECT_EQ(whole[5],
            "<iq xmlns:ns1=\"urn:x\" type=\"get\" id=\"q&lt;2\" ns1:flag=\"on\">"
            "<query xmlns=\"urn:x\"><deep><er/></deep></query></iq>");
  EXPECT_EQ(whole.back(), "end");
  for (size_t piece : {1, 2, 3, 5, 7, 16, 64, 100, 4096}) {
    EXPECT_EQ(ParseInPieces(stream, piece), whole) << "piece " << piece;
  }
  // And every split of the stream in two.
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    Recorder r;
    XmppStreamParser parser(&r);
    parser.Parse(stream.data(), cut);
    parser.Parse(stream.data() + cut, stream.size() - cut);
    ASSERT_EQ(r.events, whole) << "cut at " << cut;
  }
}

TEST(XmppStreamParserTest, ReportsMalformedInputOnce) {
  const std::string header =
      "<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams'>";
  std::string deep = header;
  for (int i = 0; i < XmppStreamParser::kMaxDepth; ++i) deep += "<a>";
  struct Case {
    const char* name;
    std::string input;
  };
  const Case cases[] = {
      {"garbage", "HTTP/1.1 400 Bad Request\r\n\r\n"},
      {"mismatched tag", header + "<iq></presence>"},
      {"unbound prefix", header + "<x:iq/>"},
      {"bad utf-8", header + "<message><body>\xFF\xFE</body></message>"},
      {"doctype", "<!DOCTYPE stream [<!ENTITY a 'aaaa'>]>" + header},
      {"processing instruction", header + "<?evil?>"},
      {"undefined entity", header + "<message>&lol;</message>"},
      {"junk after the end", header + "</stream:stream><iq/>"},
      {"nested too deeply", deep},
  };
  for (const Case& c : cases) {
    const std::string& input = c.input;
    Recorder r;
    XmppStreamParser parser(&r);
    parser.Parse(input.data(), input.size());
    parser.Parse("<iq/>", 5);  // ignored after the failure
    EXPECT_EQ(r.errors.size(), 1u) << c.name;
    EXPECT_TRUE(parser.failed()) << c.name;
  }
}

TEST(XmppStreamParserTest, RefusesAnOversizedStanzaWithoutBufferingIt) {
  Recorder r;
  XmppStreamParser parser(&r);
  const std::string header =
      "<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams'>"
      "<message><body>";
  parser.Parse(header.data(), header.size());
  const std::string chunk(64 * 1024, 'x');
  size_t fed = 0;
  while (!parser.failed() && fed < 4 * XmppStreamParser::kMaxStanzaBytes) {
    parser.Parse(chunk.data(), chunk.size());
    fed += chunk.size();
  }
  EXPECT_TRUE(parser.failed());
  EXPECT_LE(fed, XmppStreamParser::kMaxStanzaBytes + chunk.size());
  ASSERT_EQ(r.errors.size(), 1u);
  // Many small stanzas in one large piece are fine.
  Recorder ok;
  XmppStreamParser many(&ok);
  std::string big =
      "<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams'>";
  while (big.size() < 3 * XmppStreamParser::kMaxStanzaBytes) big += "<presence/>";
  many.Parse(big.data(), big.size());
  EXPECT_TRUE(ok.errors.empty());
}

// A handler that restarts the stream from inside a callback, as SASL success does; the bytes
// after the element in the same piece belong to the new document.
struct Restarter : Recorder {
  XmppStreamParser* parser = nullptr;
  void OnStanza(std::unique_ptr<XmlElement> stanza) override {
    const bool restart = stanza->Name() == QN_SASL_SUCCESS;
    Recorder::OnStanza(std::move(stanza));
    if (restart) parser->Reset();
  }
};

TEST(XmppStreamParserTest, ResetInsideACallbackStartsANewDocument) {
  const std::string stream =
      "<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams'>"
      "<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>"
      "<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams' "
      "id='second'><presence/>";
  for (size_t piece : {size_t{1}, size_t{9}, stream.size()}) {
    Restarter r;
    XmppStreamParser parser(&r);
    r.parser = &parser;
    for (size_t i = 0; i < stream.size(); i += piece) {
      parser.Parse(stream.data() + i, std::min(piece, stream.size() - i));
    }
    EXPECT_TRUE(r.errors.empty()) << piece;
    ASSERT_EQ(r.events.size(), 4u) << piece;
    EXPECT_NE(r.events[2].find("id=\"second\""), std::string::npos) << piece;
    EXPECT_EQ(r.events[3], "<presence/>") << piece;
  }
}

}  // namespace
}  // namespace buzz
