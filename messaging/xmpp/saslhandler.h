// Chooses the SASL mechanism among those the server offers, and creates it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "messaging/xmpp/saslmechanism.h"

namespace buzz {

class SaslHandler {
 public:
  virtual ~SaslHandler() = default;
  // The mechanism to use among `mechanisms` (in the server's order), or an empty text for none.
  // `encrypted` tells whether the stream runs over TLS.
  virtual std::string ChooseBestSaslMechanism(const std::vector<std::string>& mechanisms,
                                              bool encrypted) = 0;
  // Null for a name it does not know.
  virtual std::unique_ptr<SaslMechanism> CreateSaslMechanism(const std::string& mechanism) = 0;
};

}  // namespace buzz
