// XmlElement trees and their serialization, and Jid parsing.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "messaging/xmpp/constants.h"
#include "messaging/xmpp/jid.h"
#include "messaging/xmpp/xmlelement.h"

namespace buzz {
namespace {

TEST(XmlEscapeTest, EscapesAndRepairsText) {
  struct Case {
    std::string in;
    bool attribute;
    std::string out;
  };
  const Case cases[] = {
      {"a<b>&c", false, "a&lt;b&gt;&amp;c"},
      {"say \"hi\" 'x'", false, "say \"hi\" 'x'"},
      {"say \"hi\" 'x'", true, "say &quot;hi&quot; &apos;x&apos;"},
      {"tab\tline\ncr\r", false, "tab\tline\ncr&#13;"},
      {"tab\tline\ncr\r", true, "tab&#9;line&#10;cr&#13;"},
      {"bell\x07null", false, "bellnull"},  // not an XML character: dropped
      {std::string("a\0b", 3), false, "ab"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5", false,
       "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"},
      {"bad\xFFtail", false, "bad\xEF\xBF\xBDtail"},  // stray byte
      {"cut\xC3", false, "cut\xEF\xBF\xBD"},          // truncated sequence
      {"over\xC0\xAFlong", false, "over\xEF\xBF\xBD\xEF\xBF\xBDlong"},
      {"surr\xED\xA0\x80", false, "surr\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xEF\xBF\xBF", false, ""},  // U+FFFF is not a character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(XmlEscape(c.in, c.attribute), c.out) << c.in;
  }
}

TEST(XmlElementTest, SerializesNamespacesOncePerScope) {
  XmlElement iq(QN_IQ);
  iq.SetAttr(QN_TYPE, "get");
  iq.SetAttr(QN_ID, "7");
  XmlElement* query = iq.AddElement(std::make_unique<XmlElement>(QN_ROSTER_QUERY, true));
  query->AddElement(std::make_unique<XmlElement>(QN_ROSTER_ITEM))->SetAttr(QN_JID, "a@b");
  iq.AddElement(new XmlElement(QN_STATUS));  // same namespace as the parent: no declaration
  EXPECT_EQ(iq.Str(),
            "<iq xmlns=\"jabber:client\" type=\"get\" id=\"7\">"
            "<query xmlns=\"jabber:iq:roster\"><item jid=\"a@b\"/></query><status/></iq>");
  // On a stream whose default namespace is jabber:client the stanza declares nothing.
  EXPECT_EQ(iq.StrInContext(NS_CLIENT).substr(0, 24), "<iq type=\"get\" id=\"7\"><q");
  // A child without namespace below a namespaced parent must undeclare the default.
  XmlElement outer(QName("urn:x", "outer"));
  outer.AddElement(std::make_unique<XmlElement>(QName("", "inner")));
  EXPECT_EQ(outer.Str(), "<outer xmlns=\"urn:x\"><inner xmlns=\"\"/></outer>");
}

TEST(XmlElementTest, NamespacedAttributesGetPrefixes) {
  XmlElement auth(QN_SASL_AUTH);
  auth.SetAttr(QN_MECHANISM, "X-OAUTH2");
  auth.SetAttr(QN_GOOGLE_AUTH_SERVICE, "oauth2");
  auth.SetAttr(QN_XML_LANG, "en");
  auth.SetAttr(QName("urn:other", "flag"), "1");
  const std::string text = auth.Str();
  EXPECT_EQ(text,
            "<auth xmlns=\"urn:ietf:params:xml:ns:xmpp-sasl\""
            " xmlns:ga=\"http://www.google.com/talk/protocol/auth\" xmlns:ns2=\"urn:other\""
            " mechanism=\"X-OAUTH2\" ga:service=\"oauth2\" xml:lang=\"en\" ns2:flag=\"1\"/>");
  // What we write reads back as the same names.
  std::unique_ptr<XmlElement> back = XmlElement::ForStr(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Name(), QN_SASL_AUTH);
  EXPECT_EQ(back->Attr(QN_GOOGLE_AUTH_SERVICE), "oauth2");
  EXPECT_EQ(back->Attr(QN_XML_LANG), "en");
  EXPECT_EQ(back->Attr(QName("urn:other", "flag")), "1");
  EXPECT_FALSE(back->HasAttr(QName("", "service")));
}

TEST(XmlElementTest, RoundTripKeepsTextAndStructure) {
  const std::string text =
      "<message xmlns=\"jabber:client\" to=\"a@b/c\" type=\"chat\">"
      "<body>1 &lt; 2 &amp;&amp; &quot;x&quot; caf\xC3\xA9</body>"
      "<x xmlns=\"jabber:x:delay\" stamp=\"20260101T00:00:00\"/>mixed<thread>t</thread></message>";
  std::unique_ptr<XmlElement> msg = XmlElement::ForStr(text);
  ASSERT_TRUE(msg);
  EXPECT_EQ(msg->TextNamed(QN_BODY), "1 < 2 && \"x\" caf\xC3\xA9");
  EXPECT_EQ(msg->FirstNamed(QN_DELAY_X)->Attr(QN_STAMP), "20260101T00:00:00");
  EXPECT_EQ(msg->BodyText(), "mixed");
  std::unique_ptr<XmlElement> again = XmlElement::ForStr(msg->Str());
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Str(), msg->Str());
  XmlElement copy(*msg);
  EXPECT_EQ(copy.Str(), msg->Str());

