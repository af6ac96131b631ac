// mutex_lock.h - holds a pthread mutex for a scope.  The library needs no
// C++ runtime, so std::mutex (which may throw) is not used.
#pragma once

#include <pthread.h>

namespace tkpixmap {

class MutexLock {
 public:
  explicit MutexLock(pthread_mutex_t &mutex) : mutex_(mutex) { pthread_mutex_lock(&mutex_); }
  ~MutexLock() { pthread_mutex_unlock(&mutex_); }
  MutexLock(const MutexLock &) = delete;
  MutexLock &operator=(const MutexLock &) = delete;

 private:
  pthread_mutex_t &mutex_;
};

}  // namespace tkpixmap
