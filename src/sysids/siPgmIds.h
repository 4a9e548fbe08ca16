// Program ids: the numbering of all programs of the appliance.
#pragma once

namespace si {

class PgmIds {
 public:
  enum Val {
    BAD_PGM_ID = -1,
    NONE = 0,
    FIXED_ID_BEGIN = 1,
    CLIENT_MGR = 7,
    FIXED_ID_END = 32,
    NUM_FIXED_IDS = 31,
    PGM_TYPE_BEGIN = 901,
    REV_CMD = 922,
    PGM_TYPE_END = 976,
    NUM_PGM_TYPES = 75,
    ASSIGNED_BEGIN = 1001
  };
};

}  // namespace si
