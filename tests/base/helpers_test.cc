#include "messaging/base/helpers.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace talk_base {
namespace {

TEST(RandomTest, StringsHaveTheLengthAndAlphabetAsked) {
  ASSERT_TRUE(InitRandom(nullptr, 0));
  ASSERT_TRUE(InitRandom("seed", 4));
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::set<char> seen;
  for (size_t length : {0u, 1u, 16u, 4096u}) {
    const std::string s = CreateRandomString(length);
    EXPECT_EQ(s.size(), length);
    for (char c : s) {
      EXPECT_NE(alphabet.find(c), std::string::npos) << static_cast<int>(c);
      seen.insert(c);
    }
  }
  // 4096 draws from 64 characters leave none out unless the mapping is skewed.
  EXPECT_EQ(seen.size(), alphabet.size());
}

TEST(RandomTest, ValuesAreNotConstant) {
  EXPECT_NE(CreateRandomString(32), CreateRandomString(32));
  std::set<uint32_t> ids;
  for (int i = 0; i < 16; ++i) ids.insert(CreateRandomId());
  EXPECT_GT(ids.size(), 1u);
}

}  // namespace
}  // namespace talk_base
