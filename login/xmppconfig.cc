#include "login/xmppconfig.h"

#include <cctype>
#include <cstdlib>

#include "messaging/base/logging.h"

namespace norvo_login {

namespace {

bool ParsePort(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

bool ValidHost(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  for (unsigned char c : host) {
    if (c <= 0x20 || c == 0x7F || c == '/' || c == '@' || c == '[' || c == ']') return false;
  }
  return true;
}

}  // namespace

bool ParseServerAddress(const std::string& text, XmppServerAddress* out) {
  XmppServerAddress result;
  std::string rest;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close < 2) return false;
    result.host = text.substr(1, close - 1);
    for (unsigned char c : result.host) {
      if (!(std::isxdigit(c) || c == ':' || c == '.')) return false;
    }
    rest = text.substr(close + 1);
  } else {
    const size_t colon = text.find(':');
    result.host = text.substr(0, colon);
    if (!ValidHost(result.host)) return false;
    rest = colon == std::string::npos ? std::string() : text.substr(colon);
  }
  if (!rest.empty()) {
    if (rest.front() != ':' || !ParsePort(rest.substr(1), &result.port)) return false;
  }
  *out = result;
  return true;
}

XmppServerAddress ServerFromEnvironment(const std::string& domain) {
  XmppServerAddress address;
  address.host = domain;
  const char* value = std::getenv("NORVO_XMPP_SERVER");
  if (value == nullptr || *value == '\0') return address;
  if (!ParseServerAddress(value, &address)) {
    LOG(LS_WARNING) << "norvo_login::ServerFromEnvironment - NORVO_XMPP_SERVER is not host[:port],"
                    << " using " << domain << ":5222";
  }
  return address;
}

std::string CaFileFromEnvironment() {
  const char* value = std::getenv("NORVO_XMPP_CA_FILE");
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace norvo_login
