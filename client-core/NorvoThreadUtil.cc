#include "client-core/NorvoThreadUtil.h"

#include <chrono>
#include <thread>

#include "client-core/NorvoLogger.h"
#include "messaging/base/logging.h"

int JMutex::Init() {
  if (initialized_) return -1;
  initialized_ = true;
  return 0;
}

int JMutex::Lock() {
  if (!initialized_) return -1;
  mutex_.lock();
  return 0;
}

int JMutex::Unlock() {
  if (!initialized_) return -1;
  mutex_.unlock();
  return 0;
}

namespace NorvoThreadUtil {

void InitMutex(JMutex* m) {
  if (m == nullptr) NorvoLogger::Fatal("NorvoThreadUtil::InitMutex - Null mutex given, abort now.");
  if (m->IsInitialized()) {
    LOG(LS_WARNING) << "NorvoThreadUtil::InitMutex - Already initialized";
    return;
  }
  if (m->Init() != 0)
    NorvoLogger::Fatal("NorvoThreadUtil::InitMutex - Mutext cannot be initialized.");
}

void MutexLock(JMutex* m) {
  if (m != nullptr) m->Lock();
}

void MutexUnlock(JMutex* m) {
  if (m != nullptr) m->Unlock();
}

void SleepSec(int seconds) {
  if (seconds <= 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long long>(seconds) * 1000));
}

}  // namespace NorvoThreadUtil
