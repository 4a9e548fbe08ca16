#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFdSet.h"
#include "qvTestUtil.h"

using rc::FdSet;
using rc::Timeval;

namespace {

// Callback object that records every call as "<fd>:<tag>:<R|T>" (ready or timeout); the tag is
// the user data.
struct Calls {
  std::vector<std::string> log;
  static void cb(void* obj, FdSet::CbType cbType, int fd, void* userData) {
    static_cast<Calls*>(obj)->log.push_back(std::to_string(fd) + ":" +
                                            static_cast<const char*>(userData) + ":" +
                                            (cbType == FdSet::CBT_TIMEOUT ? "T" : "R"));
  }
};

void* tag(const char* text) { return const_cast<char*>(text); }

class FdSetTest : public ::testing::Test {
 protected:
  void TearDown() override { FdSet::clearStaticFdInfos(); }
};

}  // namespace

TEST(FdBitSet, MasksAcrossWordBoundaries) {
  rc::FdBitSet bits;
  EXPECT_FALSE(bits.isAnySet(1024));
  EXPECT_EQ(bits.highestBelow(1024), -1);
  for (int fd : {0, 31, 32, 63, 64, 1023}) bits.set(fd);
  const struct {
    int numFds;
    bool any;
    int highest;
  } rows[] = {{0, false, -1}, {1, true, 0},   {31, true, 0},    {32, true, 31},    {33, true, 32},
              {64, true, 63}, {65, true, 64}, {1023, true, 64}, {1024, true, 1023}};
  for (const auto& r : rows) {
    EXPECT_EQ(bits.isAnySet(r.numFds), r.any) << r.numFds;
    EXPECT_EQ(bits.highestBelow(r.numFds), r.highest) << r.numFds;
  }
  bits.clear(0);
  EXPECT_FALSE(bits.isAnySet(31));
  EXPECT_FALSE(bits.isSet(-1));
  EXPECT_FALSE(bits.isSet(5000));
  bits.clear(5000);  // out of range: nothing to clear

  rc::FdBitSet merged;
  merged.orBelow(bits, 64);  // 63 and below only
  EXPECT_TRUE(merged.isSet(31) && merged.isSet(32) && merged.isSet(63));
  EXPECT_FALSE(merged.isSet(64) || merged.isSet(1023));
  rc::FdBitSet copy(bits);
  EXPECT_TRUE(copy.isSet(1023));
  copy.clearAll();
  EXPECT_FALSE(copy.isAnySet(1024));
  EXPECT_TRUE(bits.isSet(1023));
}

TEST_F(FdSetTest, CountFollowsAddAndRemove) {
  FdSet set;
  Calls calls;
  EXPECT_EQ(set.numFds(), -1);
  EXPECT_TRUE(set.isEmpty());
  const struct {
    bool add;
    FdSet::FdType type;
    int fd;
    int numFds;
  } steps[] = {
      {true, FdSet::FDT_READ, 5, 6},   {true, FdSet::FDT_WRITE, 9, 10},
      {true, FdSet::FDT_READ, 3, 10},  {false, FdSet::FDT_READ, 9, 10},  // wrong type: stays
      {false, FdSet::FDT_WRITE, 9, 6},  // highest goes: next highest + 1
      {false, FdSet::FDT_READ, 3, 6},  {false, FdSet::FDT_READ, 5, 6},  // last one: unchanged
  };
  for (const auto& s : steps) {
    if (s.add) {
      set.add(s.type, s.fd, &calls, Calls::cb, tag("x"));
    } else {
      set.remove(s.type, s.fd);
    }
    EXPECT_EQ(set.numFds(), s.numFds) << (s.add ? "add " : "remove ") << s.fd;
  }
  EXPECT_FALSE(set.readFds().isAnySet(1024) || set.writeFds().isAnySet(1024));
  set.clear();
  EXPECT_EQ(set.numFds(), 0);
  EXPECT_TRUE(set.isEmpty());
}

