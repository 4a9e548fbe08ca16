// Revision stamp functions: the release identity compiled into the program, in the text forms the
// whole system prints, plus comparison of revision texts and release-stage names.
//
// Every text lives in a static buffer of the function that produces it, filled on the first call;
// callers get a pointer into it and must neither free nor modify it. Not thread-safe before the
// first call of each function. Exported under plain (unmangled) names.
#pragma once

extern "C" {

// Release stages.
enum {
  QV_RS_NONE = 0,
  QV_RS_BAD = 1,
  QV_RS_DEV = 2,
  QV_RS_ALPHA = 3,
  QV_RS_BETA = 4,
  QV_RS_FINAL = 5,
  QV_RS_INTERIM_FIX = 6,
  QV_RS_END = 7,
  QV_RS_BEGIN = 2,
  QV_NUM_STAGES = 5
};

// Marker strings ("QvRevStamp=...", "QvBldStamp=...") that make the revision findable in the
// program file with a string search; nothing reads them at run time.
extern const char* const QvRevStamp;
extern const char* const QvBldStamp;

// Non-zero labelVersion: "Release 7.1.0.0 [Build 35553]"; zero: "7.1.0.0-P0-F1-Bld35553".
const char* qvRevStamp(const int labelVersion);
const char* qvRevShortLabel();
const char* qvRevDirSuffix();
const char* qvBldStamp();
// "opt" for an optimised build, "dbg" for a debug build.
const char* qvRevBuildType();

// Symbol and label of a stage id; ids outside the table give "unknown" / "Unknown".
const char* qvRevStageSymbol(int id);
const char* qvRevStageLabel(int id);
// Stage id of a stage letter ("A", "B", "D", "F"), "IF" or a symbol; QV_RS_NONE for null or
// empty, QV_RS_BAD for anything else. Case-sensitive.
int qvRevStageId(const char* str);

// Compares the version numbers of two label-form revisions ("Release 7.1.0.0 [...]"): 1, 0, -1.
// Gives -1 when fewer than two numbers can be read from either text.
int qvRevCompare(const char* version1, const char* version2);
// Compares the patch levels ("P<n>") of two stamp-form revisions numerically: 1, 0, -1.
int qvRevPatchCompare(const char* version1, const char* version2);

}  // extern "C"
