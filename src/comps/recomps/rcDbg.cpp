#include "comps/recomps/rcDbg.h"

#include <cstdio>
#include <cstring>

namespace rc {

bool Dbg::s_anyOn = false;

Dbg* Dbg::instance() {
  static Dbg s_dbg;
  return &s_dbg;
}

bool Dbg::isOn(int module, int flag) const {
  return module > DM_NONE && module < DM_END && m_modules[module] != 0 && (m_flags & flag) != 0;
}

void Dbg::print(int module, int flag, const char* fmt, ...) {
  if (!s_anyOn || !isOn(module, flag)) return;
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stdout, fmt, ap);
  va_end(ap);
}

void Dbg::print(int indentLvl, const char* fmt, ...) {
  enum { MAX_INDENT = 160, TEXT_BUF_SIZE = 20480 };
  char text[TEXT_BUF_SIZE];
  const int indent = indentLvl < 0 ? 0 : (indentLvl > MAX_INDENT / 2 ? MAX_INDENT : 2 * indentLvl);
  memset(text, ' ', indent);
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text + indent, sizeof text - indent, fmt, ap);
  va_end(ap);
  fputs(text, stdout);
  fflush(stdout);
}

}  // namespace rc
