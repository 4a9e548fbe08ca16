#include "comps/recomps/rcPgmAttrs.h"

#include <cstdio>
#include <cstring>

#include "comps/recomps/rcUtils.h"

namespace rc {

int PgmAttrs::s_hwId = 0;

namespace {
PgmAttrs staticInstance;
}  // namespace

PgmAttrs::PgmAttrs() : m_identity(0), m_hwIdInSrcPrefix(0) {
  m_pgmLabel[0] = '\0';
  m_srcPrefix[0] = '\0';
}

PgmAttrs* PgmAttrs::instance() { return &staticInstance; }

void PgmAttrs::setPgmLabel(const char* pgmLabel, int identity) {
  Utils::copyStr(m_pgmLabel, pgmLabel, sizeof m_pgmLabel);
  m_identity = identity;
  buildSrcPrefix();
}

void PgmAttrs::setIdentity(int identity) {
  m_identity = identity;
  buildSrcPrefix();
}

const char* PgmAttrs::srcPrefix() const {
  if (m_srcPrefix[0] == '\0' || (s_hwId != 0 && s_hwId != m_hwIdInSrcPrefix)) buildSrcPrefix();
  return m_srcPrefix;
}

void PgmAttrs::buildSrcPrefix() const {
  // The numbers and the closing ") " are formatted first so that only the label is ever cut.
  char tail[40];
  if (m_identity != 0 && s_hwId != 0) {
    snprintf(tail, sizeof tail, ".%d.%d) ", s_hwId, m_identity);
  } else if (m_identity != 0 || s_hwId != 0) {
    snprintf(tail, sizeof tail, ".%d) ", m_identity != 0 ? m_identity : s_hwId);
  } else {
    snprintf(tail, sizeof tail, ") ");
  }
  const int room = static_cast<int>(sizeof m_srcPrefix) - 2 - static_cast<int>(strlen(tail));
  snprintf(m_srcPrefix, sizeof m_srcPrefix, "(%.*s%s", room, m_pgmLabel, tail);
  if (s_hwId != 0) m_hwIdInSrcPrefix = s_hwId;
}

}  // namespace rc
