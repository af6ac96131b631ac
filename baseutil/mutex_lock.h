// mutex_lock.h - holds a pthread mutex for a scope: the one lock guard of
// the services (base/), of libbaseutil and of the X home (tkpixmap/x11).  Header-only, so that both
// libraries compile it in; pthread rather than std::mutex, whose lock may
// throw, because neither library may need the C++ runtime.
//
// Lock order.  A thread holding one of these mutexes may take those below
// it, never one above, so that no two threads can each wait for the other:
//   my_ip_lock (hostid.cc)
//   my_ips_lock (hostid.cc)
//   handleTableMutex, the gx handle table's (handle_table.cc)
//   ip2name_lock, name2ip_lock, username_lock (hostid.cc), reserveMutex
//     (reserve_file.cc), pwnam_lock (shims.cc)
//   sinkLock, the error log's (elog.cc): held only while the sink is read or
//     set, never while a message is written or the sink runs
#ifndef TKPIXMAP_BASEUTIL_MUTEX_LOCK_H
#define TKPIXMAP_BASEUTIL_MUTEX_LOCK_H

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

#endif