  // Hostile values set by the program still produce a document that reads back.
  XmlElement presence(QN_PRESENCE);
  presence.SetAttr(QN_TO, "x\"/><evil a='1");
  presence.AddElementWithText(QN_STATUS, "</status><iq>\x01\xFF");
  std::unique_ptr<XmlElement> parsed = XmlElement::ForStr(presence.Str());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->Attr(QN_TO), "x\"/><evil a='1");
  EXPECT_EQ(parsed->TextNamed(QN_STATUS), "</status><iq>\xEF\xBF\xBD");
  EXPECT_EQ(parsed->FirstNamed(QN_IQ), nullptr);
}

TEST(XmlElementTest, EditsAndNavigation) {
  XmlElement e(QN_PRESENCE);
  e.SetAttr(QN_TYPE, "a");
  e.SetAttr(QN_TO, "b");
  e.SetAttr(QN_TYPE, "c");  // replaced in place, order kept
  ASSERT_EQ(e.Attributes().size(), 2u);
  EXPECT_EQ(e.Attributes()[0].value, "c");
  e.ClearAttr(QN_TYPE);
  EXPECT_FALSE(e.HasAttr(QN_TYPE));
  EXPECT_EQ(e.Attr(QN_TYPE), "");

  e.AddElementWithText(QN_SHOW, "away");
  e.AddText("t1");
  e.AddText("t2");  // merged into one run
  e.AddElementWithText(QN_STATUS, "s1");
  e.AddElementWithText(QN_STATUS, "s2");
  EXPECT_EQ(e.BodyText(), "t1t2");
  const XmlElement* status = e.FirstNamed(QN_STATUS);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->NextNamed(QN_STATUS)->BodyText(), "s2");
  EXPECT_EQ(e.FirstElement()->NextElement(), status);
  std::unique_ptr<XmlElement> removed = e.RemoveFirstNamed(QN_STATUS);
  ASSERT_TRUE(removed);
  EXPECT_EQ(e.TextNamed(QN_STATUS), "s2");
  e.RemoveFirstNamed(QN_STATUS);
  e.AddElementWithText(QN_PRIORITY, "1");  // appending after removing the last child
  EXPECT_EQ(e.StrInContext(NS_CLIENT),
            "<presence to=\"b\"><show>away</show>t1t2<priority>1</priority></presence>");
  e.SetBodyText("only");
  EXPECT_EQ(e.FirstElement(), nullptr);
  EXPECT_EQ(e.BodyText(), "only");
}

