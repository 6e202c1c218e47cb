#include "messaging/xmpp/xmppengine.h"

namespace buzz {

const char* XmppEngine::ErrorText(int error) {
  switch (error) {
    case ERROR_NONE:
      return "";
    case ERROR_XML:
      return "Malformed XML or encoding error";
    case ERROR_STREAM:
      return "XMPP stream error";
    case ERROR_VERSION:
      return "XMPP version error";
    case ERROR_UNAUTHORIZED:
      return "User is not authorized (Check your username and password)";
    case ERROR_TLS:
      return "TLS could not be negotiated";
    case ERROR_AUTH:
      return "Authentication could not be negotiated";
    case ERROR_BIND:
      return "Resource or session binding could not be negotiated";
    case ERROR_CONNECTION_CLOSED:
      return "Connection closed by output handler.";
    case ERROR_DOCUMENT_CLOSED:
      return "Closed by </stream:stream>";
    case ERROR_SOCKET:
      return "Socket error";
  }
  return "Unknown error";
}

}  // namespace buzz
