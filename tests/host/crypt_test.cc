// NorvoCrypt: the desktop client's encryption of the stored user data.
#include <gtest/gtest.h>

#include <string>

#include "client/NorvoCrypt.h"

namespace {

TEST(NorvoCryptTest, RoundTripAndFreshNonces) {
  const std::string document = "<norvopc>\n    <username>a&amp;b</username>\n</norvopc>\n";
  NorvoCrypt crypt;
  std::string first, second;
  ASSERT_EQ(crypt.EncryptStrToBinary(document, &first), static_cast<int>(document.size() + 28));
  ASSERT_GT(crypt.EncryptStrToBinary(document, &second), 0);
  EXPECT_NE(first, second);  // one key stream per save would show the two saves' difference

  NorvoCrypt reader;
  std::string data = first;
  ASSERT_TRUE(reader.DecryptStrFromBinary(&data));
  EXPECT_EQ(data, document);
  EXPECT_TRUE(reader.status());
}

TEST(NorvoCryptTest, ChangedTruncatedOrForeignDataIsRefusedAndLeftAlone) {
  NorvoCrypt crypt;
  std::string sealed;
  ASSERT_GT(crypt.EncryptStrToBinary("secret settings", &sealed), 0);

  std::string flipped = sealed;
  flipped[flipped.size() / 2] ^= 0x20;
  std::string truncated = sealed.substr(0, sealed.size() - 1);
  for (std::string data : {flipped, truncated, std::string("short")}) {
    const std::string before = data;
    NorvoCrypt reader;
    EXPECT_FALSE(reader.DecryptStrFromBinary(&data));
    EXPECT_FALSE(reader.status());
    EXPECT_FALSE(reader.error_text().empty());
    EXPECT_EQ(data, before);
  }

  // Another key, or the built-in phrase with a salt, cannot open it.
  for (auto [key, salt] : {std::pair<const char*, const char*>{"other key", nullptr},
                           std::pair<const char*, const char*>{nullptr, "salt"}}) {
    std::string data = sealed;
    NorvoCrypt reader;
    EXPECT_FALSE(reader.DecryptStrFromBinary(&data, key, salt));
  }
  std::string data = sealed;
  EXPECT_TRUE(NorvoCrypt().DecryptStrFromBinary(&data));
}

TEST(NorvoCryptTest, GivenKeyOpensOnlyWithTheSameKey) {
  NorvoCrypt crypt;
  std::string sealed;
  ASSERT_GT(crypt.EncryptStrToBinary("x", &sealed, "k1", nullptr), 0);
  std::string data = sealed;
  EXPECT_FALSE(NorvoCrypt().DecryptStrFromBinary(&data));
  EXPECT_TRUE(NorvoCrypt().DecryptStrFromBinary(&data, "k1", nullptr));
  EXPECT_EQ(data, "x");
  EXPECT_FALSE(NorvoCrypt().SetKey("", nullptr));
  EXPECT_EQ(NorvoCrypt().EncryptStrToBinary("x", nullptr), 0);
}

}  // namespace
