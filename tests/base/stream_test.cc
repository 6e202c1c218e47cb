#include "messaging/base/stream.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace talk_base {
namespace {

// A stream that answers each Read or Write with the next step of a script: a result and how
// many bytes that call moves (at most what the caller offers).
class ScriptedStream : public StreamInterface {
 public:
  struct Step {
    StreamResult result;
    size_t bytes;
  };
  explicit ScriptedStream(std::vector<Step> script) : script_(script.begin(), script.end()) {}

  StreamState GetState() const override { return SS_OPEN; }
  StreamResult Read(void* buffer, size_t len, size_t* read, int* error) override {
    const Step step = Next(len, error);
    for (size_t i = 0; i < step.bytes; ++i) static_cast<char*>(buffer)[i] = NextByte();
    if (read != nullptr) *read = step.bytes;
    return step.result;
  }
  StreamResult Write(const void* data, size_t len, size_t* written, int* error) override {
    const Step step = Next(len, error);
    sink_.append(static_cast<const char*>(data), step.bytes);
    if (written != nullptr) *written = step.bytes;
    return step.result;
  }
  void Close() override {}

  size_t calls() const { return calls_; }
  const std::string& sink() const { return sink_; }

 private:
  Step Next(size_t len, int* error) {
    ++calls_;
    if (script_.empty()) return {SR_EOS, 0};
    Step step = script_.front();
    script_.pop_front();
    if (step.result != SR_SUCCESS) step.bytes = 0;
    step.bytes = std::min(step.bytes, len);
    if (step.result == SR_ERROR && error != nullptr) *error = 42;
    return step;
  }
  char NextByte() { return static_cast<char>('a' + (produced_++ % 26)); }

  std::deque<Step> script_;
  size_t calls_ = 0;
  size_t produced_ = 0;
  std::string sink_;
};

struct AllCase {
  const char* name;
  std::vector<ScriptedStream::Step> script;
  size_t want;  // bytes asked for
  StreamResult result;
  size_t moved;
  int error;
};

const AllCase kAllCases[] = {
    {"whole in pieces",
     {{SR_SUCCESS, 3}, {SR_SUCCESS, 3}, {SR_SUCCESS, 100}},
     10,
     SR_SUCCESS,
     10,
     0},
    {"end of stream midway", {{SR_SUCCESS, 4}, {SR_EOS, 0}}, 10, SR_EOS, 4, 0},
    {"block midway", {{SR_SUCCESS, 2}, {SR_BLOCK, 0}}, 10, SR_BLOCK, 2, 0},
    {"error at once", {{SR_ERROR, 0}}, 10, SR_ERROR, 0, 42},
    // A success that moves nothing would loop forever; it ends as an error.
    {"success without progress", {{SR_SUCCESS, 1}, {SR_SUCCESS, 0}}, 10, SR_ERROR, 1, 0},
    {"nothing asked", {}, 0, SR_SUCCESS, 0, 0},
};

TEST(StreamTest, ReadAllGathersUntilFullOrStopped) {
  for (const AllCase& c : kAllCases) {
    ScriptedStream s(c.script);
    char buf[16] = {};
    size_t read = 999;
    int error = 0;
    EXPECT_EQ(s.ReadAll(buf, c.want, &read, &error), c.result) << c.name;
    EXPECT_EQ(read, c.moved) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    // The pieces land one after the other.
    EXPECT_EQ(std::string(buf, read), std::string("abcdefghijklmnop").substr(0, c.moved)) << c.name;
  }
}

TEST(StreamTest, WriteAllSendsUntilDoneOrStopped) {
  const std::string data = "0123456789";
  for (const AllCase& c : kAllCases) {
    ScriptedStream s(c.script);
    size_t written = 999;
    int error = 0;
    EXPECT_EQ(s.WriteAll(data.data(), c.want, &written, &error), c.result) << c.name;
    EXPECT_EQ(written, c.moved) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_EQ(s.sink(), data.substr(0, c.moved)) << c.name;
  }
  // The counters are optional.
  ScriptedStream s({{SR_SUCCESS, 5}, {SR_SUCCESS, 5}});
  EXPECT_EQ(s.WriteAll(data.data(), data.size(), nullptr, nullptr), SR_SUCCESS);
  EXPECT_EQ(s.sink(), data);
}

TEST(StreamTest, OptionalCapabilitiesDefaultToUnsupported) {
  ScriptedStream s({});
  size_t n = 0;
  EXPECT_FALSE(s.SetPosition(0));
  EXPECT_FALSE(s.Rewind());
  EXPECT_FALSE(s.GetPosition(&n));
  EXPECT_FALSE(s.GetSize(&n));
  EXPECT_FALSE(s.GetAvailable(&n));
}

}  // namespace
}  // namespace talk_base
