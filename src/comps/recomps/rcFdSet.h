// Descriptor sets of the event loop. An rc::FdSet holds a read mask, a write mask and one optional
// timeout (the nearest one, with the records of every callback due at that time); doSelect()
// waits in select() and calls back whoever is ready or, when nothing is, whoever timed out.
//
// Descriptor callbacks are not stored in the sets: they live in one process-wide table indexed by
// descriptor and type (fdInfo()), so adding the same descriptor and type to two sets with
// different callbacks leaves the last callback in force for both, and removing a descriptor from
// a set keeps its record. Timeout callbacks travel with the sets as reference-counted
// rc::FdInfo records, shared between a set and its copies.
//
// Descriptors must lie in 0-1023 (the size of a select mask): FdSet::add refuses any other value
// with rc::Err (RC_ERROR, RC_SC_VAL_OUT_OF_RANGE, routine "recomps/FdSet::add") and never touches
// a mask. A ready descriptor whose record has no callback object or routine raises rc::Err
// (RC_WARNING, RC_SC_UNREGISTERED_FD) from doSelect. Not thread-safe; not for signal handlers.
//
// Sets, records and record vectors live on the typed heap as mt_rc_fd_set, mt_rc_fd_info and
// mt_rc_fd_info_vec blocks; the storage of the record vectors and tables is mt_rc_fd_info_vec.
#pragma once

#include <sys/select.h>

#include <cstddef>
#include <vector>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memStlAlloc.h"
#include "comps/recomps/rcRefCnt.h"
#include "comps/recomps/rcTimeval.h"

namespace rc {

class FdInfo;
class FdInfoVec;

// A select mask for descriptors 0-1023.
class FdBitSet {
 public:
  enum { MAX_FD_SET_FDS = 1024, MAX_BIT_SET_BITS = 4096 };

  FdBitSet();
  // Copies only the select mask: the reserved area is never written after construction.
  FdBitSet(const FdBitSet& src) : m_fdSet(src.m_fdSet) { clearReserved(); }
  FdBitSet& operator=(const FdBitSet& src) {
    m_fdSet = src.m_fdSet;
    return *this;
  }

  // fd must lie in 0-1023 (assertion); clear() and isSet() accept any value.
  void set(int fd);
  void clear(int fd);
  void clearAll();
  bool isSet(int fd) const;
  // Whether any of the descriptors 0 to numFds-1 is set.
  bool isAnySet(int numFds) const;
  // ORs the descriptors of src below numFds into this mask.
  void orBelow(const FdBitSet& src, int numFds);
  // The highest descriptor set below numFds, or -1.
  int highestBelow(int numFds) const;
  fd_set* asFdSetPtr() { return &m_fdSet; }
  const fd_set* asFdSetPtr() const { return &m_fdSet; }

 private:
  void clearReserved();

  unsigned char m_reserved[MAX_BIT_SET_BITS / 8];
  fd_set m_fdSet;
};

class FdSet : public mem::newDelete<mt_rc_fd_set> {
 public:
  enum FdType { FDT_READ = 0, FDT_WRITE = 1 };
  enum CbType { CBT_FD_READY = 0, CBT_TIMEOUT = 1, CBT_FD_CLOSE = 2 };
  enum { NO_FD = -1 };
  // The callback of descriptors and timeouts; fd is -1 for a timeout.
  typedef void (*CbRtn)(void* cbObj, CbType cbType, int fd, void* userData);

  FdSet();
  // Copies the masks and the timeout: the copy gets its own duplicate of the timeout record and
  // shares the records of the minimum vector.
  FdSet(const FdSet& src);
  FdSet& operator=(const FdSet& src);
  virtual ~FdSet();

  // Registers the process-wide callback of (fd, fdType) and sets the mask bit. Throws rc::Err
  // for a descriptor outside 0-1023.
  void add(FdType fdType, int fd, void* cbObj, CbRtn cbRtn, void* userData);
  // Clears the mask bit; the process-wide record stays.
  void remove(FdType fdType, int fd);
  // Empties the set, then makes timeout its only content.
  void set(const Timeval& timeout, void* cbObj, CbRtn cbRtn, void* userData);
  // Empties the set, then adds every descriptor below numFds (at most 1024) set in fds and, when
  // timeout is given and not NO_TIMEVAL, the timeout.
  void set(int numFds, const fd_set* fds, FdType fdType, const Timeval* timeout, void* cbObj,
           CbRtn cbRtn, void* userData);
  // Creates or refills the set's own timeout record (and the minimum vector); returns the record.
  FdInfo* initTimeoutRtn(const Timeval& timeout, void* cbObj, CbRtn cbRtn, void* userData);
  void clear();
  bool isEmpty() const;

