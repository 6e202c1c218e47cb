#include "messaging/xmpp/qname.h"

namespace buzz {

std::string QName::Merged() const {
  if (namespace_.empty()) return local_part_;
  return namespace_ + ":" + local_part_;
}

int QName::Compare(const QName& other) const {
  int result = local_part_.compare(other.local_part_);
  if (result != 0) return result;
  return namespace_.compare(other.namespace_);
}

}  // namespace buzz
