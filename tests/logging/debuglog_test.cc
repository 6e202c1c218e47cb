#include <regex>
#include <string>
#include <vector>

#include "client-core/DebugLog.h"
#include "messaging/base/logging.h"
#include "tests/logging/log_capture.h"

namespace {

using logtest::LogTest;

struct Piece {
  bool sent;
  std::string bytes;
};

struct Case {
  const char* name;
  std::vector<Piece> pieces;
  // The lines written, without their "Warning(DebugLog.cc:N): " part; "RECV" and "SEND" stand
  // for the header lines, whose time varies.
  std::vector<std::string> lines;
  std::string pending_input;
  std::string pending_output;
};

class DebugLogTest : public LogTest {
 protected:
  // The text of each captured line; headers are checked for their form and reduced to
  // "RECV"/"SEND".
  std::vector<std::string> Texts() {
    const std::regex position(R"(^Warning\(DebugLog\.cc:\d+\): )");
    const std::regex header(
        R"(^(RECV <<<<<<<<<<<<<<<<|SEND >>>>>>>>>>>>>>>>) : \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}$)");
    std::vector<std::string> texts;
    for (const std::string& line : lines_) {
      std::smatch m;
      EXPECT_TRUE(std::regex_search(line, m, position)) << line;
      std::string text = m.suffix().str();
      std::smatch h;
      if (std::regex_match(text, h, header)) text = h[1].str().substr(0, 4);
      texts.push_back(text);
    }
    return texts;
  }
};

TEST_F(DebugLogTest, PiecesGiveWholeTagsAndTexts) {
  const Case cases[] = {
      {"whole stanza",
       {{false, "<message to=\"a@b/c\"><body>hi there</body></message>"}},
       {"RECV", "   <message to=\"a@b/c\">", "     <body>", "       hi there", "     </body>",
        "   </message>"},
       "",
       ""},
      {"self-closing tags keep the indentation",
       {{true, "<presence><show/><priority>0</priority></presence>"}},
       {"SEND", "   <presence>", "     <show/>", "     <priority>", "       0", "     </priority>",
        "   </presence>"},
       "",
       ""},
      {"a tag split across pieces is held back, indentation restarts per piece",
       {{false, "<message><bo"}, {false, "dy>hi</body></message>"}},
       {"RECV", "   <message>", "RECV", "   <body>", "     hi", "   </body>", " </message>"},
       "",
       ""},
      {"a trailing text waits for the next tag",
       {{false, "<body>hel"}, {false, "lo</body>"}},
       {"RECV", "   <body>", "RECV", "   hello", " </body>"},
       "",
       ""},
      {"closing tags only: indentation goes below zero",
       {{false, "</a></b></c>"}},
       {"RECV", " </a>", "</b>", "</c>"},
       "",
       ""},
      {"directions keep separate tails",
       {{true, "<iq type='get'><qu"}, {false, "<r/><x"}, {true, "ery/></iq>"}},
       {"SEND", "   <iq type='get'>", "RECV", "   <r/>", "SEND", "   <query/>", " </iq>"},
       "<x",
       ""},
      {"an incomplete piece prints only its header",
       {{false, "<stream:stream xmlns='jabber:client'"}},
       {"RECV"},
       "<stream:stream xmlns='jabber:client'",
       ""},
      {"an empty piece with nothing pending prints nothing", {{false, ""}, {true, ""}}, {}, "", ""},
      {"an empty piece with a tail repeats the header only",
       {{true, "<a"}, {true, ""}},
       {"SEND", "SEND"},
       "",
       "<a"},
      {"whitespace between stanzas is a text",
       {{false, "<a/> <b/>"}},
       {"RECV", "   <a/>", "    ", "   <b/>"},
       "",
       ""},
      {"a '>' inside text ends a tag-like piece",
       {{false, "<p>1 > 0</p>"}},
       {"RECV", "   <p>", "     1 >", "        0", "     </p>"},
       "",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lines_.clear();
    talk_base::LogMessage::Reset();
    Capture(talk_base::LS_WARNING);
    DebugLog log;
    for (const Piece& p : c.pieces) {
      if (p.sent) {
        log.Output(p.bytes.data(), static_cast<int>(p.bytes.size()));
      } else {
        log.Input(p.bytes.data(), static_cast<int>(p.bytes.size()));
      }
    }
    EXPECT_EQ(Texts(), c.lines);
    EXPECT_EQ(log.PendingInput(), c.pending_input);
    EXPECT_EQ(log.PendingOutput(), c.pending_output);
  }
}

TEST_F(DebugLogTest, StanzaFedByteByByteComesOutWhole) {
  Capture(talk_base::LS_WARNING);
  const std::string stanza = "<iq id='1'><ping xmlns='urn:xmpp:ping'/></iq>";
  DebugLog log;
  for (char ch : stanza) log.Input(&ch, 1);
  std::vector<std::string> tags;
  for (const std::string& t : Texts()) {
    if (t != "RECV") tags.push_back(t.substr(t.find('<')));
  }
  EXPECT_EQ(tags,
            (std::vector<std::string>{"<iq id='1'>", "<ping xmlns='urn:xmpp:ping'/>", "</iq>"}));
  EXPECT_EQ(log.PendingInput(), "");
}

TEST_F(DebugLogTest, NothingBelowTheTrafficLevel) {
  // At error level the traffic is not recorded, and no tail is kept either.
  talk_base::LogMessage::ConfigureLogging("error", nullptr);
  Capture(talk_base::LS_ERROR);
  DebugLog log;
  log.Input("<a><b", 5);
  EXPECT_TRUE(lines_.empty());
  EXPECT_EQ(log.PendingInput(), "");
}

TEST_F(DebugLogTest, BadArgumentsAreIgnored) {
  Capture(talk_base::LS_WARNING);
  DebugLog log;
  log.Input(nullptr, 10);
  log.Output("<a>", -3);
  EXPECT_TRUE(lines_.empty());
  EXPECT_EQ(log.PendingInput(), "");
  EXPECT_EQ(log.PendingOutput(), "");
}

TEST_F(DebugLogTest, UnendingTagIsWrittenOutOnceTooLong) {
  Capture(talk_base::LS_WARNING);
  DebugLog log;
  std::string chunk(64 * 1024, 'z');
  log.Input("<", 1);
  size_t fed = 1;
  while (fed <= DebugLog::kMaxPending) {
    log.Input(chunk.data(), static_cast<int>(chunk.size()));
    fed += chunk.size();
    ASSERT_LE(log.PendingInput().size(), DebugLog::kMaxPending);
  }
  EXPECT_EQ(log.PendingInput(), "");
  ASSERT_FALSE(lines_.empty());
  const std::string& last = lines_.back();
  EXPECT_TRUE(last.ends_with("   <" + std::string(fed - 1, 'z'))) << last.size();
}

TEST_F(DebugLogTest, OneProcessWideInstanceConnectsToSignals) {
  Capture(talk_base::LS_WARNING);
  sigslot::signal2<const char*, int> data_in;
  DebugLog& log = DebugLog::Instance();
  EXPECT_EQ(&log, &DebugLog::Instance());
  log.Clear();
  data_in.connect(&log, &DebugLog::Input);
  data_in("<ok/>", 5);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"RECV", "   <ok/>"}));
  data_in.disconnect(&log);
}

}  // namespace
