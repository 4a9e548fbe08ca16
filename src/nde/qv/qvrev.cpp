#include "nde/qv/qvrev.h"

#include <cstdio>
#include <cstring>

#include "comps/recomps/rcSymRows.h"
#include "nde/qv/qvRelease.h"

extern "C" {

// 'used' keeps the markers in a statically linked program even though nothing refers to them.
__attribute__((used)) const char* const QvRevStamp = QV_REL_REV_MARKER;
__attribute__((used)) const char* const QvBldStamp = QV_REL_BLD_MARKER;

}  // extern "C"

namespace {

constexpr rc::SymRec kStageRecs[] = {
    {QV_RS_NONE, "none", "None"},      {QV_RS_BAD, "unknown", "Unknown"},
    {QV_RS_DEV, "dev", "Dev"},         {QV_RS_ALPHA, "alpha", "Alpha"},
    {QV_RS_BETA, "beta", "Beta"},      {QV_RS_FINAL, "final", "Final"},
    {QV_RS_INTERIM_FIX, "ifix", "IF"},
};
constexpr rc::SymRows kStages(kStageRecs);

const char* _versionStr(const int /*labelVersion*/) {
  static char buf[16];
  if (buf[0] == '\0') {
    snprintf(buf, sizeof buf, "%s.%d.%d.%d", QV_REL_MAJOR, QV_REL_MINOR, QV_REL_SUB_MINOR,
             QV_REL_VARIANT);
  }
  return buf;
}

}  // namespace

extern "C" {

const char* qvRevStamp(const int labelVersion) {
  static char labelBuf[50];
  static char stampBuf[50];
  if (labelVersion != 0) {
    if (labelBuf[0] == '\0') {
      snprintf(labelBuf, sizeof labelBuf, "Release %s [Build %d]", _versionStr(labelVersion),
               QV_REL_BUILD_NUM);
    }
    return labelBuf;
  }
  if (stampBuf[0] == '\0') {
    snprintf(stampBuf, sizeof stampBuf, "%s-P%d-%s%d-Bld%d", _versionStr(labelVersion),
             QV_REL_PATCH_LEVEL, QV_REL_STAGE_LETTER, QV_REL_STAGE_ITERATION, QV_REL_BUILD_NUM);
  }
  return stampBuf;
}

const char* qvRevShortLabel() {
  static char buf[32];
  if (buf[0] == '\0') snprintf(buf, sizeof buf, "%s", _versionStr(0));
  return buf;
}

const char* qvRevDirSuffix() {
  static char buf[32];
  if (buf[0] == '\0') snprintf(buf, sizeof buf, "%s", _versionStr(0));
  return buf;
}

const char* qvBldStamp() {
  static char buf[150];
  if (buf[0] == '\0') snprintf(buf, sizeof buf, "%s.%d", QV_REL_BUILD_STR, QV_REL_BUILD_NUM);
  return buf;
}

const char* qvRevBuildType() { return QV_REL_BUILD_TYPE; }

const char* qvRevStageSymbol(int id) { return kStages.symbol(id, "unknown"); }

const char* qvRevStageLabel(int id) { return kStages.label(id, "Unknown"); }

int qvRevStageId(const char* str) {
  if (str == nullptr || str[0] == '\0') return QV_RS_NONE;
  const size_t len = strlen(str);
  if (len == 1) {
    switch (str[0]) {
      case 'A': return QV_RS_ALPHA;
      case 'B': return QV_RS_BETA;
      case 'D': return QV_RS_DEV;
      case 'F': return QV_RS_FINAL;
      default: return QV_RS_BAD;
    }
  }
  if (len == 2) return strcmp(str, "IF") == 0 ? QV_RS_INTERIM_FIX : QV_RS_BAD;
  return kStages.id(str, QV_RS_BAD, QV_RS_BEGIN, QV_RS_END - 1);
}

int qvRevCompare(const char* version1, const char* version2) {
  if (version1 == nullptr || version2 == nullptr) return -1;
  int v1[4] = {0, 0, 0, 0};
  int v2[4] = {0, 0, 0, 0};
  const int n1 = sscanf(version1, "%*s %d.%d.%d.%d)", &v1[0], &v1[1], &v1[2], &v1[3]);
  const int n2 = sscanf(version2, "%*s %d.%d.%d.%d", &v2[0], &v2[1], &v2[2], &v2[3]);
  if (n1 < 2 || n2 < 2) return -1;
  for (int i = 0; i < 4; ++i) {
    if (v1[i] != v2[i]) return v1[i] > v2[i] ? 1 : -1;
  }
  return 0;
}

int qvRevPatchCompare(const char* version1, const char* version2) {
  auto patchLevel = [](const char* version) {
    int level = 0;
    const char* p = version != nullptr ? strchr(version, 'P') : nullptr;
    if (p != nullptr) sscanf(p, "P%d", &level);
    return level;
  };
  const int p1 = patchLevel(version1);
  const int p2 = patchLevel(version2);
  return p1 > p2 ? 1 : (p1 < p2 ? -1 : 0);
}

}  // extern "C"
