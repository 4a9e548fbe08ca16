#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcMutex.h"
#include "comps/recomps/rcOs.h"
#include "qvTestUtil.h"

namespace {

int semValue(int id) { return semctl(id, 0, GETVAL); }
// Processes blocked waiting for the value to become 0, i.e. for the lock.
int semWaiters(int id) { return semctl(id, 0, GETZCNT); }
bool semExists(int id) {
  struct semid_ds ds;
  union {
    int val;
    struct semid_ds* buf;
  } arg;
  arg.buf = &ds;
  return semctl(id, 0, IPC_STAT, arg) == 0;
}

// A child that takes the lock, prints "A" (or "?" when the lock is not its own), waits for a
// byte on its input, releases and exits 0 (5 when the lock is still held).
void lockInChild(rc::Mutex* mutex) {
  mutex->acquire();
  printf("%s\n", mutex->isAcquired() ? "A" : "?");
  fflush(stdout);
  char c;
  if (read(0, &c, 1) != 1) _exit(4);
  mutex->release();
  _exit(mutex->isAcquired() ? 5 : 0);
}

// A System V key no semaphore uses yet.
key_t freshKey() {
  key_t key = static_cast<key_t>(0x51560000 | (getpid() & 0xFFFF));
  while (rc::Mutex::findSemaphore(key) != -1) ++key;
  return key;
}

}  // namespace

TEST(Mutex, SecondProcessWaitsForEveryRelease) {
  int id;
  {
    rc::Mutex mutex;
    mutex.create();
    id = mutex.id();
    ASSERT_GE(id, 0);
    EXPECT_EQ(semValue(id), 0);
    EXPECT_FALSE(mutex.isAcquired());

    mutex.acquire();
    mutex.acquire();
    EXPECT_TRUE(mutex.isAcquired());
    EXPECT_EQ(mutex.lockCount(), 2);
    EXPECT_EQ(semValue(id), 1);

    qvtest::LiveProc child([&] { lockInChild(&mutex); });
    ASSERT_TRUE(qvtest::eventually([&] { return semWaiters(id) == 1; })) << "child never waited";
    EXPECT_FALSE(child.waitForLine("A", 0));

    // One release of two: still held, the child still waits.
    mutex.release();
    EXPECT_TRUE(mutex.isAcquired());
    EXPECT_EQ(semValue(id), 1);
    EXPECT_EQ(semWaiters(id), 1);
    EXPECT_FALSE(child.waitForLine("A", 0));

    mutex.release();
    EXPECT_FALSE(mutex.isAcquired());
    EXPECT_TRUE(child.waitForLine("A", 10));
    EXPECT_EQ(semValue(id), 1);
    EXPECT_TRUE(child.writeInput("x", 1));
    EXPECT_EQ(child.finish().exitStatus, 0);
    EXPECT_EQ(semValue(id), 0);

    // Free again for this process.
    mutex.acquire();
    EXPECT_EQ(mutex.lockCount(), 1);
    mutex.release();
  }
  EXPECT_FALSE(semExists(id)) << "semaphore " << id << " left behind";
}

TEST(Mutex, KeyedSemaphoreIsSharedAndKeepsItsState) {
  const key_t key = freshKey();
  int id;
  {
    rc::Mutex owner;
    owner.create(key);
    id = owner.id();
    ASSERT_GE(id, 0);
    EXPECT_EQ(rc::Mutex::findSemaphore(key), id);
    owner.acquire();

    // Another user of the key attaches without disturbing the holder.
    const auto r = qvtest::runInChild([&] {
      rc::Mutex::destroy(key + 0x7000);  // no such key: nothing happens
      static rc::Mutex other;
      other.create(key);
      printf("%d %d %d", other.id() == id, semValue(id), other.isAcquired());
      fflush(stdout);
      _exit(0);
    });
    EXPECT_EQ(r.out, "1 1 0");
    EXPECT_EQ(semValue(id), 1);
    EXPECT_TRUE(owner.isAcquired());
    owner.release();

    rc::Mutex::destroy(key);
    EXPECT_EQ(rc::Mutex::findSemaphore(key), -1);
    EXPECT_FALSE(semExists(id));
    // The object still names the removed semaphore; its destroy is harmless.
  }
  EXPECT_EQ(rc::Mutex::findSemaphore(key), -1);
}

