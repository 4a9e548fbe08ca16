// A recursive lock on a System V semaphore that several processes can share. The semaphore's
// value is 0 while the lock is free and 1 while a process holds it; the owning process may take
// it again and must release it as many times. Ownership is per process, so the lock serialises
// processes, not threads of one process.
//
// The semaphore is private (create()) or found by key (create(key)); an object that holds one
// removes it from the system when destroyed, so exactly one object per semaphore should own its
// lifetime. The kernel undoes the hold of a process that ends while it holds the lock, so a
// crashed holder does not block the others forever.
//
// Errors: a failing semaphore operation while acquiring raises RC_SC_ACQUIRE_LOCK_FAILED (or
// aborts, when the caller cannot take an error); misuse — releasing a lock the process does not
// hold, acquiring while interrupts are honoured at once outside a critical section — aborts.
// Not for use in signal handlers. A Mutex made with new is an mt_rc_mutex heap block: it asks for
// the first shared region, where a lock shared between processes belongs, and gets the process
// heap, the only region of this program.
#pragma once

#include <sys/types.h>

#include "comps/memcomps/base/memNewDelete.h"

namespace rc {

class Mutex : public mem::newDelete<mt_rc_mutex, mem::REGION_MIN> {
 public:
  Mutex();
  // type and id are accepted for compatibility and not used.
  Mutex(int type, int id);
  // Removes the semaphore when the object holds one.
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // A new private semaphore, free. Failure is an internal assertion.
  void create();
  // The semaphore of key, made (free) when missing; an existing one keeps its state.
  void create(key_t key);
  // The id of the existing semaphore of key, or -1.
  static int findSemaphore(key_t key);

  // Waits until the lock is free and takes it; the owner only counts one more level.
  void acquire(bool throwOnError = true);
  void release();
  // Whether the calling process holds the lock.
  bool isAcquired() const;

  void destroy();
  // Removes the semaphore of key if there is one.
  static void destroy(key_t key);

  int id() const { return m_id; }
  int lockCount() const { return m_lockCount; }

 private:
  void attach(int id);

  int m_id;
  int m_lockCount;
  pid_t m_currentPid;
  long m_currentTid;
};

}  // namespace rc