TEST_F(FdSetTest, DescriptorsOutsideTheSelectMaskAreRefused) {
  FdSet set;
  Calls calls;
  set.add(FdSet::FDT_READ, 4, &calls, Calls::cb, tag("x"));
  for (int fd : {-1, -7, 1024, 1500, 1 << 20}) {
    const rc::Err err =
        qvtest::thrownErr([&] { set.add(FdSet::FDT_READ, fd, &calls, Calls::cb, tag("x")); });
    EXPECT_EQ(err.severity(), RC_ERROR);
    EXPECT_EQ(err.code(), RC_SC_VAL_OUT_OF_RANGE);
    EXPECT_STREQ(err.routine(), "recomps/FdSet::add");
    ASSERT_NE(err.args(), nullptr);
    EXPECT_EQ(std::string((*err.args())[0]), "file descriptor " + std::to_string(fd));
    EXPECT_STREQ((*err.args())[2], "1023");
    EXPECT_EQ(set.numFds(), 5) << fd;
    set.remove(FdSet::FDT_READ, fd);  // nothing to remove, nothing breaks
  }
  EXPECT_TRUE(set.readFds().isSet(4));

  // A caller's mask wider than select's is cut at 1024 descriptors.
  fd_set wide;
  FD_ZERO(&wide);
  FD_SET(7, &wide);
  set.set(5000, &wide, FdSet::FDT_WRITE, nullptr, &calls, Calls::cb, tag("x"));
  EXPECT_EQ(set.numFds(), 8);
  EXPECT_TRUE(set.writeFds().isSet(7));
}

TEST_F(FdSetTest, ReadyDescriptorsAreCalledInAscendingOrderReadBeforeWrite) {
  qvtest::Pipe p;
  int sp[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sp), 0);
  ASSERT_EQ(write(sp[1], "x", 1), 1);  // sp[0]: readable and writable
  ASSERT_TRUE(p.put());                // p.rd readable, p.wr writable
  qvtest::Pipe idle;                   // never ready for reading

  Calls calls;
  FdSet set;
  set.set(Timeval(5, 0), &calls, Calls::cb, tag("t"));
  set.add(FdSet::FDT_WRITE, sp[0], &calls, Calls::cb, tag("w"));
  set.add(FdSet::FDT_READ, p.rd, &calls, Calls::cb, tag("r"));
  set.add(FdSet::FDT_READ, idle.rd, &calls, Calls::cb, tag("r"));
  set.add(FdSet::FDT_WRITE, p.wr, &calls, Calls::cb, tag("w"));
  set.add(FdSet::FDT_READ, sp[0], &calls, Calls::cb, tag("r"));

  std::vector<std::pair<int, std::string>> expected = {
      {sp[0], "r"}, {sp[0], "w"}, {p.rd, "r"}, {p.wr, "w"}};
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> want;
  for (const auto& e : expected) want.push_back(std::to_string(e.first) + ":" + e.second + ":R");

  EXPECT_EQ(set.doSelect(true), 4);
  EXPECT_EQ(calls.log, want);  // the 5 s timeout is not run in an iteration with ready descriptors
  close(sp[0]);
  close(sp[1]);
}

TEST_F(FdSetTest, TimeoutRunsOnlyWhenNothingIsReady) {
  qvtest::Pipe p;
  Calls calls;
  FdSet set;
  set.set(Timeval(0, 1000), &calls, Calls::cb, tag("t"));
  set.add(FdSet::FDT_READ, p.rd, &calls, Calls::cb, tag("r"));
  EXPECT_EQ(set.doSelect(true), 0);
  EXPECT_EQ(calls.log, std::vector<std::string>{"-1:t:T"});
  // The records have been handed out: the set has no timeout left.
  EXPECT_EQ(set.minTimeoutVec(), nullptr);
  EXPECT_EQ(set.minTimeout(), Timeval::NO_TIMEVAL);

  calls.log.clear();
  set.set(Timeval(0, 1000), &calls, Calls::cb, tag("t"));
  set.add(FdSet::FDT_READ, p.rd, &calls, Calls::cb, tag("r"));
  ASSERT_TRUE(p.put());
  EXPECT_EQ(set.doSelect(true), 1);
  EXPECT_EQ(calls.log, std::vector<std::string>{std::to_string(p.rd) + ":r:R"});
}

