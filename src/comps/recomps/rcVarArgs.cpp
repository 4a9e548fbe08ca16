#include "comps/recomps/rcVarArgs.h"

#include <cctype>
#include <cstdint>
#include <cstdio>

#include "comps/recomps/rcDbg.h"

namespace rc {

const VarArgs VarArgs::NO_VARARGS;

VarArgs::VarArgs(const VarArgs& src, mem::regionName_t /*region*/) : m_args(src.m_args) {}

VarArgs& VarArgs::operator<<(const char* str) {
  m_args.emplace_back(str != nullptr ? str : "");
  return *this;
}

VarArgs& VarArgs::operator<<(const std::string& str) {
  m_args.push_back(str);
  return *this;
}

namespace {
template <typename T>
std::string formatted(const char* fmt, T value) {
  char buf[32];
  snprintf(buf, sizeof buf, fmt, value);
  return buf;
}
}  // namespace

VarArgs& VarArgs::operator<<(int value) { return *this << formatted("%d", value); }
VarArgs& VarArgs::operator<<(unsigned int value) { return *this << formatted("%u", value); }
VarArgs& VarArgs::operator<<(long value) { return *this << formatted("%ld", value); }
VarArgs& VarArgs::operator<<(unsigned long value) { return *this << formatted("%lu", value); }
VarArgs& VarArgs::operator<<(long long value) { return *this << formatted("%lld", value); }
VarArgs& VarArgs::operator<<(unsigned long long value) {
  return *this << formatted("%llu", value);
}
VarArgs& VarArgs::operator<<(double value) { return *this << formatted("%0g", value); }

VarArgs& VarArgs::operator<<(const VarArgs& src) {
  for (const auto& arg : src.m_args) m_args.push_back(arg);
  return *this;
}

const char* VarArgs::operator[](size_t index) const {
  return index < m_args.size() ? m_args[index].c_str() : "<rc::StrVec index too big>";
}

std::string VarArgs::asString() const {
  std::string out;
  for (size_t i = 0; i < m_args.size(); ++i) {
    if (i != 0) out += ", ";
    out += m_args[i];
  }
  return out;
}

std::string VarArgs::substituteArgs(const char* str) const {
  std::string text = str != nullptr ? str : "";
  const size_t n = m_args.size();
  size_t pos = 0;
  while ((pos = text.find('{', pos)) != std::string::npos) {
    const signed char d1 = pos + 1 < text.size() ? text[pos + 1] : '\0';
    if (d1 < '1' || static_cast<size_t>(d1 - '1') >= n) {
      pos += 3;
      continue;
    }
    const char d2 = pos + 2 < text.size() ? text[pos + 2] : '\0';
    size_t index;
    size_t width;
    if (isdigit(static_cast<unsigned char>(d2))) {
      index = static_cast<size_t>((d1 - '0') * 10 + (d2 - '0') - 1);
      if (index >= n) {
        pos += 4;
        continue;
      }
      width = 4;
    } else {
      index = static_cast<size_t>(d1 - '1');
      width = 3;
    }
    text.replace(pos, width, m_args[index]);
    pos += m_args[index].size();
  }
  return text;
}

void VarArgs::dumpObj(int indentLvl, const char* label) const {
  Dbg* dbg = Dbg::instance();
  dbg->print(indentLvl, "%sVarArgs [0x%x], vector: \n", label != nullptr ? label : "",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)));
  for (size_t i = 0; i < m_args.size(); ++i) {
    dbg->print(indentLvl + 1, "%zu. '%s'\n", i, m_args[i].c_str());
  }
}

}  // namespace rc
