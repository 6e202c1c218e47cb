#include "messaging/base/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "messaging/base/fileutils.h"

namespace talk_base {
namespace {

struct Vector {
  const char* input;
  const char* hex;
};

// RFC 1321, appendix A.5.
constexpr Vector kRfcVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(MD5Test, MatchesTheRfcVectorsWholeAndInPieces) {
  for (const Vector& v : kRfcVectors) {
    const std::string input = v.input;
    EXPECT_EQ(MD5::Hex(input), v.hex) << input;
    MD5 md5;
    for (size_t i = 0; i < input.size(); i += 7) {
      md5.Update(input.data() + i, std::min<size_t>(7, input.size() - i));
    }
    EXPECT_EQ(md5.HexFinal(), v.hex) << input;
  }
}

TEST(MD5Test, HexFinalStartsOver) {
  MD5 md5;
  md5.Update("abc", 3);
  EXPECT_EQ(md5.HexFinal(), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5.HexFinal(), "d41d8cd98f00b204e9800998ecf8427e");
  md5.Update("a", 1);
  EXPECT_EQ(md5.HexFinal(), "0cc175b9c0f1b6a831c399e269772661");
}

TEST(MD5Test, HexOfFileDigestsTheWholeFile) {
  const std::string path = Filesystem::TempFilename(Filesystem::GetTemporaryFolder(), "md5test");
  ASSERT_FALSE(path.empty());
  // Larger than one read buffer, with bytes of every value.
  std::string content;
  for (int i = 0; i < 300000; ++i) content += static_cast<char>((i * 131) & 0xFF);
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(fwrite(content.data(), 1, content.size(), f), content.size());
  fclose(f);

  EXPECT_EQ(MD5::HexOfFile(path), MD5::Hex(content));
  EXPECT_TRUE(Filesystem::DeleteFile(path));
  EXPECT_EQ(MD5::HexOfFile(path), "");
  EXPECT_EQ(MD5::HexOfFile(Filesystem::GetTemporaryFolder()), "");
}

}  // namespace
}  // namespace talk_base
