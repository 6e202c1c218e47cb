// XMPP addresses: [node@]domain[/resource].
//
// Parsing follows the address rules of RFC 7622 as far as a client needs them: each part is
// 1 to 1023 bytes; the node may not contain the characters "&'/:<>@ or white space; the domain is
// a host name, an IPv4 address or a bracketed IPv6 address, and one trailing dot is dropped;
// node and domain compare without regard to ASCII case (they are kept in lower case), the resource
// exactly. An address that breaks a rule is invalid: IsValid() is false and every part is empty.
#pragma once

#include <string>

namespace buzz {

class Jid {
 public:
  Jid() = default;
  explicit Jid(const std::string& jid_string);
  Jid(const std::string& node, const std::string& domain, const std::string& resource);

  const std::string& node() const { return node_; }
  const std::string& domain() const { return domain_; }
  const std::string& resource() const { return resource_; }

  std::string Str() const;  // empty for an invalid address
  Jid BareJid() const;      // without the resource

  bool IsValid() const { return !domain_.empty(); }
  bool IsEmpty() const { return node_.empty() && domain_.empty() && resource_.empty(); }
  bool IsBare() const { return IsValid() && resource_.empty(); }
  bool IsFull() const { return IsValid() && !resource_.empty(); }

  bool operator==(const Jid& other) const;
  bool operator!=(const Jid& other) const { return !(*this == other); }
  bool operator<(const Jid& other) const { return Compare(other) < 0; }
  int Compare(const Jid& other) const;
  bool BareEquals(const Jid& other) const;

 private:
  void Parse(const std::string& node, const std::string& domain, const std::string& resource);

  std::string node_;
  std::string domain_;
  std::string resource_;
};

}  // namespace buzz
