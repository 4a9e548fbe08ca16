// The 8-byte header in front of every heap block, the allocation context it is written from, and
// the process-wide tracking state stamped into new headers.
//
// A block's user pointer p is the start of the underlying allocation plus 8; the header occupies
// p - 8 .. p - 1. Bytes 0-3 hold the tracking id, bytes 4-7 (read as one little-endian word, the
// "attribute word") hold the type, region, tracking kind, scope, alignment, reported flag, magic
// and format. Live headers carry HDR_ALLOC_MAGIC, freed ones HDR_FREE_MAGIC. The layout is fixed
// whatever the build (32 or 64 bits).
//
// The queries (blockHeader, getHeader, getRegion, getMemType, validateHeader) accept any
// non-null pointer whose preceding 8 bytes are readable, including stack and static objects; they
// answer "not a valid block" for a null pointer. AllocContext(owner) reads nothing outside owner
// unless owner is the object a typed operator new has just created (see below). The mark*
// operations and setHeader require a block of this heap and end the process through a failed
// verification otherwise.
//
// s_myHeader is process-wide and constant-initialised, so it is usable during static
// initialisation. Not thread-safe: the tracking state belongs to the application thread.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "comps/memcomps/base/memError.h"
#include "comps/memcomps/base/memTypes.h"

namespace mem {

static_assert(std::endian::native == std::endian::little,
              "block headers are stored in little-endian byte order");

inline constexpr size_t kHeaderSize = 8;
// Every user pointer is aligned to this much: the allocator's alignment (at least 16 on the
// supported platforms) less the header. Element types aligned more strictly cannot live in heap
// blocks; the allocator templates refuse them at compile time.
inline constexpr size_t kBlockAlignment = 8;

// Bit positions within the attribute word (bytes 4-7 of a header).
namespace hdrbits {
inline constexpr uint32_t kTypeMask = 0xFFFFu;
inline constexpr unsigned kRegionShift = 16;
inline constexpr unsigned kTrackTypeShift = 20;
inline constexpr unsigned kScopeShift = 22;
inline constexpr unsigned kIoAlignShift = 24;
inline constexpr unsigned kReportedShift = 25;
inline constexpr unsigned kMagicShift = 26;  // the 4 magic bits, then the 2 format bits
inline constexpr uint32_t kRegionMask = 0xFu << kRegionShift;
inline constexpr uint32_t kMagicFormatMask = 0x3Fu << kMagicShift;
inline constexpr uint32_t kAllocMark = uint32_t{HDR_ALLOC_MAGIC} << kMagicShift;  // format 0

// A live header: format MEM_HEADER_FORMAT_MEMTYPE, HDR_ALLOC_MAGIC, a region below REGION_MAX
// and a type below mt_MAX.
constexpr bool isLive(uint32_t attrs) {
  return (attrs & kMagicFormatMask) == kAllocMark &&
         (attrs & kRegionMask) < uint32_t{REGION_MAX} << kRegionShift &&
         (attrs & kTypeMask) < mt_MAX;
}
// A live header whose region is REGION_HEAP, in one masked compare and one range check.
constexpr bool isLiveHeap(uint32_t attrs) {
  return (attrs & (kMagicFormatMask | kRegionMask)) == kAllocMark && (attrs & kTypeMask) < mt_MAX;
}
}  // namespace hdrbits

// The header as a record. Field order and widths give exactly the stored bit layout.
struct memHeader {
  uint32_t m_trackId;
  memType_t m_memType;
  uint8_t m_region : 4;
  uint8_t m_trackType : 2;
  uint8_t m_memScope : 2;
  uint8_t m_ioAlign : 1;
  uint8_t m_reported : 1;
  uint8_t m_magic : 4;
  uint8_t m_format : 2;
};
static_assert(sizeof(memHeader) == kHeaderSize);
// GCC can check the bit positions at compile time (clang cannot bit_cast bit-fields in constant
// expressions); the unit tests check the same bytes at run time with every compiler.
#if defined(__GNUC__) && !defined(__clang__)
static_assert(
    [] {
      const memHeader h{0x01020304,
                        mt_rc_string,
                        REGION_PM,
                        MEM_TRACK_PID,
                        MEM_SCOPE_LIMIT,
                        1,
                        0,
                        HDR_ALLOC_MAGIC,
                        MEM_HEADER_FORMAT_MEMTYPE};
      const uint32_t attrs = uint32_t{mt_rc_string} | uint32_t{REGION_PM} << hdrbits::kRegionShift |
                             uint32_t{MEM_TRACK_PID} << hdrbits::kTrackTypeShift |
                             uint32_t{MEM_SCOPE_LIMIT} << hdrbits::kScopeShift |
                             1u << hdrbits::kIoAlignShift | hdrbits::kAllocMark;
      return std::bit_cast<uint64_t>(h) == ((uint64_t{attrs} << 32) | 0x01020304u);
    }(),
    "memHeader bit-fields must match the stored layout");
#endif

#if defined(__GNUC__) && !defined(__clang__)
#define MEM_NO_OWNER_ACCESS __attribute__((access(none, 2)))
#else
#define MEM_NO_OWNER_ACCESS
#endif

// The attributes of an allocation request: type, region, scope and alignment, plus one bit
// (MBZ) that is carried along unchanged. A 4-byte value whose bits sit where the header's
// attribute word wants them, so writing a header is a mask and two ORs.
class AllocContext {
 public:
  // The anonymous heap context (mt_anonymous, REGION_HEAP, temporary, not aligned).
  constexpr AllocContext() : AllocContext(mt_anonymous) {}
  constexpr explicit AllocContext(memType_t memType, regionName_t region = REGION_HEAP,
                                  memAlign_t align = MEM_NOALIGN,
                                  memScope_t scope = MEM_SCOPE_TEMPORARY)
      : m_memType(memType),
        m_region(region),
        m_trackSlot(0),
        m_memScope(scope),
        m_ioAlign(align),
        m_MBZ(0),
        m_spare(0) {}
  // The context of the object at owner: its block's type, region, scope and alignment when owner
  // is the object that a typed operator new (memNewDelete.h) created last on this thread and
  // that has not been deleted, else the anonymous heap context; then memType replaces the type
  // unless it is mt_unused. A constructor therefore gets its object's attributes as long as it
  // asks before it creates another typed object; an object that needs them later keeps the
  // context it got. Stack, static and member objects, and blocks from allocBlock, get the
  // anonymous context: nothing outside owner is read for them, since the bytes in front of such
  // an object may be unmapped, uninitialised or someone else's. The owner itself is never read
  // (it may still be under construction): the attribute tells the compiler so.
  MEM_NO_OWNER_ACCESS explicit AllocContext(const void* owner, memType_t memType = mt_unused);

