#include "comps/appcomps/acStrData.h"

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace ac {

StrData::StrData(int references) : rc::RefCnt(references), m_buffer(std::ios_base::out) {}

StrData::StrData(const char* buffer, int references) : StrData(references) {
  set(buffer != nullptr ? buffer : "");
}

StrData::StrData(const StrData& src, int references) : StrData(references) { set(src.str()); }

StrData& StrData::operator=(const StrData& src) {
  if (&src != this) set(src.str());
  return *this;
}

StrData::~StrData() = default;

void StrData::append(const char* data) {
  // Writing a null pointer would fail the stream and silently drop every later append.
  if (data != nullptr) m_buffer << data;
}

// str(text) on an output-only stream opened without "ate" leaves the write position at 0.
void StrData::set(const std::string& data) { m_buffer.str(data); }

const char* StrData::data() const {
  m_text = m_buffer.str();
  return m_text.c_str();
}

size_t StrData::size() const { return m_buffer.view().size(); }

void StrData::saveOn(rc::ByteStrm& s) const {
  const std::string_view text = m_buffer.view();
  s.writeStr(text.data(), text.size());
}

void StrData::restoreFrom(rc::ByteStrm& s) {
  std::string text;
  s >> text;
  set(text);
}

void StrData::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, "Str Data", this, ":\n");
  rc::dumpLine(indentLvl + 1, "buffer   = '%s'\n", data());
}

}  // namespace ac
