// The ordered arguments of a message code. Every value is converted to text when it is added, so
// the list holds strings only; the catalog and the error formatter substitute them into "{1}",
// "{2}" ... placeholders of a message text. Not thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "comps/memcomps/base/memNewDelete.h"

namespace rc {

class VarArgs : public mem::newDelete<mt_varargs> {
 public:
  VarArgs() = default;
  VarArgs(const VarArgs& src) = default;
  // A copy whose list lives in region.
  VarArgs(const VarArgs& src, mem::regionName_t region);
  VarArgs& operator=(const VarArgs& src) = default;

  VarArgs& operator<<(const char* str);
  VarArgs& operator<<(const std::string& str);
  VarArgs& operator<<(int value);
  VarArgs& operator<<(unsigned int value);
  VarArgs& operator<<(long value);
  VarArgs& operator<<(unsigned long value);
  VarArgs& operator<<(long long value);
  VarArgs& operator<<(unsigned long long value);
  VarArgs& operator<<(double value);
  VarArgs& operator<<(const VarArgs& src);

  size_t size() const { return m_args.size(); }
  bool isEmpty() const { return m_args.empty(); }
  void clear() { m_args.clear(); }
  // The entry's text; "<rc::StrVec index too big>" past the end.
  const char* operator[](size_t index) const;
  // Entries joined with ", ".
  std::string asString() const;
  // str with its placeholders replaced: "{1}".."{9}" and "{10}" and up; placeholders without an
  // argument stay in the text, and inserted text is never rescanned.
  std::string substituteArgs(const char* str) const;

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

  static const VarArgs NO_VARARGS;

 private:
  std::vector<std::string> m_args;
};

}  // namespace rc