TEST_F(FdSetTest, PollingWaitLeavesTimeoutsThatAreNotDue) {
  Calls calls;
  const struct {
    Timeval timeout;
    bool runs;
  } rows[] = {{{5, 0}, false}, {{0, 2}, false}, {{0, 1}, true}, {{0, 0}, true}};
  for (const auto& r : rows) {
    calls.log.clear();
    FdSet set;
    set.set(r.timeout, &calls, Calls::cb, tag("t"));
    EXPECT_EQ(set.doSelect(false), 0);
    EXPECT_EQ(calls.log.size(), r.runs ? 1u : 0u) << r.timeout.tv_sec << "." << r.timeout.tv_usec;
    // Not run: still there for the next wait.
    EXPECT_EQ(set.minTimeoutVec() != nullptr, !r.runs);
  }
}

TEST_F(FdSetTest, ZeroTimeoutRunsWithoutWaitingOrPolling) {
  qvtest::Pipe p;
  ASSERT_TRUE(p.put());
  Calls calls;
  FdSet set;
  set.set(Timeval::ZERO_TIMEVAL, &calls, Calls::cb, tag("t"));
  set.add(FdSet::FDT_READ, p.rd, &calls, Calls::cb, tag("r"));
  // The ready descriptor is not even looked at: the due timeout runs at once.
  EXPECT_EQ(set.doSelect(true), 0);
  EXPECT_EQ(calls.log, std::vector<std::string>{"-1:t:T"});
  EXPECT_EQ(set.doSelect(true), 1);
  EXPECT_EQ(calls.log.back(), std::to_string(p.rd) + ":r:R");
}

TEST_F(FdSetTest, CalcTimeoutChoosesTheWait) {
  const Timeval none = Timeval::NO_TIMEVAL;
  const struct {
    Timeval timeout;  // NO_TIMEVAL: the set has none
    bool okToBlock;
    bool useTimeout;
    Timeval wait;
  } rows[] = {
      {none, true, false, none},     {none, false, true, {0, 1}},
      {{2, 0}, true, true, {2, 0}},  {{2, 0}, false, true, {0, 1}},
      {{0, 0}, true, true, {0, 0}},  {{0, 0}, false, true, {0, 0}},
      {{0, 1}, false, true, {0, 1}}, {{0, 2}, false, true, {0, 1}},
      {{-1, 0}, true, true, {0, 0}},  // already past: due now
  };
  Calls calls;
  for (const auto& r : rows) {
    FdSet set;
    if (r.timeout != none) set.set(r.timeout, &calls, Calls::cb, tag("t"));
    timeval tv = {-9, -9};
    EXPECT_EQ(set.calcTimeout(&tv, r.okToBlock), r.useTimeout) << r.timeout.tv_sec;
    if (r.useTimeout) {
      EXPECT_EQ(Timeval(tv), r.wait) << r.timeout.tv_sec << "." << r.timeout.tv_usec;
    }
  }
  // A timeout whose records were handed out is no timeout.
  FdSet fired;
  fired.set(Timeval(0, 0), &calls, Calls::cb, tag("t"));
  fired.invokeTimeoutCbs();
  timeval tv;
  EXPECT_FALSE(fired.calcTimeout(&tv, true));
}

