// Incremental parser of an XMPP stream.
//
// The stream is one XML document whose root is <stream:stream>; every child of the root is a
// stanza (or a negotiation element). Bytes are handed over in whatever pieces the socket
// delivers; the parser reports the root's opening tag, each complete top-level child as a tree,
// and the end of the root. Malformed XML or bad encoding is reported once, after which the
// parser ignores further input until Reset().
#pragma once

#include <memory>
#include <string>

#include "messaging/xmpp/xmlelement.h"

namespace buzz {

class XmppStreamParser {
 public:
  class Handler {
   public:
    virtual ~Handler() = default;
    // The root's opening tag, with its attributes and no children.
    virtual void OnStreamStart(const XmlElement& stream) = 0;
    // A complete top-level child. The handler owns it from here on.
    virtual void OnStanza(std::unique_ptr<XmlElement> stanza) = 0;
    // The root was closed (</stream:stream>).
    virtual void OnStreamEnd() = 0;
    // The input is not well formed (or uses what a stream may not: a DOCTYPE, entities,
    // processing instructions, more than kMaxDepth levels or a stanza above kMaxStanzaBytes).
    virtual void OnXmlError(const std::string& message) = 0;
  };

  // Limits against hostile peers.
  static constexpr int kMaxDepth = 64;
  static constexpr size_t kMaxStanzaBytes = 1 << 20;

  explicit XmppStreamParser(Handler* handler);
  ~XmppStreamParser();
  XmppStreamParser(const XmppStreamParser&) = delete;
  XmppStreamParser& operator=(const XmppStreamParser&) = delete;

  // Feeds the next piece of the stream. False once the stream has failed.
  bool Parse(const char* data, size_t len);
  // Starts a new document (after STARTTLS and after SASL success the stream restarts).
  void Reset();
  bool failed() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace buzz
