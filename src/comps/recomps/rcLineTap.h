// The lines the program writes, as the application sees them: the debug facility hands over every
// trace line and dump text it writes, the logging facility every log line, whatever devices they
// went to (none included). The application installs a tap while someone follows the program's
// output and removes it afterwards, so that a program nobody follows pays one pointer test per
// line. A tap must not assume it is not reached again while it runs: anything it writes may be
// traced. Not thread-safe; not for signal handlers.
#pragma once

namespace rc {

enum LineKind { LK_TRACE = 0, LK_LOG = 1 };

// text is the line as written (its newline included when it has one); with addNewline a newline
// follows it.
using LineTapRtn = void (*)(LineKind kind, const char* text, bool addNewline);

// Installs the tap; null removes it. Returns the previous tap.
LineTapRtn setLineTap(LineTapRtn rtn);

namespace linetap {
extern LineTapRtn s_tap;
}  // namespace linetap

inline void tapLine(LineKind kind, const char* text, bool addNewline = false) {
  if (__builtin_expect(linetap::s_tap != nullptr, false)) linetap::s_tap(kind, text, addNewline);
}

}  // namespace rc
