#include "messaging/base/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace talk_base {
namespace {

struct Vector {
  const char* plain;
  const char* encoded;
};

// RFC 4648, section 10.
constexpr Vector kRfcVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64Test, EncodesAndDecodesTheRfcVectors) {
  for (const Vector& v : kRfcVectors) {
    EXPECT_EQ(Base64::Encode(v.plain), v.encoded) << v.plain;
    std::string decoded = "left over";
    EXPECT_TRUE(Base64::Decode(v.encoded, &decoded)) << v.encoded;
    EXPECT_EQ(decoded, v.plain);
  }
}

TEST(Base64Test, RoundTripsEveryByteValue) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  // Every length modulo 3, so each padding case sees high and zero bytes.
  for (size_t len : {256u, 255u, 254u}) {
    const std::string data = all.substr(256 - len);
    const std::string encoded = Base64::Encode(data.data(), data.size());
    EXPECT_EQ(encoded.size() % 4, 0u);
    std::string decoded;
    ASSERT_TRUE(Base64::Decode(encoded, &decoded));
    EXPECT_EQ(decoded, data);
  }
  EXPECT_EQ(Base64::Encode(std::string("\xfb\xff\xbf", 3)), "+/+/");
}

TEST(Base64Test, RefusesMalformedInputAndLeavesOutputEmpty) {
  const char* kMalformed[] = {
      "Zg",              // length not a multiple of four
      "Zg=",             // short, even with padding
      "Zm9vY",           // five characters
      "Z===",            // three padding characters
      "====",            // nothing but padding
      "=Zg=",            // padding first
      "Zg=a",            // a digit after padding
      "Zm8=Zm8=",        // padding in the middle of the text
      "Zm9v-_==",        // URL-safe alphabet
      "Zm9v\nZm8=",      // line break
      "Zm 9",            // space
      "Zh==",            // leftover bits not zero (canonical form is "Zg==")
      "Zm9=",            // likewise for one padding character ("Zm8=")
      "Zm9v\xc3\xa9==",  // bytes outside ASCII
  };
  for (const char* text : kMalformed) {
    std::string out = "left over";
    EXPECT_FALSE(Base64::Decode(text, &out)) << text;
    EXPECT_TRUE(out.empty()) << text;
  }
  std::string with_nul("Zm9v\0Zm8", 8);
  std::string out;
  EXPECT_FALSE(Base64::Decode(with_nul, &out));
  EXPECT_FALSE(Base64::Decode("Zm9v", nullptr));
}

}  // namespace
}  // namespace talk_base
