#include "comps/appcomps/acFollowMsgs.h"

#include <cstdint>
#include <cstring>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace ac {

namespace {

void put32(std::string* wire, uint32_t value) {
  wire->append(reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

void TraceLines::append(rc::LineKind kind, const char* text, size_t len, bool addNewline) {
  if (len > MAX_TEXT) len = MAX_TEXT;
  const size_t total = len + (addNewline ? 1 : 0);
  const size_t padded = (total + 3) & ~size_t{3};
  put32(&m_wire, static_cast<uint32_t>(kind));
  put32(&m_wire, static_cast<uint32_t>(total));
  m_wire.append(text, len);
  if (addNewline) m_wire += '\n';
  // Padding is zeroed, as the byte stream's: no stale memory goes to another process.
  m_wire.append(padded - total, '\0');
  ++m_count;
}

void TraceLines::clear() {
  m_wire.clear();
  m_count = 0;
  m_lines.clear();
}

void TraceLines::swap(TraceLines& other) noexcept {
  m_wire.swap(other.m_wire);
  std::swap(m_count, other.m_count);
  m_lines.swap(other.m_lines);
}

void TraceLines::saveOn(rc::ByteStrm& s) const {
  s << m_count;
  if (!m_wire.empty()) s.writeBytes(m_wire.data(), m_wire.size());
}

void TraceLines::restoreFrom(rc::ByteStrm& s) {
  const char* routine = "appcomps/TraceLines::restoreFrom";
  int count = 0;
  s >> count;
  // Every line takes at least its kind and its length.
  if (count < 0) rc::ByteStrm::readFailed(routine);
  s.checkUnread(static_cast<size_t>(count) * 8, routine);
  std::vector<Line> lines;
  lines.reserve(static_cast<size_t>(count));
  std::string wire;
  for (int i = 0; i < count; ++i) {
    int kind = 0;
    std::string text;
    s >> kind >> text;
    if (kind != rc::LK_TRACE && kind != rc::LK_LOG) rc::ByteStrm::readFailed(routine);
    lines.push_back({static_cast<rc::LineKind>(kind), std::move(text)});
  }
  clear();
  for (const Line& line : lines) append(line.kind, line.text.data(), line.text.size());
  m_lines = std::move(lines);
}

void TraceLines::dumpObj(int indentLvl, const char* /*label*/) const {
  rc::dumpLine(indentLvl + 1, "lines = %d\n", m_count);
  for (const Line& line : m_lines) {
    rc::dumpLine(indentLvl + 2, "%s '%.*s'\n", line.kind == rc::LK_LOG ? "log" : "trace",
                 static_cast<int>(line.text.size()), line.text.c_str());
  }
}

}  // namespace ac
