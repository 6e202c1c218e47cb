// `norvo library`, run as a user runs it: the database it builds, the body it prints, and how it
// treats bad usage and hostile uris.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "messaging/base/base64.h"
#include "tests/library/library_fixture.h"

namespace {

using namespace library_test;
namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Result RunTool(const TempDir& dir, const std::vector<std::string>& args) {
  std::string cmd = Quote(NORVO_TOOL) + " library";
  for (const std::string& a : args) cmd += " " + Quote(a);
  const std::string err_path = dir.path() + "/stderr.txt";
  cmd += " 2>" + Quote(err_path) + " </dev/null";
  Result r{};
  FILE* pipe = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0) r.out.append(buf, n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = ReadFile(err_path);
  return r;
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = BuildLibraryTree(dir_.path());
    data_ = dir_.path() + "/data";
  }
  TempDir dir_;
  LibraryTree tree_;
  std::string data_;
};

TEST_F(ToolTest, ScanBuildsTheLibraryAndBrowsePrintsTheExactBody) {
  Result scan = RunTool(dir_, {"scan", "--data-dir", data_, tree_.b, tree_.a});
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.out, "items: 10, songs: 5, folders: 5\n");
  ASSERT_TRUE(fs::exists(data_ + "/NorvoMedia.db"));

  const std::string b_size = std::to_string(fs::file_size(tree_.b + "/c.mp3"));
  Result root = RunTool(dir_, {"browse", "--data-dir", data_});
  ASSERT_EQ(root.status, 0) << root.err;
  EXPECT_EQ(root.out,
            "{'action':'browse','reply':'ok','category':'music', 'uri': "
            "'d41d8cd98f00b204e9800998ecf8427e', 'list':[{'name':'" +
                B64("B") + "','type':'dir','num-dirs':0,'num-songs':1,'uri':'" + Md5(tree_.b) +
                "'},{'name':'" + B64("A") + "','type':'dir','num-dirs':4,'num-songs':4,'uri':'" +
                Md5(tree_.a) + "'}]}\n");
  Result b = RunTool(dir_, {"browse", "--data-dir", data_, Md5(tree_.b)});
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(b.out, "{'action':'browse','reply':'ok','category':'music', 'uri': '" + Md5(tree_.b) +
                       "', 'list':[{'name':'" + B64("c.mp3") +
                       "','bitrate':128000,'samplerate':44100,'artist':'','album':'','title':'',"
                       "'length':5,'size':" +
                       b_size + ",'uri':'" + Md5(tree_.b + "/c.mp3") + "'}]}\n");

  Result show = RunTool(dir_, {"show", "--data-dir", data_, Md5(tree_.a + "/song.mp3")});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_NE(show.out.find("name: song.mp3\n"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("path: " + tree_.a + "/song.mp3\n"), std::string::npos);
  EXPECT_NE(show.out.find("title: It's 'one'\n"), std::string::npos);
  EXPECT_NE(show.out.find("artist: O'Brien\n"), std::string::npos);
  EXPECT_NE(show.out.find("album: Album \"1\"\n"), std::string::npos);
  EXPECT_NE(show.out.find("length: 5\n"), std::string::npos);

  Result sum = RunTool(dir_, {"checksum", "--data-dir", data_});
  ASSERT_EQ(sum.status, 0) << sum.err;
  EXPECT_EQ(sum.out, Md5(ReadFile(data_ + "/NorvoMedia.db")) + "\n");
}

TEST_F(ToolTest, BadUsageAndHostileUrisExitWithTwoAndChangeNothing) {
  ASSERT_EQ(RunTool(dir_, {"scan", "--data-dir", data_, tree_.b}).status, 0);
  const std::string before = ReadFile(data_ + "/NorvoMedia.db");
  const std::string valid = Md5(tree_.b);
  const std::vector<std::vector<std::string>> cases = {
      {"browse", "--data-dir", data_, "'"},
      {"browse", "--data-dir", data_, valid.substr(0, 31)},
      {"browse", "--data-dir", data_, valid + "0"},
      {"browse", "--data-dir", data_, "D41D8CD98F00B204E9800998ECF8427E"},
      {"browse", "--data-dir", data_, "' OR 1=1 --"},
      {"show", "--data-dir", data_, "' OR 1=1 --"},
      {"show", "--data-dir", data_},
      {"browse", "--data-dir", data_, valid, valid},
      {"scan", "--data-dir", data_},
      {"checksum", "--data-dir"},
      {"frobnicate"},
      {"browse", "--verbose"},
      {},
  };
  for (const auto& args : cases) {
    Result r = RunTool(dir_, args);
    std::string label;
    for (const auto& a : args) label += a + " ";
    EXPECT_EQ(r.status, 2) << label;
    EXPECT_TRUE(r.out.empty()) << label;
    EXPECT_FALSE(r.err.empty()) << label;
  }
  EXPECT_EQ(ReadFile(data_ + "/NorvoMedia.db"), before);
}

TEST_F(ToolTest, MissingLibraryOrItemIsAFailure) {
  const std::string empty = dir_.path() + "/nothing";
  EXPECT_EQ(RunTool(dir_, {"browse", "--data-dir", empty}).status, 1);
  EXPECT_EQ(RunTool(dir_, {"checksum", "--data-dir", empty}).status, 1);
  EXPECT_FALSE(fs::exists(empty + "/NorvoMedia.db"));
  ASSERT_EQ(RunTool(dir_, {"scan", "--data-dir", data_, tree_.b}).status, 0);
  EXPECT_EQ(RunTool(dir_, {"show", "--data-dir", data_, Md5("nowhere")}).status, 1);
}

}  // namespace