TEST_F(FdSetTest, MergeKeepsTheNearestTimeoutAndTheLastSetOfEqualOnes) {
  Calls a, b;
  const struct {
    Timeval lhs, rhs;
    Timeval min;
    const char* owner;  // whose record is in the minimum vector
  } rows[] = {
      {{2, 0}, {1, 0}, {1, 0}, "b"},
      {{1, 0}, {2, 0}, {1, 0}, "a"},
      {{1, 0}, {1, 0}, {1, 0}, "b"},  // equal: the set merged last wins
      {{0, 5}, {0, 6}, {0, 5}, "a"},
  };
  for (const auto& r : rows) {
    FdSet lhs, rhs;
    lhs.set(r.lhs, &a, Calls::cb, tag("a"));
    rhs.set(r.rhs, &b, Calls::cb, tag("b"));
    lhs += rhs;
    EXPECT_EQ(lhs.minTimeout(), r.min);
    ASSERT_NE(lhs.minTimeoutVec(), nullptr);
    ASSERT_EQ(lhs.minTimeoutVec()->size(), 1u);
    EXPECT_STREQ(static_cast<const char*>((*lhs.minTimeoutVec())[0]->userData()), r.owner);
  }

  // Masks: the union, and the larger count.
  FdSet lhs, rhs, none;
  lhs.add(FdSet::FDT_READ, 3, &a, Calls::cb, tag("a"));
  rhs.add(FdSet::FDT_WRITE, 8, &b, Calls::cb, tag("b"));
  rhs.add(FdSet::FDT_READ, 2, &b, Calls::cb, tag("b"));
  lhs += rhs;
  lhs += lhs;
  lhs += none;  // never-used set: count -1
  EXPECT_EQ(lhs.numFds(), 9);
  EXPECT_TRUE(lhs.readFds().isSet(2) && lhs.readFds().isSet(3) && lhs.writeFds().isSet(8));
  EXPECT_EQ(lhs.minTimeout(), Timeval::NO_TIMEVAL);

  // A merged set carries no record of its own, so merging it on passes no timeout.
  FdSet timed, merged, target;
  timed.set(Timeval(1, 0), &a, Calls::cb, tag("a"));
  merged.clear();
  merged += timed;
  EXPECT_EQ(merged.minTimeout(), Timeval(1, 0));
  target += merged;
  EXPECT_EQ(target.minTimeout(), Timeval::NO_TIMEVAL);
}

TEST_F(FdSetTest, SubtractRemovesDescriptorsAndRebuildsTheTimeout) {
  Calls calls;
  FdSet set, gone;
  set.set(Timeval(0, 5), &calls, Calls::cb, tag("own"));
  const struct {
    FdSet::FdType type;
    int fd;
    Timeval timeout;  // of the per-descriptor record
  } regs[] = {
      {FdSet::FDT_READ, 3, {2, 0}},
      {FdSet::FDT_WRITE, 4, {1, 0}},
      {FdSet::FDT_READ, 8, {1, 0}},
      {FdSet::FDT_READ, 6, {0, 1}},
      {FdSet::FDT_WRITE, 9, Timeval::NO_TIMEVAL},
  };
  for (const auto& r : regs) {
    set.add(r.type, r.fd, &calls, Calls::cb, tag("fd"));
    if (r.timeout != Timeval::NO_TIMEVAL)
      FdSet::fdInfo(r.fd, r.type)->set(r.timeout, &calls, Calls::cb, tag("fd"));
  }
  gone.add(FdSet::FDT_READ, 6, &calls, Calls::cb, tag("fd"));
  gone.add(FdSet::FDT_READ, 9, &calls, Calls::cb, tag("fd"));  // 9 is watched for writing only
  FdSet::fdInfo(6, FdSet::FDT_READ)->set(Timeval(0, 1), &calls, Calls::cb, tag("fd"));

  set -= gone;
  EXPECT_FALSE(set.readFds().isSet(6));
  EXPECT_TRUE(set.writeFds().isSet(9));
  EXPECT_EQ(set.numFds(), 10);
  // The set's own 5 us timeout is gone; the nearest per-descriptor timeout, 1 s, is shared by
  // write 4 and read 8, in descriptor order.
  EXPECT_EQ(set.minTimeout(), Timeval(1, 0));
  ASSERT_NE(set.minTimeoutVec(), nullptr);
  ASSERT_EQ(set.minTimeoutVec()->size(), 2u);
  EXPECT_EQ((*set.minTimeoutVec())[0], FdSet::fdInfo(4, FdSet::FDT_WRITE));
  EXPECT_EQ((*set.minTimeoutVec())[1], FdSet::fdInfo(8, FdSet::FDT_READ));

  // Without per-descriptor timeouts nothing is left.
  FdSet plain, other;
  plain.set(Timeval(3, 0), &calls, Calls::cb, tag("own"));
  plain.add(FdSet::FDT_READ, 20, &calls, Calls::cb, tag("fd"));
  plain -= other;
  plain -= plain;
  EXPECT_EQ(plain.minTimeout(), Timeval::NO_TIMEVAL);
  EXPECT_TRUE(plain.minTimeoutVec() == nullptr || plain.minTimeoutVec()->isEmpty());
  EXPECT_TRUE(plain.readFds().isSet(20));
}

