// The ordered arguments of a message code. Every value is converted to text when it is added, so
// the list holds strings only and can be copied, serialised and printed without knowing the
// values' types; the catalog and the error formatter substitute the entries into the "{1}",
// "{2}" ... placeholders of a message text.
//
// The entries live in an owned rc::StrVec that is created on the first append (or args()), so an
// empty list costs one null pointer and no allocation. Index errors never throw: operator[] past
// the end answers "<rc::StrVec index too big>". restoreFrom inherits the byte stream's checks: a
// truncated or corrupted list raises rc::Err (RC_SC_READ_FAILED). Not thread-safe; NO_VARARGS is
// only ever read.
#pragma once

#include <cstddef>
#include <string>

#include "comps/memcomps/base/memNewDelete.h"

namespace rc {

class ByteStrm;
class StrVec;

class VarArgs : public mem::newDelete<mt_varargs> {
 public:
  VarArgs();
  // Creates the vector at once, for nArgs entries and bufSize characters.
  VarArgs(size_t nArgs, size_t bufSize);
  VarArgs(const VarArgs& src);
  // A copy whose vector lives in region.
  VarArgs(const VarArgs& src, mem::regionName_t region);
  VarArgs& operator=(const VarArgs& src);
  ~VarArgs();

  VarArgs& operator<<(const char* str);
  VarArgs& operator<<(const std::string& str);
  VarArgs& operator<<(int value);
  VarArgs& operator<<(unsigned int value);
  VarArgs& operator<<(long value);
  VarArgs& operator<<(unsigned long value);
  VarArgs& operator<<(long long value);
  VarArgs& operator<<(unsigned long long value);
  VarArgs& operator<<(float value);
  VarArgs& operator<<(double value);
  // Every entry of src, in order.
  VarArgs& operator<<(const VarArgs& src);

  void createArgs();
  // The vector, created first when absent.
  StrVec* args() const;
  // Empties the vector; never frees it.
  void clear();

  size_t size() const;
  bool isEmpty() const;
  // The entry's text; null without a vector, "<rc::StrVec index too big>" past the end.
  const char* operator[](size_t index) const;
  // The value of the first "name=value" entry whose name matches; "" when none.
  std::string operator[](const std::string& name) const;
  // Entries joined with ", ".
  std::string asString() const;
  // str with its placeholders replaced: "{1}".."{9}" and "{10}" and up; placeholders without an
  // argument stay in the text, and inserted text is never rescanned.
  std::string substituteArgs(const char* str) const;

  // 0 without a vector, else 1 and the vector.
  void saveOn(ByteStrm& s) const;
  void restoreFrom(ByteStrm& s);
  size_t binarySize() const;

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

  static const VarArgs NO_VARARGS;

 private:
  VarArgs& append(const char* text);

  mutable StrVec* m_args;
};

}  // namespace rc
