// The debug facility's modules (the component a trace line belongs to) and flags (the kind of
// information), apart from the facility itself so that the value types can name them in the trace
// lines they send through rcDump.h. Plain constants; their values are part of the controls record
// other programs send.
#pragma once

enum RcDbgFlags {
  DF_NONE = 0,
  DF_MSG = 0x1,
  DF_MSG_DATA = 0x2,
  DF_DEBUG = 0x4,
  DF_DEBUG_DATA = 0x8,
  DF_INIT = 0x10,
  DF_INIT_DATA = 0x20,
  DF_MEMORY = 0x40,
  DF_MEMORY_DATA = 0x80,
  DF_PROFILE = 0x100,
  DF_PROFILE_DATA = 0x200,
  DF_SQL = 0x400,
  DF_SQL_DATA = 0x800,
  DF_MINOR = 0x1000,
  DF_MINOR_DATA = 0x2000,
  DF_TIME = 0x4000,
  DF_TIME_DATA = 0x8000,
  DF_FAULT = 0x10000,
  DF_FAULT_DATA = 0x20000,
  DF_STATE = 0x40000,
  DF_STATE_DATA = 0x80000,
  DF_RB = 0x100000,
  DF_RB_DATA = 0x200000,
  DF_ALL_BUT_MEM = 0x7FFFFF3F,
  DF_ALL = 0x7FFFFFFF,
  DF_BEGIN = 1,
  DF_END = 0x200001,
  DF_BASIC_FLAGS = 0x415
};

enum RcDbgModule {
  DM_ALL = -1,
  DM_NONE = 0,
  DM_BEGIN = 1,
  DM_AC = 1,
  DM_ADC = 2,
  DM_IPC = 12,
  DM_RC = 20,
  DM_SIG = 23,
  DM_END = 70,
  NUM_DBG_MODULES = 70
};
