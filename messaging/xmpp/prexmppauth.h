// A handler that may obtain credentials before the stream is opened and then runs SASL.
#pragma once

#include <string>

#include "messaging/sigslot/sigslot.h"
#include "messaging/xmpp/jid.h"
#include "messaging/xmpp/saslhandler.h"

namespace buzz {

class PreXmppAuth : public SaslHandler {
 public:
  ~PreXmppAuth() override = default;

  // Starts obtaining credentials; SignalAuthDone follows (possibly at once, inside this call).
  virtual void StartPreXmppAuth(const Jid& jid, const std::string& server_host, int server_port,
                                const std::string& pass, const std::string& auth_mechanism,
                                const std::string& auth_token) = 0;
  virtual bool IsAuthDone() const = 0;
  virtual bool IsAuthorized() const = 0;
  virtual bool HadError() const = 0;
  virtual int GetError() const = 0;
  virtual std::string GetAuthMechanism() const = 0;
  virtual std::string GetAuthToken() const = 0;

  sigslot::signal0<> SignalAuthDone;
};

}  // namespace buzz
