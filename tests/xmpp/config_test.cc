// Where the hub connects: NORVO_XMPP_SERVER and its default.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "login/xmppconfig.h"

namespace {

TEST(XmppConfigTest, ParsesServerAddresses) {
  struct Case {
    std::string text;
    bool ok;
    std::string host = "";
    int port = 0;
  };
  const Case cases[] = {
      {"xmpp.example.com", true, "xmpp.example.com", 5222},
      {"xmpp.example.com:5223", true, "xmpp.example.com", 5223},
      {"127.0.0.1:15222", true, "127.0.0.1", 15222},
      {"[::1]", true, "::1", 5222},
      {"[::1]:5269", true, "::1", 5269},
      {"", false},
      {":5222", false},
      {"host:", false},
      {"host:0", false},
      {"host:65536", false},
      {"host:52x2", false},
      {"host:5222:1", false},
      {"ho st", false},
      {"user@host", false},
      {"[::1", false},
      {"[]:5222", false},
      {"[::1]5222", false},
  };
  for (const Case& c : cases) {
    norvo_login::XmppServerAddress address{"untouched", 1};
    EXPECT_EQ(norvo_login::ParseServerAddress(c.text, &address), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(address.host, c.host) << c.text;
      EXPECT_EQ(address.port, c.port) << c.text;
    } else {
      EXPECT_EQ(address.host, "untouched") << c.text;
    }
  }
}

TEST(XmppConfigTest, EnvironmentOrTheAccountsDomain) {
  struct Case {
    const char* value;  // null: unset
    std::string host;
    int port;
  };
  const Case cases[] = {
      {nullptr, "example.com", 5222},
      {"", "example.com", 5222},
      {"xmpp.example.net:5999", "xmpp.example.net", 5999},
      {"bad value:", "example.com", 5222},  // ignored, not half used
  };
  for (const Case& c : cases) {
    if (c.value == nullptr) {
      unsetenv("NORVO_XMPP_SERVER");
    } else {
      setenv("NORVO_XMPP_SERVER", c.value, 1);
    }
    const norvo_login::XmppServerAddress a = norvo_login::ServerFromEnvironment("example.com");
    EXPECT_EQ(a.host, c.host) << (c.value ? c.value : "(unset)");
    EXPECT_EQ(a.port, c.port) << (c.value ? c.value : "(unset)");
  }
  unsetenv("NORVO_XMPP_SERVER");
}

}  // namespace
