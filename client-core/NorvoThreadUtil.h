// Small thread helpers of the client core: an operating-system mutex that is set up once and
// locked without a time-out, and a sleep in whole seconds.
#pragma once

#include <mutex>

// A mutex that must be set up (Init) before it is used; locking an uninitialised JMutex fails
// instead of touching an unusable object.
class JMutex {
 public:
  JMutex() = default;
  JMutex(const JMutex&) = delete;
  JMutex& operator=(const JMutex&) = delete;

  // 0 on success, -1 when the mutex was already set up.
  int Init();
  bool IsInitialized() const { return initialized_; }
  // 0 on success, -1 when the mutex was never set up.
  int Lock();
  int Unlock();

 private:
  std::mutex mutex_;
  bool initialized_ = false;
};

namespace NorvoThreadUtil {

// Sets up `m`. A null mutex or one that cannot be set up ends the process (the program's own code
// never passes either); a mutex set up before is left as it is, with a warning.
void InitMutex(JMutex* m);
// Blocking, no time-out.
void MutexLock(JMutex* m);
void MutexUnlock(JMutex* m);
// Sleeps `seconds` × 1000 milliseconds; zero or negative returns at once.
void SleepSec(int seconds);

}  // namespace NorvoThreadUtil
