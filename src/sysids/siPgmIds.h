// Program ids: the numbering of all programs of the appliance. Fixed ids (1-31) name the
// system's servers, per-task ids (501-524) its worker tasks, program types (901-975) its
// commands and tools; ids from 1001 are handed out at run time. Every used id has a symbol (a
// short lower-case program name, matched ignoring case) and a display label; an id without a
// row answers "unknown" / "Unknown". Static read-only data: safe anywhere, signal handlers
// included.
#pragma once

namespace si {

class PgmIds {
 public:
  enum Val {
    BAD_PGM_ID = -1,
    NONE = 0,

    FIXED_ID_BEGIN = 1,
    CLIENT_MGR = 7,
    // 13 is a retired fixed id: fixedPgmId never answers it.
    RETIRED_FIXED_ID = 13,
    FIXED_ID_END = 32,
    NUM_FIXED_IDS = FIXED_ID_END - FIXED_ID_BEGIN,

    TASK_ID_BEGIN = 501,
    TASK_ID_END = 525,
    NUM_TASK_IDS = TASK_ID_END - TASK_ID_BEGIN,

    PGM_TYPE_BEGIN = 901,
    REV_CMD = 922,
    // The live-control command and the example daemon it is shown with.
    CTL_CMD = 930,
    DEMO_DAEMON = 931,
    // Its log files carry the start time in their names.
    LOAD_CMD = 944,
    PGM_TYPE_END = 976,
    NUM_PGM_TYPES = PGM_TYPE_END - PGM_TYPE_BEGIN,

    ASSIGNED_BEGIN = 1001
  };

  static const char* pgmIdSymbol(int id);
  static const char* pgmIdLabel(int id);
  // The lowest id in 1-975 whose symbol equals symbol ignoring case; NONE for null or empty,
  // BAD_PGM_ID when none matches. "unknown" finds the lowest id without a row.
  static int getPgmId(const char* symbol);
  // The same over the fixed ids only (1-31, without the retired 13).
  static int fixedPgmId(const char* symbol);
};

}  // namespace si
