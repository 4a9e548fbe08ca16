#include "comps/recomps/rcMutex.h"

#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOs.h"

namespace rc {

namespace {

constexpr int kPerms = 0666;

// Value 0 is free, 1 held. SEM_UNDO lets the kernel take back the hold of a process that ends
// without releasing.
struct sembuf acquireOps[] = {
    {0, 0, 0},         // wait until free
    {0, 1, SEM_UNDO},  // then take it, in the same atomic step
};
struct sembuf releaseOps[] = {
    {0, -1, IPC_NOWAIT | SEM_UNDO},
};

int semopRetrying(int id, struct sembuf* ops, size_t numOps) {
  int rc;
  do {
    rc = semop(id, ops, numOps);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// A semaphore this process just made starts free whatever the system's initial value is.
void setFree(int id) {
  union {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
  } arg;
  arg.val = 0;
  semctl(id, 0, SETVAL, arg);
}

void assertSemget(int id) {
  if (id < 0) Assert_throwAssert("m_id >= 0", "performing semget", true, __FILE__, __LINE__);
}

}  // namespace

Mutex::Mutex() : m_id(-1), m_lockCount(0), m_currentPid(0), m_currentTid(0) {}

Mutex::Mutex(int /*type*/, int /*id*/) : Mutex() {}

Mutex::~Mutex() {
  if (m_id != -1) destroy();
}

void Mutex::attach(int id) {
  if (m_id != -1) destroy();
  m_id = id;
  m_lockCount = 0;
  m_currentPid = 0;
  m_currentTid = 0;
}

void Mutex::create() {
  const int id = semget(IPC_PRIVATE, 1, IPC_CREAT | IPC_EXCL | kPerms);
  assertSemget(id);
  setFree(id);
  attach(id);
}

void Mutex::create(key_t key) {
  int id = semget(key, 1, IPC_CREAT | IPC_EXCL | kPerms);
  if (id >= 0) {
    setFree(id);
  } else if (errno == EEXIST) {
    // Another process made it; freeing it here could break that process's hold.
    id = semget(key, 1, kPerms);
  }
  assertSemget(id);
  attach(id);
}

int Mutex::findSemaphore(key_t key) {
  const int id = semget(key, 1, kPerms);
  return id >= 0 ? id : -1;
}

void Mutex::acquire(bool throwOnError) {
  RC_ASSERT(m_id != -1);
  // The process would end by an interrupt while holding a lock others wait for.
  if (_s_jobintr_state.sigint_enabled && _s_jobintr_state.critsec_count == 0) abort();
  if (isAcquired()) {
    ++m_lockCount;
    return;
  }
  if (semopRetrying(m_id, acquireOps, 2) != 0) {
    const int semErrno = errno;
    if (!throwOnError) abort();
    Err_ThrowErrno(RC_SC_ACQUIRE_LOCK_FAILED, VarArgs() << m_id, semErrno,
                   "recomps/Mutex::acquire");
  }
  m_lockCount = 1;
  m_currentPid = getpid();
  m_currentTid = 0;
}

void Mutex::release() {
  if (m_id == -1 || !isAcquired()) abort();
  if (--m_lockCount > 0) return;
  m_currentPid = 0;
  semopRetrying(m_id, releaseOps, 1);
}

// The process id is asked afresh rather than taken from rc::Os: a child forked without
// rc::Os::reinit() must not pass for its parent.
bool Mutex::isAcquired() const { return m_currentPid != 0 && m_currentPid == getpid(); }

void Mutex::destroy() {
  if (m_id != -1) semctl(m_id, 0, IPC_RMID);
  m_id = -1;
  m_lockCount = 0;
  m_currentPid = 0;
}

void Mutex::destroy(key_t key) {
  const int id = findSemaphore(key);
  if (id != -1) semctl(id, 0, IPC_RMID);
}

}  // namespace rc
