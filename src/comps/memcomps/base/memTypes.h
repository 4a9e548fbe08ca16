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

enum memType_t : uint16_t {
  mt_unused = 0,  // "inherit the owner's type" when deriving a context
  mt_root = 1,
  mt_anonymous = 2,  // the default type of untagged allocations

  mt_rc_fd_info = 200,
  mt_rc_fd_info_vec = 201,
  mt_rc_fd_set = 202,
  mt_ac_msg_queue = 210,
  mt_rc_mem_layout = 216,
  mt_env_var_tbl = 238,
  mt_err = 239,
  mt_intnl_err = 240,
  mt_locale = 241,
  mt_locale_db = 242,
  mt_rc_mutex = 245,
  mt_strdb = 252,
  mt_strpool = 253,
  mt_strbuf = 254,
  mt_strvec = 255,
  mt_sym = 256,
  mt_sym_buf = 257,
  mt_sym_tbl = 258,
  mt_varargs = 261,
  mt_ac_str_data = 292,
  mt_rc_fault_api = 293,
  mt_rc_fault_attr = 294,
  mt_rc_fault_attrs = 295,
  mt_rc_fault_ctrls = 296,
  mt_rc_fault_rule = 297,
  mt_rc_fault_rules = 298,
  mt_rc_fault_rules_file = 299,
  mt_rc_fault_value = 300,
  mt_rc_string = 302,
  mt_rc_string2 = 306,
  mt_rc_byte_strm = 310,
  mt_rc_byte_strm_buf = 311,
  mt_rc_byte_strm_info = 312,
  mt_rc_byte_strm_pool = 313,
  mt_rc_byte_strm_vec = 314,

  mt_MAX = 336  // every valid tag is below this
};

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

}  // namespace mem
