#include "comps/recomps/rcVarArgs.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcStrVec.h"

namespace rc {

const VarArgs VarArgs::NO_VARARGS;

namespace {

template <typename T>
const char* formatted(char (&buf)[32], const char* fmt, T value) {
  snprintf(buf, sizeof buf, fmt, value);
  return buf;
}

}  // namespace

VarArgs::VarArgs() : m_args(nullptr) {}

VarArgs::VarArgs(size_t nArgs, size_t bufSize)
    : m_args(new StrVec(static_cast<unsigned int>(nArgs), static_cast<unsigned int>(bufSize))) {}

VarArgs::VarArgs(const VarArgs& src)
    : m_args(src.m_args != nullptr ? new StrVec(*src.m_args) : nullptr) {}

// The process heap is the only region of this program, so every vector lives there.
VarArgs::VarArgs(const VarArgs& src, mem::regionName_t /*region*/) : VarArgs(src) {}

VarArgs& VarArgs::operator=(const VarArgs& src) {
  if (&src == this) return *this;
  if (src.m_args == nullptr) {
    clear();
  } else {
    createArgs();
    *m_args = *src.m_args;
  }
  return *this;
}

VarArgs::~VarArgs() { delete m_args; }

namespace {
// Most lists hold a few short arguments: start small, the vector grows when needed.
constexpr unsigned int kFirstEntries = 4;
constexpr unsigned int kFirstChars = 96;
}  // namespace

void VarArgs::createArgs() {
  if (m_args == nullptr) m_args = new StrVec(kFirstEntries, kFirstChars);
}

StrVec* VarArgs::args() const {
  if (m_args == nullptr) m_args = new StrVec(kFirstEntries, kFirstChars);
  return m_args;
}

void VarArgs::clear() {
  if (m_args != nullptr) m_args->clear();
}

VarArgs& VarArgs::append(const char* text) {
  createArgs();
  m_args->append(text);
  return *this;
}

VarArgs& VarArgs::operator<<(const char* str) { return append(str); }

VarArgs& VarArgs::operator<<(const std::string& str) {
  createArgs();
  m_args->append(str.data(), static_cast<unsigned int>(str.size()));
  return *this;
}

VarArgs& VarArgs::operator<<(int value) {
  // The same text as "%d", without the cost of a format parse.
  char buf[24];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  createArgs();
  m_args->append(buf, static_cast<unsigned int>(result.ptr - buf));
  return *this;
}
VarArgs& VarArgs::operator<<(unsigned int value) {
  char buf[32];
  return append(formatted(buf, "%u", value));
}
VarArgs& VarArgs::operator<<(long value) {
  char buf[32];
  return append(formatted(buf, "%ld", value));
}
VarArgs& VarArgs::operator<<(unsigned long value) {
  char buf[32];
  return append(formatted(buf, "%lu", value));
}
VarArgs& VarArgs::operator<<(long long value) {
  char buf[32];
  return append(formatted(buf, "%lld", value));
}
VarArgs& VarArgs::operator<<(unsigned long long value) {
  char buf[32];
  return append(formatted(buf, "%llu", value));
}
VarArgs& VarArgs::operator<<(float value) { return *this << static_cast<double>(value); }
VarArgs& VarArgs::operator<<(double value) {
  char buf[32];
  return append(formatted(buf, "%0g", value));
}

VarArgs& VarArgs::operator<<(const VarArgs& src) {
  createArgs();
  m_args->append(*src.args());
  return *this;
}

size_t VarArgs::size() const { return m_args != nullptr ? m_args->entries() : 0; }

bool VarArgs::isEmpty() const { return m_args == nullptr || m_args->isEmpty(); }

const char* VarArgs::operator[](size_t index) const {
  if (m_args == nullptr) return nullptr;
  return index < m_args->entries() ? (*m_args)[static_cast<unsigned int>(index)]
                                   : StrVec::INDEX_TOO_BIG;
}

std::string VarArgs::operator[](const std::string& name) const {
  const size_t n = size();
  for (size_t i = 0; i < n; ++i) {
    const char* entry = (*m_args)[static_cast<unsigned int>(i)];
    const char* eq = strchr(entry, '=');
    if (eq == nullptr) continue;
    if (static_cast<size_t>(eq - entry) == name.size() &&
        memcmp(entry, name.data(), name.size()) == 0) {
      return eq + 1;
    }
  }
  return std::string();
}

std::string VarArgs::asString() const {
  std::string out;
  const size_t n = size();
  for (size_t i = 0; i < n; ++i) {
    if (i != 0) out += ", ";
    out += (*m_args)[static_cast<unsigned int>(i)];
  }
  return out;
}

std::string VarArgs::substituteArgs(const char* str) const {
  // One pass over the template: inserted text is never looked at again, so scanning the
  // template alone is the same as rescanning the text after each insertion.
  if (str == nullptr) return std::string();
  const size_t n = size();
  const size_t len = strlen(str);
  if (n == 0) return std::string(str, len);
  std::string text;
  text.reserve(len + 32 * n);
  size_t pos = 0;
  while (pos < len) {
    const char* brace = static_cast<const char*>(memchr(str + pos, '{', len - pos));
    if (brace == nullptr) break;
    const size_t at = static_cast<size_t>(brace - str);
    text.append(str + pos, at - pos);
    const signed char d1 = at + 1 < len ? str[at + 1] : '\0';
    const char d2 = at + 2 < len ? str[at + 2] : '\0';
    size_t width = 3;
    size_t index = n;
    if (d1 >= '1' && static_cast<size_t>(d1 - '1') < n) {
      if (isdigit(static_cast<unsigned char>(d2))) {
        index = static_cast<size_t>((d1 - '0') * 10 + (d2 - '0') - 1);
        width = 4;
      } else {
        index = static_cast<size_t>(d1 - '1');
      }
    }
    const size_t next = std::min(at + width, len);
    if (index < n) {
      const unsigned int i = static_cast<unsigned int>(index);
      text.append((*m_args)[i], m_args->strLen(i));
    } else {
      text.append(str + at, next - at);  // not a placeholder of an argument: kept as it is
    }
    pos = next;
  }
  text.append(str + pos, len - pos);
  return text;
}

void VarArgs::saveOn(ByteStrm& s) const {
  if (m_args == nullptr) {
    s << 0;
    return;
  }
  s << 1;
  m_args->saveOn(s);
}

void VarArgs::restoreFrom(ByteStrm& s) {
  int hasArgs = 0;
  s >> hasArgs;
  if (hasArgs != 0) {
    createArgs();
    m_args->restoreFrom(s);
  } else {
    clear();
  }
}

size_t VarArgs::binarySize() const { return 4 + (m_args != nullptr ? m_args->binarySize() : 0); }

void VarArgs::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "VarArgs", this, ", vector: \n");
  if (m_args != nullptr) m_args->dumpObj(indentLvl + 1, nullptr);
}

}  // namespace rc
