#include "comps/recomps/rcFdSet.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcErr.h"

namespace rc {

namespace {

typedef unsigned long MaskWord;
constexpr int kWordBits = __NFDBITS;
static_assert(sizeof(__fd_mask) == sizeof(MaskWord), "select mask words");

MaskWord word(const fd_set* set, int i) { return static_cast<MaskWord>(__FDS_BITS(set)[i]); }

// The number of mask words that hold descriptors 0 to numFds-1, and the bits of the last one.
int wordsBelow(int numFds) { return (numFds + kWordBits - 1) / kWordBits; }
MaskWord lastWordBits(int numFds) {
  const int rem = numFds % kWordBits;
  return rem == 0 ? ~MaskWord(0) : (MaskWord(1) << rem) - 1;
}

// Word i of a mask, without the bits of descriptors numFds and above.
MaskWord wordBelow(const fd_set* set, int i, int numFds) {
  const MaskWord bits = word(set, i);
  return i == wordsBelow(numFds) - 1 ? bits & lastWordBits(numFds) : bits;
}

int clampCount(int numFds) {
  if (numFds < 0) return 0;
  return numFds > FdBitSet::MAX_FD_SET_FDS ? FdBitSet::MAX_FD_SET_FDS : numFds;
}

bool validFd(int fd) { return fd >= 0 && fd < FdBitSet::MAX_FD_SET_FDS; }

void assertFdType(FdSet::FdType fdType) {
  RC_ASSERT(fdType == FdSet::FDT_READ || fdType == FdSet::FDT_WRITE);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// FdBitSet

FdBitSet::FdBitSet() {
  clearReserved();
  FD_ZERO(&m_fdSet);
}

void FdBitSet::clearReserved() { memset(m_reserved, 0, sizeof m_reserved); }

void FdBitSet::set(int fd) {
  RC_ASSERT(fd >= 0 && fd < MAX_FD_SET_FDS);
  FD_SET(fd, &m_fdSet);
}

void FdBitSet::clear(int fd) {
  if (validFd(fd)) FD_CLR(fd, &m_fdSet);
}

void FdBitSet::clearAll() { FD_ZERO(&m_fdSet); }

bool FdBitSet::isSet(int fd) const { return validFd(fd) && FD_ISSET(fd, &m_fdSet); }

bool FdBitSet::isAnySet(int numFds) const {
  numFds = clampCount(numFds);
  const int words = wordsBelow(numFds);
  for (int i = 0; i < words; ++i) {
    if (wordBelow(&m_fdSet, i, numFds) != 0) return true;
  }
  return false;
}

void FdBitSet::orBelow(const FdBitSet& src, int numFds) {
  numFds = clampCount(numFds);
  const int words = wordsBelow(numFds);
  for (int i = 0; i < words; ++i) {
    __FDS_BITS(&m_fdSet)[i] |= static_cast<__fd_mask>(wordBelow(&src.m_fdSet, i, numFds));
  }
}

int FdBitSet::highestBelow(int numFds) const {
  numFds = clampCount(numFds);
  for (int i = wordsBelow(numFds) - 1; i >= 0; --i) {
    const MaskWord bits = wordBelow(&m_fdSet, i, numFds);
    if (bits != 0) return i * kWordBits + (kWordBits - 1 - __builtin_clzl(bits));
  }
  return -1;
}

// ---------------------------------------------------------------------------------------------
// FdInfo, FdInfoVec

FdInfo::FdInfo(int references)
    : RefCnt(references),
      m_fd(FdSet::NO_FD),
      m_timeout(Timeval::NO_TIMEVAL),
      m_cbObj(nullptr),
      m_cbRtn(nullptr),
      m_userData(nullptr) {}

FdInfo::~FdInfo() {
  poison(m_cbObj);
  poison(m_userData);
}

void FdInfo::release(FdInfo* info) { RefCnt_release(info); }

void FdInfo::set(int fd, void* cbObj, FdSet::CbRtn cbRtn, void* userData) {
  m_fd = fd;
  m_timeout = Timeval::NO_TIMEVAL;
  m_cbObj = cbObj;
  m_cbRtn = cbRtn;
  m_userData = userData;
}

void FdInfo::set(const Timeval& timeout, void* cbObj, FdSet::CbRtn cbRtn, void* userData) {
  m_fd = FdSet::NO_FD;
  m_timeout = timeout;
  m_cbObj = cbObj;
  m_cbRtn = cbRtn;
  m_userData = userData;
}

void FdInfo::clear() {
  m_fd = FdSet::NO_FD;
  m_timeout = Timeval::NO_TIMEVAL;
  m_cbObj = nullptr;
  m_cbRtn = nullptr;
  m_userData = nullptr;
}

FdInfo* FdInfo::copy(int references) const {
  FdInfo* dup = new FdInfo(references);
  dup->m_fd = m_fd;
  dup->m_timeout = m_timeout;
  dup->m_cbObj = m_cbObj;
  dup->m_cbRtn = m_cbRtn;
  dup->m_userData = m_userData;
  return dup;
}

void FdInfo::invokeCb(FdSet::CbType cbType) {
  // A record cleared after the loop collected it (a timer stopped by an earlier callback) is
  // simply not due any more.
  if (m_cbRtn != nullptr) m_cbRtn(m_cbObj, cbType, m_fd, m_userData);
}

FdInfoVec::FdInfoVec(const FdInfoVec& src) : m_vec(src.m_vec) {
  for (FdInfo* info : m_vec) info->addReference();
}

FdInfoVec& FdInfoVec::operator=(const FdInfoVec& src) {
  if (this == &src) return *this;
  // References first: src may hold the only other reference to one of our records.
  for (FdInfo* info : src.m_vec) info->addReference();
  clear();
  m_vec = src.m_vec;
  return *this;
}

void FdInfoVec::append(FdInfo* info) {
  info->addReference();
  m_vec.push_back(info);
}

void FdInfoVec::clear() {
  if (m_vec.empty()) return;
  for (FdInfo* info : m_vec) FdInfo::release(info);
  m_vec.clear();
}

FdInfo* FdInfoVec::operator[](size_t n) const {
  RC_ASSERT(n < m_vec.size());
  return m_vec[n];
}

// ---------------------------------------------------------------------------------------------
// FdSet

FdSet::FdInfoTable* FdSet::s_fdInfos[2] = {nullptr, nullptr};

FdSet::FdSet()
    : m_numFds(-1),
      m_timeoutInfo(nullptr),
      m_minTimeout(Timeval::NO_TIMEVAL),
      m_minTimeoutVec(nullptr) {}

FdSet::FdSet(const FdSet& src)
    : m_numFds(src.m_numFds),
      m_readFds(src.m_readFds),
      m_writeFds(src.m_writeFds),
      m_timeoutInfo(nullptr),
      m_minTimeout(Timeval::NO_TIMEVAL),
      m_minTimeoutVec(nullptr) {
  copyTimeoutFrom(src);
}

FdSet& FdSet::operator=(const FdSet& src) {
  if (this == &src) return *this;
  m_numFds = src.m_numFds;
  m_readFds = src.m_readFds;
  m_writeFds = src.m_writeFds;
  copyTimeoutFrom(src);
  return *this;
}

FdSet::~FdSet() {
  FdInfo::release(m_timeoutInfo);
  delete m_minTimeoutVec;
  poison(m_timeoutInfo);
  poison(m_minTimeoutVec);
}

void FdSet::copyTimeoutFrom(const FdSet& src) {
  if (src.m_minTimeout != Timeval::NO_TIMEVAL) RC_ASSERT(src.m_minTimeoutVec);
  m_minTimeout = src.m_minTimeout;
  // A set that received its timeout by a merge has no record of its own.
  FdInfo* dup = src.m_timeoutInfo != nullptr ? src.m_timeoutInfo->copy(1) : nullptr;
  FdInfo::release(m_timeoutInfo);
  m_timeoutInfo = dup;
  if (src.m_minTimeoutVec != nullptr) {
    if (m_minTimeoutVec == nullptr) {
      m_minTimeoutVec = new FdInfoVec(*src.m_minTimeoutVec);
    } else {
      *m_minTimeoutVec = *src.m_minTimeoutVec;
    }
  } else if (m_minTimeoutVec != nullptr) {
    m_minTimeoutVec->clear();
  }
}

void FdSet::add(FdType fdType, int fd, void* cbObj, CbRtn cbRtn, void* userData) {
  assertFdType(fdType);
  if (!validFd(fd)) {
    Err_Throw(Err(RC_ERROR, RC_SC_VAL_OUT_OF_RANGE,
                  VarArgs() << ("file descriptor " + std::to_string(fd)) << 0
                            << (FdBitSet::MAX_FD_SET_FDS - 1),
                  "recomps/FdSet::add"));
  }
  fdInfo(fd, fdType)->set(fd, cbObj, cbRtn, userData);
  mask(fdType).set(fd);
  if (fd + 1 > m_numFds) m_numFds = fd + 1;
}

void FdSet::remove(FdType fdType, int fd) {
  assertFdType(fdType);
  if (!validFd(fd)) return;
  mask(fdType).clear(fd);
  if (fd + 1 != m_numFds) return;
  const int highest = std::max(m_readFds.highestBelow(fd + 1), m_writeFds.highestBelow(fd + 1));
  if (highest >= 0) m_numFds = highest + 1;
}

FdInfo* FdSet::initTimeoutRtn(const Timeval& timeout, void* cbObj, CbRtn cbRtn, void* userData) {
  if (m_timeoutInfo == nullptr) m_timeoutInfo = new FdInfo(1);
  if (m_minTimeoutVec == nullptr) m_minTimeoutVec = new FdInfoVec(16);
  m_timeoutInfo->set(timeout, cbObj, cbRtn, userData);
  return m_timeoutInfo;
}

void FdSet::set(const Timeval& timeout, void* cbObj, CbRtn cbRtn, void* userData) {
  clear();
  FdInfo* info = initTimeoutRtn(timeout, cbObj, cbRtn, userData);
  m_minTimeout = timeout;
  m_minTimeoutVec->append(info);
}

void FdSet::set(int numFds, const fd_set* fds, FdType fdType, const Timeval* timeout, void* cbObj,
                CbRtn cbRtn, void* userData) {
  clear();
  numFds = clampCount(numFds);
  for (int fd = 0; fds != nullptr && fd < numFds; ++fd) {
    if (FD_ISSET(fd, fds)) add(fdType, fd, cbObj, cbRtn, userData);
  }
  if (timeout == nullptr || *timeout == Timeval::NO_TIMEVAL) return;
  FdInfo* info = initTimeoutRtn(*timeout, cbObj, cbRtn, userData);
  if (*timeout <= m_minTimeout) {
    m_minTimeout = *timeout;
    m_minTimeoutVec->append(info);
  }
}

void FdSet::clear() {
  m_numFds = 0;
  m_readFds.clearAll();
  m_writeFds.clearAll();
  if (m_timeoutInfo != nullptr) m_timeoutInfo->clear();
  m_minTimeout = Timeval::NO_TIMEVAL;
  if (m_minTimeoutVec != nullptr) m_minTimeoutVec->clear();
}

bool FdSet::isEmpty() const { return m_numFds <= 0 && m_minTimeout == Timeval::NO_TIMEVAL; }

FdSet& FdSet::operator+=(const FdSet& rhs) {
  if (this == &rhs) return *this;
  if (rhs.m_numFds > 0) {
    m_readFds.orBelow(rhs.m_readFds, rhs.m_numFds);
    m_writeFds.orBelow(rhs.m_writeFds, rhs.m_numFds);
  }
  if (rhs.m_numFds > m_numFds) m_numFds = rhs.m_numFds;

  if (rhs.m_timeoutInfo == nullptr || rhs.m_minTimeout == Timeval::NO_TIMEVAL ||
      rhs.m_minTimeout > m_minTimeout) {
    return *this;
  }
  RC_ASSERT_MSG(rhs.m_minTimeoutVec, "FdSet::operator+=");
  if (rhs.m_minTimeoutVec->isEmpty()) return *this;
  if (rhs.m_minTimeout < m_minTimeout) {
    m_minTimeout = rhs.m_minTimeout;
    if (m_minTimeoutVec != nullptr) m_minTimeoutVec->clear();
  }
  if (m_minTimeoutVec == nullptr) {
    m_minTimeoutVec = new FdInfoVec(*rhs.m_minTimeoutVec);
  } else {
    *m_minTimeoutVec = *rhs.m_minTimeoutVec;
  }
  return *this;
}

FdSet& FdSet::operator-=(const FdSet& rhs) {
  if (this == &rhs) return *this;
  const int common = clampCount(std::min(m_numFds, rhs.m_numFds));
  for (int fd = 0; fd < common; ++fd) {
    if (m_readFds.isSet(fd) && rhs.m_readFds.isSet(fd)) remove(FDT_READ, fd);
    if (m_writeFds.isSet(fd) && rhs.m_writeFds.isSet(fd)) remove(FDT_WRITE, fd);
  }

  m_minTimeout = Timeval::NO_TIMEVAL;
  if (m_minTimeoutVec != nullptr) m_minTimeoutVec->clear();
  const int count = clampCount(m_numFds);
  for (int fd = 0; fd < count; ++fd) {
    for (FdType fdType : {FDT_READ, FDT_WRITE}) {
      if (!mask(fdType).isSet(fd)) continue;
      FdInfo* info = fdInfo(fd, fdType);
      const Timeval& timeout = info->timeout();
      if (timeout == Timeval::NO_TIMEVAL || timeout > m_minTimeout) continue;
      if (timeout < m_minTimeout) {
        m_minTimeout = timeout;
        if (m_minTimeoutVec != nullptr) m_minTimeoutVec->clear();
      }
      if (m_minTimeoutVec == nullptr) m_minTimeoutVec = new FdInfoVec(16);
      m_minTimeoutVec->append(info);
    }
  }
  return *this;
}

void FdSet::getSelectInfo(int* numFds, const fd_set** readFds, const fd_set** writeFds) const {
  *numFds = m_numFds;
  *readFds = m_readFds.isAnySet(m_numFds) ? m_readFds.asFdSetPtr() : nullptr;
  *writeFds = m_writeFds.isAnySet(m_numFds) ? m_writeFds.asFdSetPtr() : nullptr;
}

bool FdSet::calcTimeout(timeval* timeout, bool okToBlock) const {
  Timeval tv = m_minTimeout;
  const bool hasTimeout = m_minTimeout < Timeval::MAX_TIMEVAL && m_minTimeoutVec != nullptr &&
                          !m_minTimeoutVec->isEmpty();
  // A timeout already in the past is due now; select would refuse it and the loop would spin
  // without ever calling it back.
  if (tv < Timeval::ZERO_TIMEVAL) tv = Timeval::ZERO_TIMEVAL;
  bool useTimeout = hasTimeout;
  if (!okToBlock) {
    if (!(hasTimeout && tv <= Timeval::ONE_MICROSEC_TIMEVAL)) tv = Timeval::ONE_MICROSEC_TIMEVAL;
    useTimeout = true;
  }
  *timeout = tv;
  return useTimeout;
}

int FdSet::doSelect(bool okToBlock) {
  int numFds = 0;
  const fd_set* readFds = nullptr;
  const fd_set* writeFds = nullptr;
  getSelectInfo(&numFds, &readFds, &writeFds);
  Timeval tv;
  const bool useTimeout = calcTimeout(&tv, okToBlock);
  // A wait cut short to poll for messages ends before the nearest timeout is due; its records
  // must then stay unrun, or every timer would fire early while messages are pending.
  const bool timeoutDue = useTimeout && m_minTimeoutVec != nullptr && !m_minTimeoutVec->isEmpty() &&
                          tv >= std::max(m_minTimeout, Timeval::ZERO_TIMEVAL);
  if (useTimeout && tv == Timeval::ZERO_TIMEVAL) {
    invokeTimeoutCbs();
    return 0;
  }

  // select overwrites its masks; callbacks may change the registrations while we dispatch.
  fd_set readyRead;
  fd_set readyWrite;
  if (readFds != nullptr) readyRead = *readFds;
  if (writeFds != nullptr) readyWrite = *writeFds;
  numFds = clampCount(numFds);
  const int nReady =
      select(numFds, readFds != nullptr ? &readyRead : nullptr,
             writeFds != nullptr ? &readyWrite : nullptr, nullptr, useTimeout ? &tv : nullptr);
  if (nReady < 0) return nReady;
  if (nReady == 0) {
    if (timeoutDue) invokeTimeoutCbs();
    return 0;
  }

  const int words = wordsBelow(numFds);
  for (int i = 0; i < words; ++i) {
    const MaskWord rd = readFds != nullptr ? word(&readyRead, i) : 0;
    const MaskWord wr = writeFds != nullptr ? word(&readyWrite, i) : 0;
    MaskWord pending = rd | wr;
    while (pending != 0) {
      const int bit = __builtin_ctzl(pending);
      pending &= pending - 1;
      const int fd = i * kWordBits + bit;
      // A callback may have taken a later descriptor out of this set (its owner let go of it,
      // perhaps closed it): its readiness is stale and its record may name a deleted object.
      if ((rd & (MaskWord(1) << bit)) && m_readFds.isSet(fd)) invokeCb(fd, FDT_READ, CBT_FD_READY);
      if ((wr & (MaskWord(1) << bit)) && m_writeFds.isSet(fd))
        invokeCb(fd, FDT_WRITE, CBT_FD_READY);
    }
  }
  return nReady;
}

void FdSet::invokeCb(int fd, FdType fdType, CbType cbType) {
  FdInfo* info = fdInfo(fd, fdType);
  if (info->cbObj() == nullptr || info->cbRtn() == nullptr) {
    Err_Throw(Err(RC_WARNING, RC_SC_UNREGISTERED_FD, VarArgs() << "m_cbObj or m_cbRtn",
                  "recomps/FdSet::invokeCb"));
  }
  // The callback may clear the process-wide tables; keep the record alive until it returns.
  info->addReference();
  struct Release {
    FdInfo* info;
    ~Release() { FdInfo::release(info); }
  } release{info};
  info->invokeCb(cbType);
}

void FdSet::invokeTimeoutCbs() {
  std::unique_ptr<FdInfoVec> due(m_minTimeoutVec);
  m_minTimeoutVec = nullptr;
  m_minTimeout = Timeval::NO_TIMEVAL;
  if (due == nullptr) return;
  for (size_t i = 0; i < due->size(); ++i) (*due)[i]->invokeCb(CBT_TIMEOUT);
}

FdInfo* FdSet::fdInfo(int fd, FdType fdType) {
  assertFdType(fdType);
  RC_ASSERT(fd >= 0);
  FdInfoTable*& table = s_fdInfos[fdType];
  if (table == nullptr) table = new FdInfoTable(maxOsFds(), nullptr);
  if (static_cast<size_t>(fd) >= table->size()) table->resize(fd + 1, nullptr);
  FdInfo*& info = (*table)[fd];
  if (info == nullptr) info = new FdInfo(1);
  return info;
}

void FdSet::clearStaticFdInfos() {
  for (FdInfoTable*& table : s_fdInfos) {
    if (table == nullptr) continue;
    for (FdInfo* info : *table) FdInfo::release(info);
    delete table;
    table = nullptr;
  }
}

void FdSet::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "FdSet", this,
             ": numFds = %d, minTimeout = %ld, %ld, timeouts = %d\n", m_numFds,
             static_cast<long>(m_minTimeout.tv_sec), static_cast<long>(m_minTimeout.tv_usec),
             m_minTimeoutVec != nullptr ? static_cast<int>(m_minTimeoutVec->size()) : 0);
  const int count = clampCount(m_numFds);
  for (int fd = 0; fd < count; ++fd) {
    const bool rd = m_readFds.isSet(fd);
    const bool wr = m_writeFds.isSet(fd);
    if (rd || wr)
      dumpLine(indentLvl + 1, "fd %d:%s%s\n", fd, rd ? " read" : "", wr ? " write" : "");
  }
}

}  // namespace rc