TEST_F(FdSetTest, CopiesShareDueRecordsButOwnTheirTimeoutRecord) {
  Calls calls;
  FdSet original;
  original.set(Timeval(1, 0), &calls, Calls::cb, tag("t"));
  original.add(FdSet::FDT_READ, 5, &calls, Calls::cb, tag("r"));
  const rc::FdInfo* own = original.timeoutInfo();
  EXPECT_EQ(own->references(), 2);  // the set and its minimum vector

  {
    FdSet copy(original);
    EXPECT_EQ(copy.numFds(), 6);
    EXPECT_TRUE(copy.readFds().isSet(5));
    EXPECT_EQ(copy.minTimeout(), Timeval(1, 0));
    EXPECT_NE(copy.timeoutInfo(), own);
    EXPECT_EQ(copy.timeoutInfo()->timeout(), Timeval(1, 0));
    EXPECT_EQ((*copy.minTimeoutVec())[0], own);
    EXPECT_EQ(own->references(), 3);
    copy.clear();
    EXPECT_EQ(original.timeoutInfo()->cbRtn(), &Calls::cb);
    EXPECT_EQ(own->references(), 2);

    FdSet assigned;
    assigned = original;
    assigned = assigned;
    EXPECT_EQ((*assigned.minTimeoutVec())[0], own);
    assigned = FdSet();
    EXPECT_EQ(assigned.minTimeout(), Timeval::NO_TIMEVAL);
  }
  EXPECT_EQ(own->references(), 2);

  // A set that got its timeout by merging copies too.
  FdSet merged;
  merged.clear();
  merged += original;
  FdSet copyOfMerged(merged);
  EXPECT_EQ(copyOfMerged.minTimeout(), Timeval(1, 0));
  EXPECT_EQ(copyOfMerged.timeoutInfo(), nullptr);
}

TEST_F(FdSetTest, ReadyDescriptorWithoutCallbackRaisesUnregisteredFd) {
  qvtest::Pipe p;
  ASSERT_TRUE(p.put());
  fd_set fds;
  FD_ZERO(&fds);
  FD_SET(p.rd, &fds);
  FdSet set;
  set.set(p.rd + 1, &fds, FdSet::FDT_READ, nullptr, nullptr, Calls::cb, tag("r"));
  for (int round = 0; round < 2; ++round) {
    const rc::Err err = qvtest::thrownErr([&] { set.doSelect(true); });
    EXPECT_EQ(err.severity(), RC_WARNING);
    EXPECT_EQ(err.code(), RC_SC_UNREGISTERED_FD);
    ASSERT_NE(err.args(), nullptr);
    EXPECT_STREQ((*err.args())[0], "m_cbObj or m_cbRtn");
    // A registration cleared behind the set's back is no better.
    Calls calls;
    set.add(FdSet::FDT_READ, p.rd, &calls, Calls::cb, tag("r"));
    FdSet::fdInfo(p.rd, FdSet::FDT_READ)->clear();
  }
}

