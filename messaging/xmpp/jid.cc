#include "messaging/xmpp/jid.h"

#include <cctype>

namespace buzz {

namespace {

constexpr size_t kMaxPartBytes = 1023;

std::string AsciiLower(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsSpaceOrControl(unsigned char c) { return c <= 0x20 || c == 0x7F; }

bool ValidNode(const std::string& node) {
  if (node.size() > kMaxPartBytes) return false;
  for (unsigned char c : node) {
    if (IsSpaceOrControl(c)) return false;
    switch (c) {
      case '"':
      case '&':
      case '\'':
      case '/':
      case ':':
      case '<':
      case '>':
      case '@':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool ValidIpv6Literal(const std::string& domain) {
  // "[" hex digits, ':' and '.' (an embedded IPv4 part) "]".
  if (domain.size() < 4 || domain.front() != '[' || domain.back() != ']') return false;
  bool colon = false;
  for (size_t i = 1; i + 1 < domain.size(); ++i) {
    const unsigned char c = domain[i];
    if (c == ':') {
      colon = true;
    } else if (!std::isxdigit(c) && c != '.') {
      return false;
    }
  }
  return colon;
}

// Host names: labels of 1 to 63 bytes separated by dots; ASCII letters, digits and '-' (not at
// either end of a label), or bytes above 0x7F for internationalised names.
bool ValidDomain(const std::string& domain) {
  if (domain.empty() || domain.size() > kMaxPartBytes) return false;
  if (domain.front() == '[') return ValidIpv6Literal(domain);
  size_t label = 0;
  for (size_t i = 0; i <= domain.size(); ++i) {
    if (i == domain.size() || domain[i] == '.') {
      if (label == 0 || label > 63) return false;
      if (domain[i - 1] == '-' || domain[i - label] == '-') return false;
      label = 0;
      continue;
    }
    const unsigned char c = domain[i];
    if (!(std::isalnum(c) || c == '-' || c == '_' || c >= 0x80)) return false;
    ++label;
  }
  return true;
}

bool ValidResource(const std::string& resource) {
  if (resource.size() > kMaxPartBytes) return false;
  for (unsigned char c : resource) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

Jid::Jid(const std::string& jid_string) {
  // The resource starts at the first '/'; the node ends at the last '@' before it.
  const size_t slash = jid_string.find('/');
  const std::string before = jid_string.substr(0, slash);
  const size_t at = before.find('@');
  if (slash != std::string::npos && slash + 1 == jid_string.size()) return;  // empty resource
  if (at == 0) return;                                                       // empty node
  const std::string node = at == std::string::npos ? std::string() : before.substr(0, at);
  const std::string domain = at == std::string::npos ? before : before.substr(at + 1);
  const std::string resource =
      slash == std::string::npos ? std::string() : jid_string.substr(slash + 1);
  Parse(node, domain, resource);
}

Jid::Jid(const std::string& node, const std::string& domain, const std::string& resource) {
  Parse(node, domain, resource);
}

void Jid::Parse(const std::string& node, const std::string& domain, const std::string& resource) {
  std::string d = AsciiLower(domain);
  if (d.size() > 1 && d.back() == '.') d.pop_back();
  std::string n = AsciiLower(node);
  if (!ValidNode(n) || !ValidDomain(d) || !ValidResource(resource)) return;
  node_ = std::move(n);
  domain_ = std::move(d);
  resource_ = resource;
}

std::string Jid::Str() const {
  if (!IsValid()) return std::string();
  std::string out;
  if (!node_.empty()) out = node_ + "@";
  out += domain_;
  if (!resource_.empty()) out += "/" + resource_;
  return out;
}

Jid Jid::BareJid() const {
  Jid bare;
  if (!IsValid()) return bare;
  bare.node_ = node_;
  bare.domain_ = domain_;
  return bare;
}

bool Jid::operator==(const Jid& other) const {
  return node_ == other.node_ && domain_ == other.domain_ && resource_ == other.resource_;
}

int Jid::Compare(const Jid& other) const {
  int r = domain_.compare(other.domain_);
  if (r != 0) return r;
  r = node_.compare(other.node_);
  if (r != 0) return r;
  return resource_.compare(other.resource_);
}

bool Jid::BareEquals(const Jid& other) const {
  return node_ == other.node_ && domain_ == other.domain_;
}

}  // namespace buzz