TEST(XmlElementTest, ForStrRefusesWhatIsNotOneDocument) {
  const char* bad[] = {"",
                       "<a>",
                       "<a></b>",
                       "<a/><b/>",
                       "<p:a/>",
                       "text",
                       "<!DOCTYPE a [<!ENTITY x 'y'>]><a>&x;</a>",
                       "<a>&undefined;</a>",
                       "<?pi x?><a/>",
                       "<a x='1' x='2'/>"};
  for (const char* text : bad) EXPECT_FALSE(XmlElement::ForStr(text)) << text;
}

TEST(JidTest, ParsesAndValidates) {
  struct Case {
    std::string in;
    bool valid;
    std::string node = "", domain = "", resource = "", str = "";
  };
  const std::string long_node(1024, 'a');
  const Case cases[] = {
      {"alice@example.com/norvo.pc", true, "alice", "example.com", "norvo.pc",
       "alice@example.com/norvo.pc"},
      {"Alice@Example.COM/Res", true, "alice", "example.com", "Res", "alice@example.com/Res"},
      {"example.com", true, "", "example.com", "", "example.com"},
      {"example.com/r", true, "", "example.com", "r", "example.com/r"},
      {"a@example.com./r", true, "a", "example.com", "r", "a@example.com/r"},
      {"a@b/c/d@e", true, "a", "b", "c/d@e", "a@b/c/d@e"},  // the resource takes the rest
      {"a@127.0.0.1", true, "a", "127.0.0.1", "", "a@127.0.0.1"},
      {"a@[::1]/r", true, "a", "[::1]", "r", "a@[::1]/r"},
      {"a@localhost", true, "a", "localhost", "", "a@localhost"},
      {"", false},
      {"@example.com", false},
      {"a@", false},
      {"a@example.com/", false},
      {"a b@example.com", false},
      {"a:b@example.com", false},
      {"a@b@example.com", false},
      {"a@exa mple.com", false},
      {"a@-bad.com", false},
      {"a@bad..com", false},
      {"a@[nothex]", false},
      {"a@example.com/re\x01s", false},
      {long_node + "@example.com", false},
  };
  for (const Case& c : cases) {
    const Jid jid(c.in);
    EXPECT_EQ(jid.IsValid(), c.valid) << c.in;
    if (!c.valid) {
      EXPECT_TRUE(jid.IsEmpty()) << c.in;
      EXPECT_EQ(jid.Str(), "") << c.in;
      continue;
    }
    EXPECT_EQ(jid.node(), c.node) << c.in;
    EXPECT_EQ(jid.domain(), c.domain) << c.in;
    EXPECT_EQ(jid.resource(), c.resource) << c.in;
    EXPECT_EQ(jid.Str(), c.str) << c.in;
  }
}

TEST(JidTest, ComparesAndStripsResource) {
  const Jid full("Alice@Example.com/Phone");
  const Jid other("alice@example.com/phone");
  EXPECT_NE(full, other);  // resources are case sensitive
  EXPECT_TRUE(full.BareEquals(other));
  EXPECT_EQ(full.BareJid(), Jid("alice@EXAMPLE.com"));
  EXPECT_TRUE(full.IsFull());
  EXPECT_TRUE(full.BareJid().IsBare());
  EXPECT_EQ(Jid("alice", "example.com", "r"), Jid("alice@example.com/r"));
  EXPECT_FALSE(Jid("a@b", "example.com", "").IsValid());  // parts are checked too
  EXPECT_LT(Jid("a@a.com"), Jid("a@b.com"));
  EXPECT_EQ(Jid("a@b/c").Compare(Jid("a@b/c")), 0);
  EXPECT_FALSE(Jid().IsValid());
}

}  // namespace
}  // namespace buzz
