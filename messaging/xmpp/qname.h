// Qualified XML names: a namespace URI and a local part.
#pragma once

#include <string>

namespace buzz {

class QName {
 public:
  QName() = default;
  QName(const std::string& ns, const std::string& local) : namespace_(ns), local_part_(local) {}
  // A name without a namespace (attributes such as "id" or "type").
  explicit QName(const std::string& local) : local_part_(local) {}

  const std::string& Namespace() const { return namespace_; }
  const std::string& LocalPart() const { return local_part_; }
  // "ns:local", or the local part alone when there is no namespace. For logs and maps.
  std::string Merged() const;
  bool IsEmpty() const { return namespace_.empty() && local_part_.empty(); }

  int Compare(const QName& other) const;
  bool operator==(const QName& other) const {
    return local_part_ == other.local_part_ && namespace_ == other.namespace_;
  }
  bool operator!=(const QName& other) const { return !(*this == other); }
  bool operator<(const QName& other) const { return Compare(other) < 0; }

 private:
  std::string namespace_;
  std::string local_part_;
};

}  // namespace buzz
