// Messages, their payloads and their handlers.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

namespace talk_base {

// Payload of a message. A message owns its payload and frees it after delivery, or when the
// message is dropped (Clear, or a loop that ends with the message still pending).
class MessageData {
 public:
  MessageData() = default;
  virtual ~MessageData() = default;
};

template <class T>
class TypedMessageData : public MessageData {
 public:
  explicit TypedMessageData(const T& data) : data_(data) {}
  explicit TypedMessageData(T&& data) : data_(std::move(data)) {}
  const T& data() const { return data_; }
  T& data() { return data_; }

 private:
  T data_;
};

class MessageHandler;

// Matches every message id in Clear.
constexpr uint32_t MQID_ANY = static_cast<uint32_t>(-1);

struct Message {
  MessageHandler* phandler = nullptr;
  uint32_t message_id = 0;
  // Owned by the message. A handler may take it over with pdata.release().
  std::unique_ptr<MessageData> pdata;
};

class MessageHandler {
 public:
  virtual ~MessageHandler() = default;
  virtual void OnMessage(Message* msg) = 0;
};

}  // namespace talk_base
