#include "comps/memcomps/base/memHeader.h"

#include <cstring>

namespace mem {

namespace {
constexpr const char* kFile = "src/comps/memcomps/base/memHeader.cpp";
}  // namespace

constinit Header s_myHeader;

AllocContext::AllocContext(const void* owner, memType_t memType) : AllocContext() {
  memHeader hdr;
  if (owner != nullptr && owner == detail::t_newObject && Header::getHeader(owner, &hdr)) {
    m_memType = hdr.m_memType;
    m_region = hdr.m_region;
    m_memScope = hdr.m_memScope;
    m_ioAlign = hdr.m_ioAlign;
  }
  if (memType != mt_unused) m_memType = memType;
}

bool Header::getHeader(const void* p, memHeader* copy) {
  if (p == nullptr) {
    memset(copy, 0, sizeof *copy);
    return false;
  }
  const uint32_t words[2] = {loadWord(p, 8), loadWord(p, 4)};
  memcpy(copy, words, sizeof *copy);
  return hdrbits::isLive(words[1]);
}

bool Header::getRegion(const void* p, regionName_t* region) {
  memHeader hdr;
  const bool valid = getHeader(p, &hdr);
  *region = static_cast<regionName_t>(hdr.m_region);
  return valid;
}

bool Header::getMemType(const void* p, memType_t* memType) {
  memHeader hdr;
  const bool valid = getHeader(p, &hdr);
  *memType = hdr.m_memType;
  return valid;
}

bool Header::validateHeader(const void* p, memType_t memType) {
  memType_t actual;
  return getMemType(p, &actual) && actual == memType;
}

void Header::markAllocated(void* p) {
  memHeader* hdr = static_cast<memHeader*>(p) - 1;
  MEM_VERIFY((hdr->m_format == MEM_HEADER_FORMAT_MEMTYPE && hdr->m_magic == HDR_FREE_MAGIC &&
              hdr->m_region < REGION_MAX && hdr->m_memType < mt_MAX),
             kFile, "markAllocated");
  flipMagic(p, attrsOf(p));
}

void Header::markReported(void* p) {
  const uint32_t attrs = attrsOf(p);
  const bool valid = hdrbits::isLive(attrs);
  MEM_VERIFY(valid, kFile, "markReported");
  static_cast<uint8_t*>(p)[-1] |= 1u << (hdrbits::kReportedShift - 24);
}

void Header::setTrackingId(int trackType, uint32_t id) {
  MEM_VERIFY(trackType >= 0 && trackType < MEM_TRACK_MAX, kFile, "setTrackingId");
  m_trackIdArray[trackType] = id;
  m_trackType = MEM_TRACK_PLANID;
  m_trackId = 0;
  for (int kind = MEM_TRACK_PLANID; kind < MEM_TRACK_MAX; ++kind) {
    if (m_trackIdArray[kind] != 0) {
      m_trackType = static_cast<memTrack_t>(kind);
      m_trackId = m_trackIdArray[kind];
      break;
    }
  }
  m_trackBits = uint32_t{m_trackType} << hdrbits::kTrackTypeShift;
}

void Header::clear() {
  for (uint32_t& id : m_trackIdArray) id = 0;
  m_trackType = MEM_TRACK_PLANID;
  m_trackId = 0;
  m_trackBits = 0;
}

uint32_t Header::trackId(memTrack_t kind) const {
  return kind >= MEM_TRACK_PLANID && kind < MEM_TRACK_MAX ? m_trackIdArray[kind] : 0;
}

}  // namespace mem
