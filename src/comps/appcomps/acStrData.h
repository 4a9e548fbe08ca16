// A reference-counted text buffer used as a message payload: a program writes text into it piece
// by piece, ships it (saveOn: one string), and the receiver reads the whole text back. The
// program-table reply carries its table as one.
//
// The write position follows the output-stream rule: constructing from a text, set, clear,
// restoreFrom and assignment put it at the start of the text, so a following append overwrites
// from the first character (the text keeps its length when the appended part is shorter). A null
// append is ignored. The count starts at the constructor's value; the holder that sees
// removeReference() drop below 1 deletes the object. Not thread-safe.
#pragma once

#include <cstddef>
#include <sstream>
#include <string>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/recomps/rcRefCnt.h"

namespace rc {
class ByteStrm;
}

namespace ac {

class StrData : public rc::RefCnt, public mem::newDelete<mt_ac_str_data> {
 public:
  explicit StrData(int references = 0);
  StrData(const char* buffer, int references);
  StrData(const StrData& src, int references);
  // Copies the text; the count stays.
  StrData& operator=(const StrData& src);
  ~StrData() override;

  void append(const char* data);
  void set(const std::string& data);
  void clear() { set(std::string()); }

  std::string str() const { return m_buffer.str(); }
  // The text, NUL-terminated, valid until the object next changes.
  const char* data() const;
  size_t size() const;

  // The text as one string (32-bit length, bytes, padding to 4).
  void saveOn(rc::ByteStrm& s) const;
  void restoreFrom(rc::ByteStrm& s);
  // The text's length plus 8: a true bound of what saveOn writes.
  size_t binarySize() const { return size() + 8; }

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  std::ostringstream m_buffer;
  mutable std::string m_text;
};

}  // namespace ac
