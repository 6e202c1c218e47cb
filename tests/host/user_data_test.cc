// The stored user data: the parse table, the document produced, encryption, the file store and
// the save of the record, on real files under a private XDG folder.
#include <signal.h>
#include <sys/resource.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoUserDataSave.h"
#include "client-core/NorvoWinUtilities.h"
#include "platform/user_data_cipher.h"
#include "platform/user_data_store.h"
#include "platform/xdg_dirs.h"
#include "tests/host/host_test_util.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char kSep = '\x1c';

class UserDataTest : public ::testing::Test {
 protected:
  UserDataTest() : env_(host_test::XdgEnvUnder(dir_.path())) {
    NorvoGlobalContext::Init(NorvoAppRole_Hub);
    s_ = NorvoGlobalContext::Instance();
  }

  std::string StorePath() const { return dir_.path() + "/config/NorvoHub/UserData"; }

  host_test::TempDir dir_;
  host_test::ScopedEnv env_;
  NorvoGlobalSetting* s_ = nullptr;
};

// A complete stored document; `changes` replaces an element's text or (nullopt) leaves it out.
std::string Doc(const std::map<std::string, std::optional<std::string>>& changes = {}) {
  const std::vector<std::pair<std::string, std::string>> elements = {
      {"username", "owner@example.org"},
      {"refresh_token", "1/refresh"},
      {"hubname", "Living room"},
      {"dspname", "Owner Name"},
      {"imgurl", "https://example.org/p.png"},
      {"hubid", "1A2B3C4D-11-2233-4455-66778899AABB"},
      {"rescanneeded", "0"},
      {"autologin_sys", "0"},
      {"autologin_app", "1"},
      {"allow_friend_ac", "1"},
      {"max_concurrent_str", "3"},
      {"publicfolders", std::string("/music/a") + kSep + "/music/b" + kSep},
  };
  std::string doc = "<norvopc>\n";
  for (const auto& [name, text] : elements) {
    auto it = changes.find(name);
    if (it != changes.end() && !it->second) continue;
    const std::string& value = it != changes.end() ? *it->second : text;
    doc += "    <" + name + ">" + value + "</" + name + ">\n";
  }
  return doc + "</norvopc>\n";
}

// What the record holds after a parse; the record starts from the defaults with a folder list
// of one entry, "/old", and the user name "before".
struct Fields {
  std::string user = "owner@example.org";
  std::string token = "1/refresh";
  std::string hub_name = "Living room";
  std::string display = "Owner Name";
  std::string img = "https://example.org/p.png";
  std::string hub_id = "1A2B3C4D-11-2233-4455-66778899AABB";
  int rescan = 0, auto_sys = 0, auto_app = 1, friends = 1, max_streams = 3;
  std::vector<std::string> folders = {"/music/a", "/music/b"};
};

Fields Defaults() {
  Fields f;
  f.user = "before";
  f.token = f.hub_name = f.display = f.img = f.hub_id = "";
  f.rescan = 1, f.auto_sys = 1, f.auto_app = 0, f.friends = 0, f.max_streams = 1;
  f.folders = {"/old"};
  return f;
}

Fields With(std::function<void(Fields*)> change, Fields f = Fields()) {
  change(&f);
  return f;
}

void ExpectFields(const NorvoGlobalSetting& s, const Fields& f) {
  EXPECT_EQ(s.accountUserName, f.user);
  EXPECT_EQ(s.accountRefreshToken, f.token);
  EXPECT_EQ(s.hubName, f.hub_name);
  EXPECT_EQ(s.accountDisplayName, f.display);
  EXPECT_EQ(s.accountImgUrl, f.img);
  EXPECT_EQ(s.hubId, f.hub_id);
  EXPECT_EQ(s.iRescanNeeded, f.rescan);
  EXPECT_EQ(s.iAutoLoginAtSysStartup, f.auto_sys);
  EXPECT_EQ(s.iAutoLoginAtAppStartup, f.auto_app);
  EXPECT_EQ(s.iAllowFriendAccess, f.friends);
  EXPECT_EQ(s.iMaxConcurrentStreaming, f.max_streams);
  ASSERT_TRUE(s.publicFolderList);
  EXPECT_EQ(std::vector<std::string>(s.publicFolderList->begin(), s.publicFolderList->end()),
            f.folders);
}

