#include "comps/recomps/rcDump.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "comps/recomps/rcHook.h"

namespace rc {

namespace {

constexpr int kLineBufSize = 20480;  // as the debug facility's own lines
constexpr int kMaxIndent = 160;      // blanks, as the debug facility's own lines

void stdoutSink(const char* line) { fputs(line, stdout); }

DumpSinkRtn s_sink = &stdoutSink;
TraceRtn s_traceRtn = nullptr;
TraceOnRtn s_traceOnRtn = nullptr;

// Indents, formats and hands the line to the sink; returns nothing the caller needs.
void emit(int indentLvl, const char* head, const char* fmt, va_list ap) {
  char text[kLineBufSize];
  int indent = indentLvl > 0 ? 2 * indentLvl : 0;
  if (indent > kMaxIndent) indent = kMaxIndent;
  memset(text, ' ', static_cast<size_t>(indent));
  size_t used = static_cast<size_t>(indent);
  if (head != nullptr) {
    const int n = snprintf(text + used, sizeof text - used, "%s", head);
    if (n > 0)
      used += static_cast<size_t>(n) < sizeof text - used ? static_cast<size_t>(n)
                                                          : sizeof text - used - 1;
  }
  vsnprintf(text + used, sizeof text - used, fmt, ap);
  s_sink(text);
}

}  // namespace

DumpSinkRtn setDumpSink(DumpSinkRtn sink) { return installHook(s_sink, sink, &stdoutSink); }

TraceRtn setTraceRtn(TraceRtn rtn) {
  TraceRtn prev = s_traceRtn;
  s_traceRtn = rtn;
  return prev;
}

TraceOnRtn setTraceOnRtn(TraceOnRtn rtn) {
  TraceOnRtn prev = s_traceOnRtn;
  s_traceOnRtn = rtn;
  return prev;
}

bool traceOn(int module, int flag) { return s_traceOnRtn != nullptr && s_traceOnRtn(module, flag); }

void trace(int module, int flag, const char* fmt, ...) {
  if (s_traceRtn == nullptr) return;
  va_list ap;
  va_start(ap, fmt);
  s_traceRtn(module, flag, fmt, ap);
  va_end(ap);
}

DumpAddr::DumpAddr(const void* p) {
  snprintf(m_text, sizeof m_text, "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(p));
}

void dumpLine(int indentLvl, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emit(indentLvl, nullptr, fmt, ap);
  va_end(ap);
}

void dumpHeader(int indentLvl, const char* label, const char* name, const void* obj,
                const char* restFmt, ...) {
  char head[256];
  snprintf(head, sizeof head, "%s%s [%s]", label != nullptr ? label : "",
           name != nullptr ? name : "", DumpAddr(obj).str());
  va_list ap;
  va_start(ap, restFmt);
  emit(indentLvl, head, restFmt, ap);
  va_end(ap);
}

}  // namespace rc