TEST(Mutex, HolderThatDiesGivesTheLockBack) {
  rc::Mutex mutex;
  mutex.create();
  const int id = mutex.id();
  for (int how : {0, SIGKILL}) {
    SCOPED_TRACE(how);
    const auto r = qvtest::runInChild([&] {
      mutex.acquire();
      printf("%d", semValue(id));
      fflush(stdout);
      if (how != 0) raise(how);
      _exit(0);
    });
    EXPECT_EQ(r.out, "1");
    EXPECT_EQ(semValue(id), 0);
  }
  mutex.destroy();
  EXPECT_FALSE(semExists(id));
  EXPECT_EQ(mutex.id(), -1);
}

TEST(Mutex, AcquireOnARemovedSemaphoreFails) {
  rc::Mutex mutex;
  mutex.create();
  const int id = mutex.id();
  ASSERT_EQ(semctl(id, 0, IPC_RMID), 0);
  const rc::Err err = qvtest::thrownErr([&] { mutex.acquire(true); });
  EXPECT_EQ(err.code(), RC_SC_ACQUIRE_LOCK_FAILED);
  EXPECT_EQ(err.code2(), EINVAL | rc::Err::UNIX_ERRNO);
  ASSERT_NE(err.args(), nullptr);
  EXPECT_EQ(std::string((*err.args())[0]), std::to_string(id));
  EXPECT_STREQ(err.routine(), "recomps/Mutex::acquire");
  EXPECT_FALSE(mutex.isAcquired());
}

TEST(Mutex, MisuseEndsTheProcess) {
  rc::Mutex mutex;
  mutex.create();
  const int id = mutex.id();
  struct Row {
    const char* name;
    void (*misuse)(rc::Mutex*);
    const char* message;
  };
  const Row rows[] = {
      {"release without acquire", [](rc::Mutex* m) { m->release(); }, ""},
      {"release once too often",
       [](rc::Mutex* m) {
         m->acquire();
         m->release();
         m->release();
       },
       ""},
      {"acquire without semaphore", [](rc::Mutex*) { rc::Mutex().acquire(); }, "'m_id != -1'"},
      {"release without semaphore", [](rc::Mutex*) { rc::Mutex().release(); }, ""},
      {"acquire with interrupts honoured at once",
       [](rc::Mutex* m) {
         rc::_s_jobintr_state.sigint_enabled = true;
         m->acquire();
       },
       ""},
      {"acquire that cannot throw",
       [](rc::Mutex* m) {
         semctl(m->id(), 0, IPC_RMID);
         m->acquire(false);
       },
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto r = qvtest::runInChild([&] { row.misuse(&mutex); });
    EXPECT_EQ(r.termSignal, SIGABRT);
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
  }
  // The last row removed the semaphore; no child held it in between.
  EXPECT_FALSE(semExists(id));
}

TEST(Mutex, HeapMutexOwnsItsSemaphore) {
  rc::Mutex* mutex = new rc::Mutex();
  memType_t type = mt_unused;
  ASSERT_TRUE(mem::getMemType(mutex, &type));
  EXPECT_EQ(type, mt_rc_mutex);
  EXPECT_EQ(mem::getMemRegion(mutex), mem::REGION_HEAP);  // the only region of this program
  mutex->create();
  const int id = mutex->id();
  ASSERT_TRUE(semExists(id));
  mutex->acquire();
  EXPECT_EQ(semValue(id), 1);
  mutex->release();
  delete mutex;
  EXPECT_FALSE(semExists(id));
}
