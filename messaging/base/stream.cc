#include "messaging/base/stream.h"

namespace talk_base {

StreamResult StreamInterface::ReadAll(void* buffer, size_t buffer_len, size_t* read, int* error) {
  auto* p = static_cast<char*>(buffer);
  size_t total = 0;
  StreamResult result = SR_SUCCESS;
  while (total < buffer_len) {
    size_t n = 0;
    result = Read(p + total, buffer_len - total, &n, error);
    if (result != SR_SUCCESS) break;
    if (n == 0) {
      // A stream that reports success without progress would spin forever.
      result = SR_ERROR;
      break;
    }
    total += n;
  }
  if (read != nullptr) *read = total;
  return result;
}

StreamResult StreamInterface::WriteAll(const void* data, size_t data_len, size_t* written,
                                       int* error) {
  const auto* p = static_cast<const char*>(data);
  size_t total = 0;
  StreamResult result = SR_SUCCESS;
  while (total < data_len) {
    size_t n = 0;
    result = Write(p + total, data_len - total, &n, error);
    if (result != SR_SUCCESS) break;
    if (n == 0) {
      result = SR_ERROR;
      break;
    }
    total += n;
  }
  if (written != nullptr) *written = total;
  return result;
}

}  // namespace talk_base
