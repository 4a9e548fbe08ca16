// The debug output as the value types see it. Every class's dumpObj(indentLvl, label) writes its
// lines through dumpLine/dumpHeader, and value types write their trace lines through trace(), so
// they need not know where debug output goes: the debug facility installs its sink and its trace
// routine when it is linked in (dumps then follow the debug output's routing). Until a sink is
// installed, dump lines go to standard output; without a trace routine trace lines go nowhere.
// Lines are indented by two blanks per level (none for a negative level). Every dump's first line
// has one shape, "<label><Name> [0x<address>]<rest>", with the address in full hexadecimal. Not for
// use in signal handlers.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "comps/recomps/rcDbgCodes.h"

namespace rc {

// Receives one finished line (indented, newline included as formatted by the caller).
using DumpSinkRtn = void (*)(const char* line);

// Installs the sink; null restores the standard-output default. Returns the previous sink.
DumpSinkRtn setDumpSink(DumpSinkRtn sink);

// Receives a trace line under a module and flag (RcDbgModule, RcDbgFlags); it decides whether
// the line shows.
using TraceRtn = void (*)(int module, int flag, const char* fmt, va_list ap);

// Installs the trace routine; null drops trace lines. Returns the previous routine.
TraceRtn setTraceRtn(TraceRtn rtn);

// Whether the debug facility shows a module and flag, for work done only to be traced; the
// facility installs its answer, which is false until then. Returns the previous routine.
using TraceOnRtn = bool (*)(int module, int flag);
TraceOnRtn setTraceOnRtn(TraceOnRtn rtn);
bool traceOn(int module, int flag);

// One trace line, printf-style, when the debug facility shows this module and flag.
void trace(int module, int flag, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// One dump line, printf-style, at the given indent level.
void dumpLine(int indentLvl, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// The first line of an object's dump: label (none when null), name, the object's address in
// brackets, then restFmt formatted (": field = %d\n", ", entries = %d, contents:\n", ...).
void dumpHeader(int indentLvl, const char* label, const char* name, const void* obj,
                const char* restFmt, ...) __attribute__((format(printf, 5, 6)));

// An address as dumps show it ("0x" and hexadecimal digits), for addresses inside a line.
struct DumpAddr {
  explicit DumpAddr(const void* p);
  const char* str() const { return m_text; }
  char m_text[2 + 2 * sizeof(uintptr_t) + 1];
};

// The value destructors of small records write into their pointer fields, so that a use after
// destruction faults on a recognisable address instead of reading a freed block.
template <typename T>
inline T* invalidAddr() {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(-3));
}
template <typename T>
inline void poison(T*& field) {
  field = invalidAddr<T>();
}

}  // namespace rc
