// The settings record, its defaults and accessors, and the text helpers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoThreadUtil.h"
#include "client-core/NorvoWinUtilities.h"

namespace {

using ::testing::ElementsAre;

TEST(GlobalContextTest, HubRoleDefaultsAreTheFirstRunSettings) {
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  const NorvoGlobalSetting* s = NorvoGlobalContext::Instance();
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(NorvoGlobalContext::IsImgPreviewEnabled());
  EXPECT_EQ(NorvoGlobalContext::GetPreviewImgWidth(), 310);
  EXPECT_EQ(NorvoGlobalContext::GetPreviewImgHeight(), 240);
  EXPECT_EQ(s->appRole, NorvoAppRole_Hub);
  EXPECT_EQ(s->iRescanNeeded, 1);
  EXPECT_EQ(s->iAutoLoginAtSysStartup, 1);
  EXPECT_EQ(s->iAutoLoginAtAppStartup, 0);
  EXPECT_EQ(s->iAllowFriendAccess, 0);
  EXPECT_EQ(s->iMaxConcurrentStreaming, 1);
  EXPECT_EQ(s->iMediaStreamFileMaxSizeBytes, 20971520);
  EXPECT_EQ(s->iMediaStreamFileMinDuration, 5);
  ASSERT_TRUE(s->publicFolderList);
  EXPECT_TRUE(s->publicFolderList->empty());
  EXPECT_FALSE(s->bAccountLinked);
  EXPECT_STREQ(NorvoGlobalContext::GetHubId(), "");
  EXPECT_STREQ(NorvoGlobalContext::GetAppUserDataDir(), "");
}

TEST(GlobalContextTest, NonHubRoleLeavesHubOnlyDefaultsAtZero) {
  NorvoGlobalContext::Init(static_cast<NorvoAppRole>(2));
  const NorvoGlobalSetting* s = NorvoGlobalContext::Instance();
  EXPECT_FALSE(s->publicFolderList);
  EXPECT_EQ(s->iRescanNeeded, 0);
  EXPECT_EQ(s->iAutoLoginAtSysStartup, 0);
  EXPECT_EQ(s->iMediaStreamFileMaxSizeBytes, 0);
  EXPECT_EQ(s->iMaxConcurrentStreaming, 1);
  // Folder edits without a list are refused rather than crashing.
  NorvoGlobalContext::AddPublicFolderLocation("/music");
  EXPECT_FALSE(s->publicFolderList);
}

TEST(GlobalContextTest, SecondInitResetsTheSameRecord) {
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  NorvoGlobalSetting* first = NorvoGlobalContext::Instance();
  first->hubName = "kitchen";
  first->publicFolderList->push_back("/music");
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  EXPECT_EQ(NorvoGlobalContext::Instance(), first);
  EXPECT_EQ(first->hubName, "");
  EXPECT_TRUE(first->publicFolderList->empty());
}

TEST(GlobalContextTest, FolderListKeepsDuplicatesAndAnyRemovalAsksForARescan) {
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  NorvoGlobalSetting* s = NorvoGlobalContext::Instance();
  NorvoGlobalContext::AddPublicFolderLocation("/a");
  NorvoGlobalContext::AddPublicFolderLocation("/b");
  NorvoGlobalContext::AddPublicFolderLocation("/a");
  EXPECT_THAT(*s->publicFolderList, ElementsAre("/a", "/b", "/a"));

  s->iRescanNeeded = 0;
  NorvoGlobalContext::RemovePublicFolderLocation("/A");  // case matters: nothing removed
  EXPECT_THAT(*s->publicFolderList, ElementsAre("/a", "/b", "/a"));
  EXPECT_EQ(s->iRescanNeeded, 1);

  s->iRescanNeeded = 0;
  NorvoGlobalContext::RemovePublicFolderLocation("/a");  // only the first entry goes
  EXPECT_THAT(*s->publicFolderList, ElementsAre("/b", "/a"));
  EXPECT_EQ(s->iRescanNeeded, 1);
}

TEST(GlobalContextTest, FlagSettersStoreZeroOrOne) {
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  NorvoGlobalSetting* s = NorvoGlobalContext::Instance();
  s->iAllowFriendAccess = 7;  // a stray value reads as on
  EXPECT_TRUE(NorvoGlobalContext::GetAllowFriendAccess());
  NorvoGlobalContext::SetAllowFriendAccess(true);
  NorvoGlobalContext::SetAutoLoginAtAppStartup(true);
  NorvoGlobalContext::SetAutoLoginAtSysStartup(false);
  EXPECT_EQ(s->iAllowFriendAccess, 1);
  EXPECT_EQ(s->iAutoLoginAtAppStartup, 1);
  EXPECT_EQ(s->iAutoLoginAtSysStartup, 0);
}

TEST(GlobalContextTest, CopyGettersStayInsideTheCallersBuffer) {
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  NorvoGlobalSetting* s = NorvoGlobalContext::Instance();
  s->deviceName = std::string(300, 'd');  // written directly, past the field's capacity
  s->appVersion = "1.2.3";
  s->currentMusicUri = std::string(127, 'u') + "\xc3\xa9";  // the é ends at byte 129

  struct Case {
    void (*get)(char*);
    std::string expected;
  };
  const Case cases[] = {
      {NorvoGlobalContext::GetDeviceName, std::string(129, 'd')},
      {NorvoGlobalContext::GetAppVersion, "1.2.3"},
      {NorvoGlobalContext::GetCurrentMusicUri, std::string(127, 'u') + "\xc3\xa9"},
  };
  for (const Case& c : cases) {
    char buf[kNorvoTextFieldSize + 8];
    std::memset(buf, 'X', sizeof(buf));
    c.get(buf);
    EXPECT_EQ(std::string(buf), c.expected);
    EXPECT_EQ(std::string(buf + kNorvoTextFieldSize, 8), std::string(8, 'X'));
  }
}

TEST(GlobalContextTest, FitTextCutsAtACharacterBoundary) {
  struct Case {
    std::string text;
    size_t capacity;
    std::string expected;
  };
  const std::string e_acute = "\xc3\xa9";
  const std::string han = "\xe6\xbc\xa2";
  const std::string emoji = "\xf0\x9f\x8e\xb5";
  const Case cases[] = {
      {"abc", 4, "abc"},
      {"abcd", 4, "abc"},
      {"", 1, ""},
      {"abc", 1, ""},
      {"abc", 0, ""},
      {"a" + e_acute, 4, "a" + e_acute},
      {"a" + e_acute, 3, "a"},
      {"ab" + e_acute, 3, "ab"},
      {"a" + han, 4, "a"},
      {"a" + han, 5, "a" + han},
      {emoji + emoji, 8, emoji},
      // Bytes that are no UTF-8 at all are cut by bytes, never overrun.
      {"\x80\x80\x80\x80", 3, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NorvoGlobalContext::FitText(c.text, c.capacity), c.expected)
        << "capacity " << c.capacity;
  }
}

TEST(ThreadUtilTest, MutexMustBeSetUpOnceAndANullOneEndsTheProcess) {
  JMutex m;
  EXPECT_EQ(m.Lock(), -1);  // not set up: refused, not undefined
  NorvoThreadUtil::InitMutex(&m);
  NorvoThreadUtil::InitMutex(&m);  // a second set-up leaves it as it is
  EXPECT_TRUE(m.IsInitialized());
  EXPECT_EQ(m.Lock(), 0);
  EXPECT_EQ(m.Unlock(), 0);
  EXPECT_DEATH(NorvoThreadUtil::InitMutex(nullptr), "");
}

TEST(TextHelpersTest, Utf8RoundTripsAndReplacesWhatIsNotText) {
  const std::string valid[] = {"",
                               "plain",
                               "caf\xc3\xa9",
                               "\xe6\xbc\xa2\xe5\xad\x97",
                               "\xf0\x9f\x8e\xb5 music",
                               std::string("nul\0inside", 10)};
  for (const std::string& text : valid) {
    EXPECT_EQ(NorvoWinUtilities::utf8_encode(NorvoWinUtilities::utf8_decode(text)), text);
    EXPECT_EQ(NorvoWinUtilities::ws2s(NorvoWinUtilities::s2ws(text)), text);
  }
  EXPECT_EQ(NorvoWinUtilities::utf8_decode("caf\xc3\xa9"), L"caf\u00e9");

  struct Bad {
    std::string bytes;
    std::wstring expected;
  };
  const Bad bad[] = {
      {"\x80", L"\ufffd"},                                // a lone continuation byte
      {"a\xc3", L"a\ufffd"},                              // cut in the middle of a character
      {"\xc0\x80", L"\ufffd\ufffd"},                      // overlong form of NUL
      {"\xed\xa0\x80", L"\ufffd\ufffd\ufffd"},            // a surrogate
      {"\xf4\x90\x80\x80", L"\ufffd\ufffd\ufffd\ufffd"},  // past U+10FFFF
      {"\xff!", L"\ufffd!"},
  };
  for (const Bad& b : bad) EXPECT_EQ(NorvoWinUtilities::utf8_decode(b.bytes), b.expected);

  std::wstring not_characters = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000)};
  EXPECT_EQ(NorvoWinUtilities::utf8_encode(not_characters), "\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(TextHelpersTest, ConvertCharArrayCutsToTheWideBuffer) {
  wchar_t buf[4];
  EXPECT_TRUE(NorvoWinUtilities::ConvertCharArrayToLPCWSTR("caf\xc3\xa9s", buf, 4));
  EXPECT_EQ(std::wstring(buf), L"caf");
  EXPECT_TRUE(NorvoWinUtilities::ConvertCharArrayToLPCWSTR(nullptr, buf, 4));
  EXPECT_EQ(std::wstring(buf), L"");
  EXPECT_FALSE(NorvoWinUtilities::ConvertCharArrayToLPCWSTR("x", buf, 0));
  EXPECT_FALSE(NorvoWinUtilities::ConvertCharArrayToLPCWSTR("x", nullptr, 4));
}

TEST(TextHelpersTest, ReplaceChangesOnlyTheFirstOccurrence) {
  struct Case {
    std::string text, from, to;
    bool found;
    std::string expected;
  };
  const Case cases[] = {
      {"a'b'c", "'", "\"", true, "a\"b'c"}, {"abc", "x", "y", false, "abc"},
      {"abc", "", "y", false, "abc"},  // an empty pattern matches nothing
      {"aaa", "aa", "", true, "a"},         {"", "a", "b", false, ""},
  };
  for (Case c : cases) {
    EXPECT_EQ(NorvoWinUtilities::replace(c.text, c.from, c.to), c.found) << c.expected;
    EXPECT_EQ(c.text, c.expected);
  }
}

}  // namespace
