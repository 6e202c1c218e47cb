// States, errors and handler levels of the XMPP engine, shared by the client and its tasks.
#pragma once

namespace buzz {

class XmlElement;

enum XmppReturnStatus {
  XMPP_RETURN_OK = 0,
  XMPP_RETURN_BADARGUMENT = 1,
  XMPP_RETURN_BADSTATE = 2,
  XMPP_RETURN_PENDING = 3,
  XMPP_RETURN_UNEXPECTED = 4,
  XMPP_RETURN_NOTYETIMPLEMENTED = 5,
};

enum TlsOptions {
  TLS_DISABLED,  // never start TLS (loopback tests)
  TLS_ENABLED,   // start TLS when offered
  TLS_REQUIRED,  // end with ERROR_TLS when the server does not offer it
};

class XmppEngine {
 public:
  enum State {
    STATE_NONE = 0,  // not yet connecting
    STATE_START,     // connecting to the server
    STATE_OPENING,   // the stream is being negotiated (TLS, SASL, binding)
    STATE_OPEN,      // signed in: stanzas flow
    STATE_CLOSED,    // ended; GetError tells why
  };

  // Why the stream ended. The numbers are part of the client's contract.
  enum Error {
    ERROR_NONE = 0,               // a normal close
    ERROR_XML = 1,                // malformed XML or encoding error
    ERROR_STREAM = 2,             // the server sent a stream error
    ERROR_VERSION = 3,            // not an XMPP 1.0 stream
    ERROR_UNAUTHORIZED = 4,       // the credentials were refused
    ERROR_TLS = 5,                // TLS could not be negotiated (or the certificate was refused)
    ERROR_AUTH = 6,               // no SASL mechanism could be agreed, or SASL failed otherwise
    ERROR_BIND = 7,               // resource binding or session establishment failed
    ERROR_CONNECTION_CLOSED = 8,  // the output side closed the connection
    ERROR_DOCUMENT_CLOSED = 9,    // the server closed the stream with </stream:stream>
    ERROR_SOCKET = 10,            // the connection failed or was lost; the subcode is the errno
  };

  // The order in which stanza handlers see an incoming stanza. HL_PEEK handlers see every
  // stanza and cannot take it; at the other levels the first handler that returns true takes it.
  enum HandlerLevel {
    HL_NONE = 0,  // not a handler
    HL_PEEK,      // sees everything, takes nothing
    HL_SINGLE,    // waits for one stanza (a response by id)
    HL_SENDER,    // stanzas from a particular sender
    HL_TYPE,      // stanzas of a kind (presence, roster pushes, requests)
    HL_ALL,       // the catch-all
    HL_COUNT,
  };

  // The log text of an engine error ("Malformed XML or encoding error", ...); empty for
  // ERROR_NONE, "Unknown error" for codes outside the enumeration.
  static const char* ErrorText(int error);
};

// Receives incoming stanzas at the level it was registered with.
class XmppStanzaHandler {
 public:
  virtual ~XmppStanzaHandler() = default;
  // True takes the stanza; the pointer is valid only during the call.
  virtual bool HandleStanza(const XmlElement* stanza) = 0;
};

}  // namespace buzz
