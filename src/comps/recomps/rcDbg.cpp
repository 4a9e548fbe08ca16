#include "comps/recomps/rcDbg.h"

#include <cstdio>

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
  for (int i = 0; i < indentLvl; ++i) fputs("  ", stdout);
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stdout, fmt, ap);
  va_end(ap);
}

}  // namespace rc