  // Merge: the union of the masks; the nearer timeout wins, and on a tie the records of rhs
  // replace this set's.
  FdSet& operator+=(const FdSet& rhs);
  // Removes the descriptors of rhs, then rebuilds the timeout from the per-descriptor records of
  // the descriptors still set.
  FdSet& operator-=(const FdSet& rhs);

  // One wait and dispatch. Returns select's result (negative after an interrupted wait, 0 after
  // a timeout). Without okToBlock the wait lasts at most 1 microsecond, and a timeout that is
  // not due by then is left for a later call. A descriptor that a callback removes from this set
  // is not called back afterwards in the same dispatch.
  int doSelect(bool okToBlock);
  // The select count and the masks to pass; a mask is null when none of its bits is set.
  void getSelectInfo(int* numFds, const fd_set** readFds, const fd_set** writeFds) const;
  // Fills the timeout to wait with; false means wait without limit.
  bool calcTimeout(timeval* timeout, bool okToBlock) const;
  // Calls the process-wide record of (fd, fdType).
  void invokeCb(int fd, FdType fdType, CbType cbType);
  // Calls every record of the minimum vector, which the set gives up first.
  void invokeTimeoutCbs();

  int numFds() const { return m_numFds; }
  const FdBitSet& readFds() const { return m_readFds; }
  const FdBitSet& writeFds() const { return m_writeFds; }
  const Timeval& minTimeout() const { return m_minTimeout; }
  // Null until a timeout is set.
  const FdInfoVec* minTimeoutVec() const { return m_minTimeoutVec; }
  const FdInfo* timeoutInfo() const { return m_timeoutInfo; }

  // The process-wide record of (fd, fdType), created (with one reference) on first use.
  static FdInfo* fdInfo(int fd, FdType fdType);
  // Releases both process-wide tables and their records.
  static void clearStaticFdInfos();
  static int maxOsFds() { return FdBitSet::MAX_FD_SET_FDS; }

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  FdBitSet& mask(FdType fdType) { return fdType == FDT_READ ? m_readFds : m_writeFds; }
  void copyTimeoutFrom(const FdSet& src);

  int m_numFds;
  FdBitSet m_readFds;
  FdBitSet m_writeFds;
  FdInfo* m_timeoutInfo;
  Timeval m_minTimeout;
  FdInfoVec* m_minTimeoutVec;

  // The process-wide records of one descriptor type, indexed by descriptor.
  typedef std::vector<FdInfo*, mem::stlAlloc<FdInfo*, mt_rc_fd_info_vec>> FdInfoTable;
  static FdInfoTable* s_fdInfos[2];
};

// One callback registration: a descriptor record (fd, no timeout) or a timeout record (fd -1).
// Reference counted; whoever brings the count to zero with removeReference() deletes it (see
// release()).
class FdInfo : public RefCnt, public mem::newDelete<mt_rc_fd_info> {
 public:
  explicit FdInfo(int references = 1);
  ~FdInfo() override;
  FdInfo(const FdInfo&) = delete;
  FdInfo& operator=(const FdInfo&) = delete;

  // Drops one reference and deletes the record when none is left; null is ignored.
  static void release(FdInfo* info);

  void set(int fd, void* cbObj, FdSet::CbRtn cbRtn, void* userData);
  void set(const Timeval& timeout, void* cbObj, FdSet::CbRtn cbRtn, void* userData);
  void clear();
  // A new record with the same content and the given count.
  FdInfo* copy(int references) const;
  // Calls the routine; a cleared record (no routine) calls nothing.
  void invokeCb(FdSet::CbType cbType);

  int fd() const { return m_fd; }
  const Timeval& timeout() const { return m_timeout; }
  void* cbObj() const { return m_cbObj; }
  FdSet::CbRtn cbRtn() const { return m_cbRtn; }
  void* userData() const { return m_userData; }

 private:
  int m_fd;
  Timeval m_timeout;
  void* m_cbObj;
  FdSet::CbRtn m_cbRtn;
  void* m_userData;
};

// A vector of counted FdInfo pointers: holds one reference on each element.
class FdInfoVec : public mem::newDelete<mt_rc_fd_info_vec> {
 public:
  explicit FdInfoVec(size_t capacity = 16) { m_vec.reserve(capacity); }
  FdInfoVec(const FdInfoVec& src);
  FdInfoVec& operator=(const FdInfoVec& src);
  ~FdInfoVec() { clear(); }

  // Takes a reference.
  void append(FdInfo* info);
  // Releases every element.
  void clear();
  size_t size() const { return m_vec.size(); }
  bool isEmpty() const { return m_vec.empty(); }
  FdInfo* operator[](size_t n) const;

 private:
  std::vector<FdInfo*, mem::stlAlloc<FdInfo*, mt_rc_fd_info_vec>> m_vec;
};

}  // namespace rc
