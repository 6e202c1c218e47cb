// Where the hub connects: the XMPP server and the extra trusted CA file from the environment.
#pragma once

#include <string>

namespace norvo_login {

struct XmppServerAddress {
  std::string host;
  int port = 5222;
};

// Parses "host", "host:port", "[v6addr]" or "[v6addr]:port" (port 1..65535). False for anything
// else, leaving *out untouched.
bool ParseServerAddress(const std::string& text, XmppServerAddress* out);

// NORVO_XMPP_SERVER when it is set and valid, else `domain` at port 5222. A set but invalid value
// is logged and ignored.
XmppServerAddress ServerFromEnvironment(const std::string& domain);

// NORVO_XMPP_CA_FILE, or empty.
std::string CaFileFromEnvironment();

}  // namespace norvo_login
