#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "comps/memcomps/base/memHeader.h"
#include "comps/memcomps/base/memHeap.h"
#include "memTestUtil.h"

using memtest::Bytes;
using memtest::headerBytes;

namespace {

// Every test starts and ends with no tracking id in force.
class HeaderTest : public ::testing::Test {
 protected:
  void SetUp() override { mem::s_myHeader.clear(); }
  void TearDown() override { mem::s_myHeader.clear(); }
};

struct TrackSet {
  mem::memTrack_t kind;
  uint32_t id;
};

}  // namespace

TEST_F(HeaderTest, LiveHeaderBytesFollowTheStoredLayout) {
  struct Case {
    const char* what;
    std::vector<TrackSet> tracking;
    mem::AllocContext ctx;
    Bytes expected;
  };
  const Case cases[] = {
      {"anonymous, no id", {}, mem::k_anonHeap, {0, 0, 0, 0, 0x02, 0x00, 0x00, 0x0C}},
      {"string, no id", {}, mem::AllocContext(mt_rc_string), {0, 0, 0, 0, 0x2E, 0x01, 0x00, 0x0C}},
      {"program id, permanent and aligned",
       {{mem::MEM_TRACK_PGMID, 922}},
       mem::AllocContext(mt_err, mem::REGION_HEAP, mem::MEM_ALIGN, mem::MEM_SCOPE_PERMANENT),
       {0x9A, 0x03, 0, 0, 0xEF, 0x00, 0x50, 0x0D}},
      {"plan id, limit scope, shared region forced to the heap",
       {{mem::MEM_TRACK_PLANID, 0x01020304}},
       mem::AllocContext(mt_rc_byte_strm_buf, mem::REGION_GLOBAL, mem::MEM_NOALIGN,
                         mem::MEM_SCOPE_LIMIT),
       {0x04, 0x03, 0x02, 0x01, 0x37, 0x01, 0x80, 0x0C}},
      {"process id", {{mem::MEM_TRACK_PID, 77}}, mem::k_anonHeap, {77, 0, 0, 0, 2, 0, 0x20, 0x0C}},
      {"largest type, every field set",
       {{mem::MEM_TRACK_PID, 0xFFFFFFFF}},
       mem::AllocContext(static_cast<memType_t>(335), mem::REGION_PM, mem::MEM_ALIGN,
                         mem::MEM_SCOPE_LIMIT),
       {0xFF, 0xFF, 0xFF, 0xFF, 0x4F, 0x01, 0xA0, 0x0D}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mem::s_myHeader.clear();
    for (const TrackSet& t : c.tracking) mem::setTrackingId(t.kind, t.id);
    void* p = mem::allocBlock(24, c.ctx);
    EXPECT_EQ(headerBytes(p), c.expected);
    EXPECT_TRUE(mem::validateBlock(p, c.ctx.getMemType()));

    // Reported, then freed: only byte 7 changes, and the reported flag stays.
    mem::Header::markReported(p);
    Bytes reported = c.expected;
    reported[7] |= 0x02;
    EXPECT_EQ(headerBytes(p), reported);
    EXPECT_TRUE(mem::validateBlock(p, c.ctx.getMemType()));

    mem::Header::markFree(p);
    Bytes freed = reported;
    freed[7] = static_cast<uint8_t>(0x30 | (c.expected[7] & 0x01) | 0x02);
    EXPECT_EQ(headerBytes(p), freed);
    EXPECT_FALSE(mem::validateBlock(p, c.ctx.getMemType()));

    // A freed header can be turned back (what a failed resize does) and then released.
    mem::Header::markAllocated(p);
    EXPECT_EQ(headerBytes(p), reported);
    mem::freeBlock(p);
  }
}

TEST_F(HeaderTest, FreedByteSevenWithoutReport) {
  const std::pair<mem::memAlign_t, uint8_t> cases[] = {{mem::MEM_NOALIGN, 0x30},
                                                       {mem::MEM_ALIGN, 0x31}};
  for (const auto& [align, byte7] : cases) {
    void* p = mem::allocBlock(8, mem::AllocContext(mt_strbuf, mem::REGION_HEAP, align));
    mem::Header::markFree(p);
    EXPECT_EQ(headerBytes(p)[7], byte7);
    mem::Header::markAllocated(p);
    mem::freeBlock(p);
  }
}

TEST(Header, QueriesJudgeEveryField) {
  struct Case {
    const char* what;
    Bytes hdr;
    bool valid;
    mem::regionName_t region;
    uint16_t memType;
  };
  const Case cases[] = {
      {"live heap block", {1, 0, 0, 0, 0x2E, 0x01, 0x00, 0x0C}, true, mem::REGION_HEAP, 302},
      {"aligned", {0, 0, 0, 0, 0x2E, 0x01, 0x00, 0x0D}, true, mem::REGION_HEAP, 302},
      {"reported", {0, 0, 0, 0, 0x2E, 0x01, 0x00, 0x0E}, true, mem::REGION_HEAP, 302},
      {"aligned and reported", {0, 0, 0, 0, 0x2E, 0x01, 0x00, 0x0F}, true, mem::REGION_HEAP, 302},
      {"region PM is still a valid region",
       {0, 0, 0, 0, 2, 0, 0x02, 0x0C},
       true,
       mem::REGION_PM,
       2},
      {"region 3 is out of range",
       {0, 0, 0, 0, 2, 0, 0x03, 0x0C},
       false,
       static_cast<mem::regionName_t>(3),
       2},
      {"largest type", {0, 0, 0, 0, 0x4F, 0x01, 0x00, 0x0C}, true, mem::REGION_HEAP, 335},
      {"type mt_MAX", {0, 0, 0, 0, 0x50, 0x01, 0x00, 0x0C}, false, mem::REGION_HEAP, 336},
      {"scope and tracking kind do not matter",
       {9, 9, 9, 9, 2, 0, 0xF0, 0x0C},
       true,
       mem::REGION_HEAP,
       2},
      {"freed", {0, 0, 0, 0, 0x2E, 0x01, 0x00, 0x30}, false, mem::REGION_HEAP, 302},
      {"never initialised", {0, 0, 0, 0, 0, 0, 0, 0}, false, mem::REGION_HEAP, 0},
      {"unknown format", {0, 0, 0, 0, 0x2E, 0x01, 0x00, 0x4C}, false, mem::REGION_HEAP, 302},
      {"other magic", {0, 0, 0, 0, 0x2E, 0x01, 0x00, 0x08}, false, mem::REGION_HEAP, 302},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    memtest::FakeBlock block(c.hdr);
    void* p = block.user();
    mem::memHeader* hdr = nullptr;
    EXPECT_EQ(mem::Header::blockHeader(p, &hdr), c.valid);
    EXPECT_EQ(static_cast<void*>(hdr), static_cast<void*>(block.bytes));

    mem::memHeader copy;
    EXPECT_EQ(mem::Header::getHeader(p, &copy), c.valid);
    EXPECT_EQ(memcmp(&copy, c.hdr.data(), sizeof copy), 0);

    mem::regionName_t region = mem::REGION_MAX;
    EXPECT_EQ(mem::Header::getRegion(p, &region), c.valid);
    EXPECT_EQ(region, c.region);

    memType_t memType = mt_unused;
    EXPECT_EQ(mem::getMemType(p, &memType), c.valid);
    EXPECT_EQ(memType, c.memType);

    EXPECT_EQ(mem::validateBlock(p, static_cast<memType_t>(c.memType)), c.valid);
    EXPECT_FALSE(mem::validateBlock(p, mt_anonymous == c.memType ? mt_root : mt_anonymous));
  }
}

TEST(Header, NullIsNeverABlock) {
  mem::memHeader* hdr = reinterpret_cast<mem::memHeader*>(1);
  EXPECT_FALSE(mem::Header::blockHeader(nullptr, &hdr));
  EXPECT_EQ(hdr, nullptr);
  memType_t memType = mt_root;
  EXPECT_FALSE(mem::getMemType(nullptr, &memType));
  EXPECT_FALSE(mem::validateBlock(nullptr, mt_unused));
  mem::AllocContext ctx(nullptr, mt_unused);
  EXPECT_EQ(ctx.getMemType(), mt_anonymous);
}

TEST_F(HeaderTest, TrackingIdInForceFollowsPriority) {
  using mem::MEM_TRACK_PGMID;
  using mem::MEM_TRACK_PID;
  using mem::MEM_TRACK_PLANID;
  struct Case {
    const char* what;
    std::vector<TrackSet> sets;
    uint32_t id;
    mem::memTrack_t kind;
  };
  const Case cases[] = {
      {"nothing set", {}, 0, MEM_TRACK_PLANID},
      {"process id alone", {{MEM_TRACK_PID, 77}}, 77, MEM_TRACK_PID},
      {"program id beats process id",
       {{MEM_TRACK_PLANID, 0}, {MEM_TRACK_PGMID, 922}, {MEM_TRACK_PID, 77}},
       922,
       MEM_TRACK_PGMID},
      {"plan id beats both",
       {{MEM_TRACK_PGMID, 922}, {MEM_TRACK_PID, 77}, {MEM_TRACK_PLANID, 5}},
       5,
       MEM_TRACK_PLANID},
      {"clearing the plan id falls back",
       {{MEM_TRACK_PLANID, 5}, {MEM_TRACK_PGMID, 922}, {MEM_TRACK_PLANID, 0}},
       922,
       MEM_TRACK_PGMID},
      {"clearing the only id leaves none",
       {{MEM_TRACK_PGMID, 922}, {MEM_TRACK_PGMID, 0}},
       0,
       MEM_TRACK_PLANID},
      {"a later id of the same kind replaces it",
       {{MEM_TRACK_PID, 77}, {MEM_TRACK_PID, 78}},
       78,
       MEM_TRACK_PID},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mem::s_myHeader.clear();
    for (const TrackSet& t : c.sets) mem::setTrackingId(t.kind, t.id);
    EXPECT_EQ(mem::s_myHeader.trackId(), c.id);
    EXPECT_EQ(mem::s_myHeader.trackType(), c.kind);

    mem::memHeader hdr;
    void* p = mem::allocBlock(1);
    ASSERT_TRUE(mem::Header::getHeader(p, &hdr));
    EXPECT_EQ(hdr.m_trackId, c.id);
    EXPECT_EQ(hdr.m_trackType, c.kind);
    mem::freeBlock(p);
  }
  // The ids of each kind are kept apart; clear forgets them all.
  mem::s_myHeader.clear();
  mem::setTrackingId(MEM_TRACK_PLANID, 5);
  mem::setTrackingId(MEM_TRACK_PGMID, 922);
  mem::setTrackingId(MEM_TRACK_PID, 77);
  EXPECT_EQ(mem::s_myHeader.trackId(MEM_TRACK_PLANID), 5u);
  EXPECT_EQ(mem::s_myHeader.trackId(MEM_TRACK_PGMID), 922u);
  EXPECT_EQ(mem::s_myHeader.trackId(MEM_TRACK_PID), 77u);
  mem::s_myHeader.clear();
  for (int kind = MEM_TRACK_PLANID; kind < mem::MEM_TRACK_MAX; ++kind) {
    EXPECT_EQ(mem::s_myHeader.trackId(static_cast<mem::memTrack_t>(kind)), 0u);
  }
  EXPECT_EQ(mem::s_myHeader.trackId(), 0u);
}

TEST(AllocContext, DerivesOnlyFromTheObjectATypedNewMade) {
  static int s_staticOwner = 0;
  int stackOwner = 0;
  const mem::AllocContext ownerCtx(mt_err, mem::REGION_HEAP, mem::MEM_ALIGN,
                                   mem::MEM_SCOPE_PERMANENT);
  void* heapOwner = mem::allocBlock(16, ownerCtx);
  void* freedOwner = mem::allocBlock(16, ownerCtx);
  mem::Header::markFree(freedOwner);
  // An object on the stack behind bytes that look like a live header of ownerCtx.
  struct {
    uint32_t header[2];
    uint64_t object;
  } forged{{0, ownerCtx.headerBits() | mem::hdrbits::kAllocMark}, 0};
  ASSERT_TRUE(mem::hdrbits::isLive(forged.header[1]));

  struct Case {
    const char* what;
    const void* owner;
    bool noted;  // as a typed operator new notes the object it makes
    memType_t memType;
    mem::AllocContext expected;
  };
  const Case cases[] = {
      {"noted heap owner keeps everything", heapOwner, true, mt_unused, ownerCtx},
      {"noted heap owner with a type of its own", heapOwner, true, mt_rc_byte_strm_buf,
       mem::AllocContext(mt_rc_byte_strm_buf, mem::REGION_HEAP, mem::MEM_ALIGN,
                         mem::MEM_SCOPE_PERMANENT)},
      {"heap block nobody noted", heapOwner, false, mt_unused, mem::k_anonHeap},
      {"stack owner", &stackOwner, false, mt_unused, mem::k_anonHeap},
      {"stack owner with a type", &stackOwner, false, mt_strpool, mem::AllocContext(mt_strpool)},
      {"stack owner behind a forged header", &forged.object, false, mt_unused, mem::k_anonHeap},
      {"static owner", &s_staticOwner, false, mt_unused, mem::k_anonHeap},
      {"noted freed owner", freedOwner, true, mt_unused, mem::k_anonHeap},
      {"no owner", nullptr, false, mt_sym, mem::AllocContext(mt_sym)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.noted) mem::noteNewObject(c.owner);
    const mem::AllocContext ctx(c.owner, c.memType);
    mem::forgetNewObject(c.owner);
    EXPECT_EQ(ctx.getMemType(), c.expected.getMemType());
    EXPECT_EQ(ctx.getRegion(), c.expected.getRegion());
    EXPECT_EQ(ctx.getMemScope(), c.expected.getMemScope());
    EXPECT_EQ(ctx.getIoAlign(), c.expected.getIoAlign());
    EXPECT_FALSE(ctx.getMBZ());
  }
  mem::Header::markAllocated(freedOwner);
  mem::freeBlock(freedOwner);
  mem::freeBlock(heapOwner);
}

TEST(AllocContext, SpareBitTravelsWithCopiesAndRegionForcing) {
  mem::AllocContext ctx(mt_rc_mutex, mem::REGION_MIN);
  ctx.setMBZ(true);
  const mem::AllocContext copy = ctx;
  EXPECT_TRUE(copy.getMBZ());
  const mem::AllocContext forced = mem::detail::onHeap(ctx);
  EXPECT_TRUE(forced.getMBZ());
  EXPECT_EQ(forced.getRegion(), mem::REGION_HEAP);
  EXPECT_EQ(forced.getMemType(), mt_rc_mutex);
  // The spare bit never reaches a header.
  void* p = mem::allocBlock(4, ctx);
  EXPECT_EQ(headerBytes(p)[6] & 0x30, 0);
  EXPECT_EQ(headerBytes(p)[7], 0x0C);
  mem::freeBlock(p);
}

TEST(Header, MisuseEndsTheProcess) {
  void* live = mem::allocBlock(8);
  memtest::FakeBlock freed({0, 0, 0, 0, 2, 0, 0, 0x30});
  const char* freeState =
      "(hdr->m_format == MEM_HEADER_FORMAT_MEMTYPE && hdr->m_magic == HDR_FREE_MAGIC && "
      "hdr->m_region < REGION_MAX && hdr->m_memType < mt_MAX)";
  memtest::expectVerifyFailure([&] { mem::Header::markFree(freed.user()); }, "valid", "markFree");
  memtest::expectVerifyFailure([&] { mem::Header::markReported(freed.user()); }, "valid",
                               "markReported");
  memtest::expectVerifyFailure([&] { mem::Header::markAllocated(live); }, freeState,
                               "markAllocated");
  memtest::expectVerifyFailure([] { mem::s_myHeader.setTrackingId(mem::MEM_TRACK_MAX, 1); },
                               "trackType >= 0 && trackType < MEM_TRACK_MAX", "setTrackingId");
  memtest::expectVerifyFailure([] { mem::s_myHeader.setTrackingId(-1, 1); },
                               "trackType >= 0 && trackType < MEM_TRACK_MAX", "setTrackingId");
  // A context whose type is out of range cannot make a valid header.
  memtest::expectVerifyFailure(
      [] { mem::allocBlock(8, mem::AllocContext(static_cast<memType_t>(mt_MAX))); },
      "blockHeader(p, &hdr)", "setHeader");
  mem::freeBlock(live);
}