TEST_F(UserDataTest, ParseTable) {
  const std::string e_acute = "\xc3\xa9";
  struct Case {
    const char* name;
    std::string doc;
    bool complete;
    Fields expected;
  };
  const Case cases[] = {
      {"complete document", Doc(), true, Fields()},
      {"elements in another order and unknown ones",
       "<norvopc><publicfolders>/x</publicfolders><extra>1</extra>" +
           Doc().substr(10, Doc().find("<publicfolders>") - 10) + "</norvopc>",
       true, With([](Fields* f) { f->folders = {"/x"}; })},
      {"no refresh token still loads the rest", Doc({{"refresh_token", std::nullopt}}), true,
       With([](Fields* f) { f->token = ""; })},
      {"no user name stops at once", Doc({{"username", std::nullopt}}), false, Defaults()},
      {"no hub id keeps what came before it", Doc({{"hubid", std::nullopt}}), false,
       With(
           [](Fields* f) {
             f->user = "owner@example.org";
             f->token = "1/refresh";
             f->hub_name = "Living room";
             f->display = "Owner Name";
             f->img = "https://example.org/p.png";
           },
           Defaults())},
      {"no folder element empties the list", Doc({{"publicfolders", std::nullopt}}), false,
       With([](Fields* f) { f->folders = {}; })},
      {"empty folder element is an empty list", Doc({{"publicfolders", ""}}), true,
       With([](Fields* f) { f->folders = {}; })},
      {"repeated and missing separators give no empty entries",
       Doc({{"publicfolders", std::string(1, kSep) + "/a" + kSep + kSep + "/b"}}), true,
       With([](Fields* f) {
         f->folders = {"/a", "/b"};
       })},
      {"escaped text is unescaped",
       Doc({{"hubname", "R&amp;B &lt;3 &gt;"},
            {"publicfolders", "/m/Rock &amp; Roll" + std::string(1, kSep)}}),
       true, With([](Fields* f) {
         f->hub_name = "R&B <3 >";
         f->folders = {"/m/Rock & Roll"};
       })},
      {"empty texts",
       Doc({{"username", ""},
            {"rescanneeded", ""},
            {"autologin_sys", ""},
            {"max_concurrent_str", ""}}),
       true, With([](Fields* f) {
         f->user = "before";  // no text leaves the field as it was
         f->rescan = 1;
         f->auto_sys = 0;
         f->max_streams = 1;
       })},
      {"flags out of range",
       Doc({{"rescanneeded", "2"},
            {"autologin_sys", "2"},
            {"autologin_app", "007"},
            {"allow_friend_ac", "-1"}}),
       true, With([](Fields* f) {
         f->rescan = 1;
         f->auto_sys = 0;
         f->auto_app = 0;
         f->friends = 0;
       })},
      {"flags with a leading zero or sign",
       Doc({{"rescanneeded", "01"}, {"autologin_app", "+1"}, {"allow_friend_ac", "1abc"}}), true,
       With([](Fields* f) {
         f->rescan = 1;
         f->auto_app = 1;
         f->friends = 1;
       })},
      {"streams 0", Doc({{"max_concurrent_str", "0"}}), true,
       With([](Fields* f) { f->max_streams = 1; })},
      {"streams 7", Doc({{"max_concurrent_str", "007"}}), true,
       With([](Fields* f) { f->max_streams = 1; })},
      {"streams not numeric", Doc({{"max_concurrent_str", "many"}}), true,
       With([](Fields* f) { f->max_streams = 1; })},
      {"streams beyond int", Doc({{"max_concurrent_str", "99999999999999999999"}}), true,
       With([](Fields* f) { f->max_streams = 1; })},
      {"streams 5 with spaces", Doc({{"max_concurrent_str", " 5 "}}), true,
       With([](Fields* f) { f->max_streams = 5; })},
      {"a child element instead of text", Doc({{"hubname", "<b>bold</b>"}}), true,
       With([](Fields* f) { f->hub_name = ""; })},
      {"texts longer than their field are cut at a character boundary",
       Doc({{"username", std::string(128, 'u') + e_acute},
            {"hubid", std::string(40, 'F')},
            {"imgurl", std::string(100 * 1024, 'i')}}),
       true, With([](Fields* f) {
         f->user = std::string(128, 'u');
         f->hub_id = std::string(36, 'F');
         f->img = std::string(512, 'i');
       })},
      {"a 5000-character folder is kept whole",
       Doc({{"publicfolders", "/" + std::string(4999, 'f') + kSep}}), true,
       With([](Fields* f) { f->folders = {"/" + std::string(4999, 'f')}; })},
      {"another root", "<other>" + Doc() + "</other>", false, Defaults()},
      {"not XML", "user=bob", false, Defaults()},
      {"empty", "", false, Defaults()},
      {"cut in the middle", Doc().substr(0, Doc().size() / 2), false, Defaults()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NorvoGlobalContext::Init(NorvoAppRole_Hub);
    s_->accountUserName = "before";
    s_->publicFolderList->push_back("/old");
    EXPECT_EQ(NorvoWinUtilities::ParseUserData(c.doc.c_str(), s_), c.complete);
    ExpectFields(*s_, c.expected);
  }
}

TEST_F(UserDataTest, RepeatedElementsTakeTheFirst) {
  std::string doc = Doc();
  doc.insert(doc.find("</norvopc>"),
             "<hubname>second</hubname><max_concurrent_str>9"
             "</max_concurrent_str>");
  EXPECT_TRUE(NorvoWinUtilities::ParseUserData(doc.c_str(), s_));
  EXPECT_EQ(s_->hubName, "Living room");
  EXPECT_EQ(s_->iMaxConcurrentStreaming, 3);
}

TEST_F(UserDataTest, NullInputsAreRefused) {
  EXPECT_FALSE(NorvoWinUtilities::ParseUserData(nullptr, s_));
  EXPECT_FALSE(NorvoWinUtilities::ParseUserData(Doc().c_str(), nullptr));
}

TEST_F(UserDataTest, HostileDocumentsNeverCrash) {
  std::mt19937 rng(1234);
  std::string random_bytes(1 << 20, '\0');
  for (char& c : random_bytes) c = static_cast<char>(rng() % 255 + 1);  // no NUL inside
  const std::string hostile[] = {
      random_bytes,
      "<norvopc>" + std::string(100000, '<') + "</norvopc>",
      std::string(5000, '<') + "a" + std::string(5000, '>'),
      [] {
        std::string deep;
        for (int i = 0; i < 20000; ++i) deep += "<norvopc>";
        return deep;
      }(),
      "<norvopc><username>&#0;&#xFFFFFFFF;&bogus;</username></norvopc>",
      "<!DOCTYPE norvopc [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]><norvopc>"
      "<username>&b;</username></norvopc>",
  };
  for (const std::string& doc : hostile) {
    NorvoGlobalContext::Init(NorvoAppRole_Hub);
    NorvoWinUtilities::ParseUserData(doc.c_str(), s_);
    EXPECT_LT(s_->accountUserName.size(), kNorvoTextFieldSize);
  }
}

TEST_F(UserDataTest, DocumentIsTheIndentedGoldenText) {
  s_->accountUserName = "owner@example.org";
  s_->accountRefreshToken = "";
  s_->hubName = "Tom & Jerry <den>";
  s_->accountDisplayName = "Tom";
  s_->accountImgUrl = "";
  s_->hubId = "ABCD-12-34-5678-9ABCDEF01234";
  s_->iRescanNeeded = 1;
  s_->iAutoLoginAtSysStartup = 0;
  s_->iAutoLoginAtAppStartup = 1;
  s_->iAllowFriendAccess = 0;
  s_->iMaxConcurrentStreaming = 4;
  *s_->publicFolderList = {"/music/R&B", "/home/t/M\xc3\xbasica"};
  s_->accountAccessToken = "never stored";

  std::string doc;
  int length = NorvoWinUtilities::GenerateUserSettingString2(&doc, s_);
  const std::string expected =
      "<norvopc>\n"
      "    <username>owner@example.org</username>\n"
      "    <refresh_token/>\n"
      "    <hubname>Tom &amp; Jerry &lt;den&gt;</hubname>\n"
      "    <dspname>Tom</dspname>\n"
      "    <imgurl/>\n"
      "    <hubid>ABCD-12-34-5678-9ABCDEF01234</hubid>\n"
      "    <rescanneeded>1</rescanneeded>\n"
      "    <autologin_sys>0</autologin_sys>\n"
      "    <autologin_app>1</autologin_app>\n"
      "    <allow_friend_ac>0</allow_friend_ac>\n"
      "    <max_concurrent_str>4</max_concurrent_str>\n"
      "    <publicfolders>/music/R&amp;B\x1c/home/t/M\xc3\xbasica\x1c</publicfolders>\n"
      "</norvopc>\n";
  EXPECT_EQ(doc, expected);
  EXPECT_EQ(length, static_cast<int>(expected.size()));
}

// Saves `s_` as the window would, then reads it back into a fresh record as the next run does.
NorvoGlobalSetting* SaveAndLoadInFreshRecord(NorvoGlobalSetting* s, const std::string& name) {
  EXPECT_EQ(NorvoUserDataSave::SaveUserData(name, s, nullptr), NorvoUserDataSave_Ok);
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  std::string text;
  EXPECT_EQ(NorvoWinUtilities::LoadUserData2(&text), NorvoUserDataLoad_Ok);
  EXPECT_TRUE(NorvoWinUtilities::ParseUserData(text.c_str(), NorvoGlobalContext::Instance()));
  return NorvoGlobalContext::Instance();
}

TEST_F(UserDataTest, EverySettingSurvivesASaveAndTheNextLoad) {
  struct Case {
    const char* name;
    Fields fields;
  };
  const Case cases[] = {
      {"rich", With([](Fields* f) {
         f->user = "j\xc3\xbcrgen@example.org";
         f->token = "1//0g-token&<>";
         f->hub_name = "J\xc3\xbcrgen's <Hub> & more";
         f->display = "J\xc3\xbcrgen M\xc3\xbcller";
         f->img = "https://example.org/a?b=1&c=2";
         f->hub_id = "DEADBEEF-1-22-3344-556677889900";
         f->rescan = 0, f->auto_sys = 0, f->auto_app = 1, f->friends = 1, f->max_streams = 5;
         f->folders = {"/media/Rock & Roll", "/home/u/<odd> name",
                       "/home/u/\xe9\x9f\xb3\xe6\xa5\xbd", "  /spaces around  "};
       })},
      {"empty", With([](Fields* f) {
         f->user = f->token = f->display = f->img = "";
         f->hub_name = "x";
         f->hub_id = "1-2-3-4567-89ABCDEF0123";
         f->rescan = 1, f->auto_sys = 1, f->auto_app = 0, f->friends = 0, f->max_streams = 1;
         f->folders = {};
       })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NorvoGlobalContext::Init(NorvoAppRole_Hub);
    const Fields& f = c.fields;
    s_->accountUserName = f.user;
    s_->accountRefreshToken = f.token;
    s_->accountDisplayName = f.display;
    s_->accountImgUrl = f.img;
    s_->hubId = f.hub_id;
    s_->iRescanNeeded = f.rescan;
    s_->iAutoLoginAtSysStartup = f.auto_sys;
    s_->iAutoLoginAtAppStartup = f.auto_app;
    s_->iAllowFriendAccess = f.friends;
    s_->iMaxConcurrentStreaming = f.max_streams;
    s_->publicFolderList->assign(f.folders.begin(), f.folders.end());
    s_->accountAccessToken = "not stored";
    s_->bAccountLinked = true;
    NorvoGlobalSetting* loaded = SaveAndLoadInFreshRecord(s_, f.hub_name);
    ExpectFields(*loaded, f);
    EXPECT_EQ(loaded->accountAccessToken, "");
    EXPECT_FALSE(loaded->bAccountLinked);
  }
}

TEST_F(UserDataTest, SaveCreatesTheHubIdOnceAndChoosesTheHubName) {
  std::string shown;
  ASSERT_EQ(NorvoUserDataSave::SaveUserData("  \tKitchen \n", s_, &shown), NorvoUserDataSave_Ok);
  EXPECT_EQ(shown, "Kitchen");
  EXPECT_EQ(s_->hubName, "Kitchen");
  const std::string id = s_->hubId;
  EXPECT_FALSE(id.empty());

  ASSERT_EQ(NorvoUserDataSave::SaveUserData("   ", s_, &shown), NorvoUserDataSave_Ok);
  EXPECT_EQ(s_->hubId, id);
  EXPECT_EQ(shown, NorvoUserDataSave::DefaultHubName());
  EXPECT_FALSE(shown.empty());
  EXPECT_LE(shown.size(), 128u);

  NorvoGlobalSetting* loaded = SaveAndLoadInFreshRecord(s_, std::string(300, 'n'));
  EXPECT_EQ(loaded->hubId, id);
  EXPECT_EQ(loaded->hubName, std::string(kNorvoTextFieldSize - 1, 'n'));
}

TEST_F(UserDataTest, StoreFileIsPrivateAndTwoSavesOfTheSameDataDiffer) {
  ASSERT_EQ(NorvoUserDataSave::SaveUserData("hub", s_, nullptr), NorvoUserDataSave_Ok);
  std::optional<std::string> first = host_test::ReadFile(StorePath());
  ASSERT_EQ(NorvoUserDataSave::SaveUserData("hub", s_, nullptr), NorvoUserDataSave_Ok);
  std::optional<std::string> second = host_test::ReadFile(StorePath());
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->size(), second->size());
  EXPECT_NE(*first, *second);
  // Nothing of the document shows through.
  EXPECT_EQ(first->find("norvopc"), std::string::npos);
  EXPECT_EQ(host_test::ModeOf(StorePath()), 0600u);
  EXPECT_EQ(host_test::ModeOf(dir_.path() + "/config/NorvoHub"), 0700u);
  EXPECT_THAT(host_test::ListFolder(dir_.path() + "/config/NorvoHub"), ElementsAre("UserData"));
}

TEST_F(UserDataTest, DamagedStoreFilesAreRefusedUnparsed) {
  ASSERT_EQ(NorvoUserDataSave::SaveUserData("hub", s_, nullptr), NorvoUserDataSave_Ok);
  const std::string good = *host_test::ReadFile(StorePath());
  const size_t n = good.size();
  std::mt19937 rng(99);
  std::string random_mib(1 << 20, '\0');
  for (char& c : random_mib) c = static_cast<char>(rng());

  struct Case {
    const char* name;
    std::function<std::string(std::string)> damage;
  };
  auto flip = [](size_t pos) {
    return [pos](std::string s) {
      s[pos] = static_cast<char>(s[pos] ^ 0x01);
      return s;
    };
  };
  const Case cases[] = {
      {"nonce changed", flip(0)},
      {"ciphertext changed", flip(n / 2)},
      {"tag changed", flip(n - 1)},
      {"truncated by one byte", [](std::string s) { return s.substr(0, s.size() - 1); }},
      {"shorter than nonce and tag", [](std::string s) { return s.substr(0, 27); }},
      {"empty", [](std::string) { return std::string(); }},
      {"one byte longer", [](std::string s) { return s + "x"; }},
      {"1 MiB of random bytes", [&random_mib](std::string) { return random_mib; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(host_test::WriteFile(StorePath(), c.damage(good)));
    std::string text = "stale";
    EXPECT_EQ(NorvoWinUtilities::LoadUserData2(&text), NorvoUserDataLoad_DecryptFailed);
    EXPECT_EQ(text, "");
  }
}

TEST_F(UserDataTest, MissingOrOddStoreGivesItsResult) {
  std::string text;
  EXPECT_EQ(NorvoWinUtilities::LoadUserData2(&text), NorvoUserDataLoad_NoKey);
  ASSERT_TRUE(platform::CreatePrivateFolder(dir_.path() + "/config/NorvoHub"));
  EXPECT_EQ(NorvoWinUtilities::LoadUserData2(&text), NorvoUserDataLoad_NoValue);
  ASSERT_EQ(mkdir(StorePath().c_str(), 0700), 0);
  EXPECT_EQ(NorvoWinUtilities::LoadUserData2(&text), NorvoUserDataLoad_NoValue);
  ASSERT_EQ(rmdir(StorePath().c_str()), 0);
  // Far larger than any document: not read at all (a sparse file costs no disk).
  ASSERT_TRUE(host_test::WriteFile(StorePath(), ""));
  ASSERT_EQ(truncate(StorePath().c_str(), platform::kMaxUserDataFileSize + 1), 0);
  EXPECT_EQ(NorvoWinUtilities::LoadUserData2(&text), NorvoUserDataLoad_DecryptFailed);
}

TEST_F(UserDataTest, FailedSaveKeepsThePreviousFile) {
  s_->hubId = "KEEP-1-2-3456-789ABCDEF012";
  ASSERT_EQ(NorvoUserDataSave::SaveUserData("before", s_, nullptr), NorvoUserDataSave_Ok);
  const std::string before = *host_test::ReadFile(StorePath());

  // A full disk, as far as this process can tell: writes past 4 KiB fail with EFBIG.
  for (int i = 0; i < 2000; ++i)
    s_->publicFolderList->push_back("/music/folder/" + std::to_string(i));
  struct sigaction ignore {
  }, old_action{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &old_action);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit small = old_limit;
  small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &small);
  NorvoUserDataSaveResult result = NorvoUserDataSave::SaveUserData("after", s_, nullptr);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &old_action, nullptr);

  EXPECT_EQ(result, NorvoUserDataSave_StoreFailed);
  EXPECT_EQ(*host_test::ReadFile(StorePath()), before);
  // The temporary file went with the failure.
  EXPECT_THAT(host_test::ListFolder(dir_.path() + "/config/NorvoHub"), ElementsAre("UserData"));
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  std::string text;
  ASSERT_EQ(NorvoWinUtilities::LoadUserData2(&text), NorvoUserDataLoad_Ok);
  ASSERT_TRUE(NorvoWinUtilities::ParseUserData(text.c_str(), s_));
  EXPECT_EQ(s_->hubName, "before");
  EXPECT_THAT(*s_->publicFolderList, IsEmpty());
}

TEST_F(UserDataTest, SaveIntoAnUnwritablePlaceFailsAndSaysSo) {
  // A file where the configuration folder should be: no folder can be made there.
  ASSERT_TRUE(host_test::WriteFile(dir_.path() + "/config", "not a folder"));
  EXPECT_EQ(NorvoUserDataSave::SaveUserData("hub", s_, nullptr), NorvoUserDataSave_StoreFailed);
}

TEST(GenUUIDTest, HasTheFormatAndIsFreshEachTime) {
  // Groups of at least two digits without further leading zeros, then 4 and 12 digits.
  const std::regex format(
      "([0-9A-F]{2}|[1-9A-F][0-9A-F]{2,7})-([0-9A-F]{2}|[1-9A-F][0-9A-F]{2,3})-"
      "([0-9A-F]{2}|[1-9A-F][0-9A-F]{2,3})-[0-9A-F]{4}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string id;
    ASSERT_TRUE(NorvoWinUtilities::GenUUID(&id));
    EXPECT_TRUE(std::regex_match(id, format)) << id;
    EXPECT_LE(id.size(), kNorvoHubIdFieldSize - 1);
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(UserDataCipherTest, KeysAreSeparateAndTheBuiltInKeyIsStable) {
  platform::UserDataCipher built_in, salted, other, again;
  ASSERT_TRUE(salted.SetKey(nullptr, "saltsalt"));
  ASSERT_TRUE(other.SetKey("another key", nullptr));
  std::string sealed, plain;
  ASSERT_TRUE(built_in.Encrypt("<norvopc/>", &sealed));
  EXPECT_EQ(sealed.size(), 10 + platform::UserDataCipher::kOverhead);
  EXPECT_TRUE(again.Decrypt(sealed, &plain));
  EXPECT_EQ(plain, "<norvopc/>");
  EXPECT_FALSE(salted.Decrypt(sealed, &plain));
  EXPECT_FALSE(other.Decrypt(sealed, &plain));
  EXPECT_EQ(plain, "");
  // An empty document is still authenticated.
  ASSERT_TRUE(built_in.Encrypt("", &sealed));
  EXPECT_TRUE(again.Decrypt(sealed, &plain));
  EXPECT_EQ(plain, "");
}

TEST(UserDataCipherTest, KeyTextWalkSwapsAndShiftsOverTheWholeText) {
  // Worked by hand: "abcdefgh" becomes "hlmnefgf"; the key text starts at its fifth character.
  EXPECT_EQ(platform::UserDataCipher::KeyTextFromPassPhrase("abcdefgh", nullptr), "efgf");
  // The salt is appended before the walk: "abcdefgh1" becomes "1lmnefghf".
  EXPECT_EQ(platform::UserDataCipher::KeyTextFromPassPhrase("abcdefgh", "1"), "efghf");
  // Only five characters of the salt count.
  EXPECT_EQ(platform::UserDataCipher::KeyTextFromPassPhrase("abcdefgh", "12345678"),
            platform::UserDataCipher::KeyTextFromPassPhrase("abcdefgh", "12345"));
  EXPECT_NE(platform::UserDataCipher::KeyTextFromPassPhrase("abcdefgh", "1"),
            platform::UserDataCipher::KeyTextFromPassPhrase("abcdefgh", nullptr));
  EXPECT_EQ(platform::UserDataCipher::BuiltInPassPhraseLength(), 64u);
}

}  // namespace