  constexpr memType_t getMemType() const { return static_cast<memType_t>(m_memType); }
  constexpr regionName_t getRegion() const { return static_cast<regionName_t>(m_region); }
  constexpr memScope_t getMemScope() const { return static_cast<memScope_t>(m_memScope); }
  constexpr bool getIoAlign() const { return m_ioAlign != 0; }
  constexpr bool getMBZ() const { return m_MBZ != 0; }

  constexpr void setMemType(memType_t memType) { m_memType = memType; }
  constexpr void setRegion(regionName_t region) { m_region = region; }
  constexpr void setMemScope(memScope_t scope) { m_memScope = scope; }
  constexpr void setIoAlign(bool ioAlign) { m_ioAlign = ioAlign ? 1 : 0; }
  constexpr void setMBZ(bool mbz) { m_MBZ = mbz ? 1 : 0; }

  // Type, region, scope and alignment at their header positions (tracking kind, reported flag,
  // magic and format zero).
  uint32_t headerBits() const {
    return std::bit_cast<uint32_t>(*this) &
           (hdrbits::kTypeMask | hdrbits::kRegionMask | 3u << hdrbits::kScopeShift |
            1u << hdrbits::kIoAlignShift);
  }

 private:
  uint32_t m_memType : 16;
  uint32_t m_region : REGION_BITS;
  // Named rather than left as padding so that headerBits' bit_cast sees determinate bits.
  [[maybe_unused]] uint32_t m_trackSlot : 2;  // the header's tracking kind goes here; always 0
  uint32_t m_memScope : 2;
  uint32_t m_ioAlign : 1;
  uint32_t m_MBZ : 1;
  [[maybe_unused]] uint32_t m_spare : 6;
};
static_assert(sizeof(AllocContext) == 4);

namespace detail {
// The object that a typed operator new created last on this thread, until it is deleted: the one
// owner whose header AllocContext(owner) reads.
inline thread_local const void* t_newObject = nullptr;
}  // namespace detail

// Called by a typed operator new with the object it is about to construct, and by its operator
// delete with the object it releases.
inline void noteNewObject(const void* p) { detail::t_newObject = p; }
inline void forgetNewObject(const void* p) {
  if (p == detail::t_newObject) detail::t_newObject = nullptr;
}

inline constexpr AllocContext k_anonHeap{mt_anonymous, REGION_HEAP, MEM_NOALIGN,
                                         MEM_SCOPE_TEMPORARY};

class Header {
 public:
  constexpr Header() = default;

