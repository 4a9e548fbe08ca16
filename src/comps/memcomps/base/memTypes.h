// The vocabulary of the memory layer: the memory-type tags stamped into every block header, and
// the small enumerations that describe where a block lives (region), how long it is meant to
// live (scope), whether it is I/O-aligned and which kind of id tracks its allocation.
//
// memType_t and its mt_ tags are global so that any component can name its tag unqualified
// (class ByteStrm : public mem::newDelete<mt_rc_byte_strm>). The tag values are shared with the
// other programs of the appliance and must never be renumbered; values below mt_MAX that are not
// named here belong to those programs.
#pragma once

#include <cstdint>

// Every named tag once, as X(enumerator, value): the enumeration and the name table below are
// both made from this list, so a tag added here is named wherever types are shown. mt_unused
// means "inherit the owner's type" when a context is derived; mt_anonymous is the type of untagged
// allocations.
#define MEM_TYPES(X)             \
  X(mt_unused, 0)                \
  X(mt_root, 1)                  \
  X(mt_anonymous, 2)             \
  X(mt_rc_fd_info, 200)          \
  X(mt_rc_fd_info_vec, 201)      \
  X(mt_rc_fd_set, 202)           \
  X(mt_ac_msg_queue, 210)        \
  X(mt_rc_mem_layout, 216)       \
  X(mt_env_var_tbl, 238)         \
  X(mt_err, 239)                 \
  X(mt_intnl_err, 240)           \
  X(mt_locale, 241)              \
  X(mt_locale_db, 242)           \
  X(mt_rc_mutex, 245)            \
  X(mt_strdb, 252)               \
  X(mt_strpool, 253)             \
  X(mt_strbuf, 254)              \
  X(mt_strvec, 255)              \
  X(mt_sym, 256)                 \
  X(mt_sym_buf, 257)             \
  X(mt_sym_tbl, 258)             \
  X(mt_varargs, 261)             \
  X(mt_ac_str_data, 292)         \
  X(mt_rc_fault_api, 293)        \
  X(mt_rc_fault_attr, 294)       \
  X(mt_rc_fault_attrs, 295)      \
  X(mt_rc_fault_ctrls, 296)      \
  X(mt_rc_fault_rule, 297)       \
  X(mt_rc_fault_rules, 298)      \
  X(mt_rc_fault_rules_file, 299) \
  X(mt_rc_fault_value, 300)      \
  X(mt_rc_string, 302)           \
  X(mt_rc_string2, 306)          \
  X(mt_rc_byte_strm, 310)        \
  X(mt_rc_byte_strm_buf, 311)    \
  X(mt_rc_byte_strm_info, 312)   \
  X(mt_rc_byte_strm_pool, 313)   \
  X(mt_rc_byte_strm_vec, 314)

// clang-format off
enum memType_t : uint16_t {
#define MEM_TYPE_ENUMERATOR(name, value) name = value,
  MEM_TYPES(MEM_TYPE_ENUMERATOR)
#undef MEM_TYPE_ENUMERATOR
  mt_MAX = 336  // every valid tag is below this
};
// clang-format on

namespace mem {

using ::memType_t;

// Only REGION_HEAP exists in this program; the others name shared-memory regions of the
// appliance and are rejected by the process heap.
enum regionName_t {
  REGION_HEAP = 0,
  REGION_GLOBAL = 1,
  REGION_MIN = REGION_GLOBAL,
  REGION_PM = 2,
  REGION_MAX = 3
};
enum { REGION_BITS = 4 };  // width of the region field in a header

enum memScope_t {
  MEM_SCOPE_TEMPORARY = 0,
  MEM_SCOPE_PERMANENT = 1,
  MEM_SCOPE_LIMIT = 2,
  MEM_SCOPE_MAX = 3
};

enum memAlign_t { MEM_NOALIGN = 0, MEM_ALIGN = 1 };

// Kinds of tracking id, in falling priority: the plan id wins over the program id, which wins
// over the process id.
enum memTrack_t { MEM_TRACK_PLANID = 0, MEM_TRACK_PGMID = 1, MEM_TRACK_PID = 2, MEM_TRACK_MAX = 3 };

// Slots of the process-wide known-object table.
enum memKnownObject_t { KO_TEST = 0, KO_QV = 1, KO_MEMFAULT = 2, KO_MAX = 3 };

enum { MEM_HEADER_FORMAT_MEMTYPE = 0, MEM_HEADER_FORMAT_BITS = 2 };

enum { HDR_INIT_MAGIC = 0, HDR_ALLOC_MAGIC = 3, HDR_FREE_MAGIC = 12, HDR_MAGIC_BITS = 4 };

// Heap policies of shared regions (RegionDesc::m_numaPolicy).
enum {
  MEM_ONE_HEAP = 0,
  MEM_DEFAULT_POLICY = MEM_ONE_HEAP,
  MEM_MULTI_HEAP_FIXED = 1,
  MEM_MULTI_HEAP_RANDOM = 2
};

namespace detail {
struct MemTypeNames {
  const char* names[mt_MAX];
};
constexpr MemTypeNames makeMemTypeNames() {
  MemTypeNames table{};
#define MEM_TYPE_NAME(name, value) table.names[value] = #name;
  MEM_TYPES(MEM_TYPE_NAME)
#undef MEM_TYPE_NAME
  return table;
}
inline constexpr MemTypeNames kMemTypeNames = makeMemTypeNames();
}  // namespace detail

// The enumerator that names a type ("mt_rc_string"); null for a value named by no enumerator
// here (another program's tag, or one at or above mt_MAX).
constexpr const char* memTypeName(memType_t memType) {
  return memType < mt_MAX ? detail::kMemTypeNames.names[memType] : nullptr;
}

}  // namespace mem