TEST_F(FdSetTest, CallbackMayDropTheProcessWideTables) {
  qvtest::Pipe p;
  ASSERT_TRUE(p.put());
  struct Dropper {
    int calls = 0;
    static void cb(void* obj, FdSet::CbType, int, void*) {
      ++static_cast<Dropper*>(obj)->calls;
      FdSet::clearStaticFdInfos();
    }
  } dropper;
  FdSet set;
  set.add(FdSet::FDT_READ, p.rd, &dropper, Dropper::cb, nullptr);
  EXPECT_EQ(set.doSelect(true), 1);
  EXPECT_EQ(dropper.calls, 1);
  // The record was recreated empty on the next look-up.
  EXPECT_EQ(FdSet::fdInfo(p.rd, FdSet::FDT_READ)->cbRtn(), nullptr);
}

TEST_F(FdSetTest, ProcessWideRecordsAreSharedBySets) {
  Calls first, second;
  FdSet one, two;
  one.add(FdSet::FDT_READ, 7, &first, Calls::cb, tag("one"));
  two.add(FdSet::FDT_READ, 7, &second, Calls::cb, tag("two"));
  EXPECT_EQ(FdSet::fdInfo(7, FdSet::FDT_READ)->cbObj(), &second);
  EXPECT_NE(FdSet::fdInfo(7, FdSet::FDT_WRITE), FdSet::fdInfo(7, FdSet::FDT_READ));
  one.remove(FdSet::FDT_READ, 7);
  EXPECT_EQ(FdSet::fdInfo(7, FdSet::FDT_READ)->cbObj(), &second);
  // Descriptors past the initial table grow it.
  EXPECT_EQ(FdSet::fdInfo(3000, FdSet::FDT_READ)->fd(), FdSet::NO_FD);
}

TEST(FdSet, EmptySetBlocksUntilASignalInterrupts) {
  const auto r = qvtest::runInChild([] {
    struct sigaction act = {};
    act.sa_handler = [](int) {};
    sigaction(SIGALRM, &act, nullptr);
    itimerval timer = {{0, 0}, {0, 50000}};
    setitimer(ITIMER_REAL, &timer, nullptr);
    FdSet set;
    set.clear();
    const int rc = set.doSelect(true);
    printf("%d %d\n", rc, rc < 0 ? errno : 0);
  });
  EXPECT_EQ(r.out, "-1 " + std::to_string(EINTR) + "\n");
}

TEST_F(FdSetTest, SetsRecordsAndVectorsLiveOnTheTypedHeap) {
  static_assert(std::is_base_of_v<rc::RefCnt, rc::FdInfo>, "records are reference counted");
  Calls calls;
  FdSet* set = new FdSet();
  EXPECT_TRUE(mem::validateBlock(set, mt_rc_fd_set));
  set->add(FdSet::FDT_READ, 5, &calls, Calls::cb, tag("r"));
  const rc::FdInfo* shared = FdSet::fdInfo(5, FdSet::FDT_READ);
  EXPECT_TRUE(mem::validateBlock(shared, mt_rc_fd_info));
  EXPECT_EQ(shared->references(), 1);  // the process-wide table's
  set->set(Timeval(1, 0), &calls, Calls::cb, tag("t"));
  EXPECT_TRUE(mem::validateBlock(set->timeoutInfo(), mt_rc_fd_info));
  EXPECT_TRUE(mem::validateBlock(set->minTimeoutVec(), mt_rc_fd_info_vec));

  // A record released by its last holder goes; one still held by another stays.
  rc::FdInfo* info = new rc::FdInfo(1);
  EXPECT_TRUE(mem::validateBlock(info, mt_rc_fd_info));
  {
    rc::FdInfoVec vec(1);
    vec.append(info);
    vec.append(info);
    EXPECT_EQ(info->references(), 3);
    rc::FdInfoVec copy(vec);
    EXPECT_EQ(info->references(), 5);
  }
  EXPECT_EQ(info->references(), 1);
  rc::FdInfo::release(info);
  rc::FdInfo::release(nullptr);
  delete set;
}