  // Points *hdr at p - 8; true when it is a valid live header.
  static bool blockHeader(const void* p, memHeader** hdr) {
    if (p == nullptr) {
      *hdr = nullptr;
      return false;
    }
    *hdr = reinterpret_cast<memHeader*>(static_cast<char*>(const_cast<void*>(p)) - kHeaderSize);
    return hdrbits::isLive(attrsOf(p));
  }
  // Copies the 8 header bytes out (zeroes for a null p); true when they form a valid live header.
  static bool getHeader(const void* p, memHeader* copy);
  // Stores the region bits whether or not the header is valid; returns validity.
  static bool getRegion(const void* p, regionName_t* region);
  // Stores the type whether or not the header is valid; returns validity.
  static bool getMemType(const void* p, memType_t* memType);
  // A valid live header of exactly this type.
  static bool validateHeader(const void* p, memType_t memType);
  // The header's region bits say REGION_HEAP.
  static bool isHeap(const void* p) {
    return (attrsOf(p) & hdrbits::kRegionMask) == uint32_t{REGION_HEAP} << hdrbits::kRegionShift;
  }

  // Writes a fresh live header in front of p from ctx and the tracking id in force.
  void setHeader(void* p, const AllocContext& ctx) {
    storeWord(p, 8, m_trackId);
    storeWord(p, 4, ctx.headerBits() | m_trackBits | hdrbits::kAllocMark);
    memHeader* hdr;
    MEM_VERIFY(blockHeader(p, &hdr), "src/comps/memcomps/base/memHeader.h", "setHeader");
  }
  // Turns a freed header back into a live one (a failed resize gives its block back).
  static void markAllocated(void* p);
  // Sets the free magic; the header must be live. Nothing else changes.
  static void markFree(void* p) {
    const uint32_t attrs = attrsOf(p);
    const bool valid = hdrbits::isLive(attrs);
    MEM_VERIFY(valid, "src/comps/memcomps/base/memHeader.h", "markFree");
    flipMagic(p, attrs);
  }
  // markFree for a caller that has itself checked that attrs is the live attribute word of p.
  static void markFreeChecked(void* p, uint32_t attrs) { flipMagic(p, attrs); }
  // Sets the reported flag, which this layer never clears; the header must be live.
  static void markReported(void* p);

  // Stores the id of one kind (0 = not set) and picks the id in force: the plan id, else the
  // program id, else the process id, else none (id 0, kind MEM_TRACK_PLANID).
  void setTrackingId(int trackType, uint32_t id);
  // Forgets every id.
  void clear();

  uint32_t trackId() const { return m_trackId; }
  memTrack_t trackType() const { return m_trackType; }
  // The id stored for one kind; 0 for a kind out of range.
  uint32_t trackId(memTrack_t kind) const;

  // The attribute word (bytes 4-7) of the header in front of p.
  static uint32_t attrsOf(const void* p) { return loadWord(p, 4); }

 private:
  // Raw access to the header in front of p. Queries may be given pointers that are not blocks
  // (stack or static objects), and a verification may look at a freed header; the loads stay
  // out of the address sanitizer's view so that such a query gets an answer rather than a
  // report. The address travels as an integer because the bytes read lie outside the object p
  // points at, which may not be initialised yet.
  static uint32_t loadWord(const void* p, size_t back) {
    return loadWordAt(reinterpret_cast<uintptr_t>(p) - back);
  }
  __attribute__((no_sanitize_address)) static uint32_t loadWordAt(uintptr_t addr) {
    using word = uint32_t __attribute__((may_alias, aligned(1)));
    return *reinterpret_cast<const word*>(addr);
  }
  static void storeWord(void* p, size_t back, uint32_t value) {
    using word = uint32_t __attribute__((may_alias, aligned(1)));
    *reinterpret_cast<word*>(static_cast<char*>(p) - back) = value;
  }
  // Switches the magic between HDR_ALLOC_MAGIC and HDR_FREE_MAGIC in byte 7 (attrs is the current
  // attribute word, whose magic the caller has checked). The store is volatile so that the mark
  // is written even when the block is released right after.
  static void flipMagic(void* p, uint32_t attrs) {
    constexpr uint32_t kFlip = uint32_t{HDR_ALLOC_MAGIC ^ HDR_FREE_MAGIC} << hdrbits::kMagicShift;
    *(static_cast<volatile uint8_t*>(p) - 1) = static_cast<uint8_t>((attrs ^ kFlip) >> 24);
  }

  memTrack_t m_trackType = MEM_TRACK_PLANID;
  uint32_t m_trackId = 0;
  uint32_t m_trackIdArray[MEM_TRACK_MAX] = {0, 0, 0};
  // The kind of the id in force at its place in the attribute word.
  uint32_t m_trackBits = 0;
};

extern Header s_myHeader;

}  // namespace mem
