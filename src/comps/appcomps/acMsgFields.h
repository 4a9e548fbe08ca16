// The body of a message that is a fixed list of fields, written once: the class's fields()
// returns msgFields(msgField(m_a, "a"), ...) in wire order, and IpcMsgOf derives saveMsg,
// restoreMsg, binaryMsgSize and dumpMsg from it.
//
// Encodings are the byte stream's: int and unsigned int 4 bytes, unsigned long long 8, a bool as
// the int 0 or 1 (any non-zero int reads back as true), a string as its length and its bytes
// padded to 4, an object through its saveOn / restoreFrom / binarySize. The dump is one line at
// level 1 of "label = value" for the labelled fields, joined by ", ": strings quoted, an int
// with a symbol routine as its symbol, a 64-bit value as its upper and lower 32 bits ("1,7"), a
// bool as "yes" or "no"; then each object field's dumpObj(1, null). Unlabelled fields are not
// dumped.
#pragma once

#include <cstdio>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace ac {

template <class T>
struct MsgField {
  T& ref;
  const char* label;
  const char* (*symbol)(int);
};

template <class T>
MsgField<T> msgField(T& ref, const char* label = nullptr, const char* (*symbol)(int) = nullptr) {
  return {ref, label, symbol};
}

template <class... T>
std::tuple<MsgField<T>...> msgFields(MsgField<T>... fields) {
  return {fields...};
}

namespace msgfields {

template <class T>
constexpr bool kScalar = std::is_arithmetic_v<T> || std::is_same_v<T, std::string>;

template <class T>
void save(rc::ByteStrm& s, const MsgField<T>& f) {
  if constexpr (std::is_same_v<T, bool>) {
    s << int{f.ref};
  } else if constexpr (kScalar<T>) {
    s << f.ref;
  } else {
    f.ref.saveOn(s);
  }
}

template <class T>
void restore(rc::ByteStrm& s, const MsgField<T>& f) {
  if constexpr (std::is_same_v<T, bool>) {
    int value = 0;
    s >> value;
    f.ref = value != 0;
  } else if constexpr (kScalar<T>) {
    s >> f.ref;
  } else {
    f.ref.restoreFrom(s);
  }
}

template <class T>
size_t size(const MsgField<T>& f) {
  if constexpr (std::is_same_v<T, std::string>) {
    return rc::ByteStrm::binarySize(f.ref);
  } else if constexpr (std::is_same_v<T, bool>) {
    return 4;
  } else if constexpr (std::is_arithmetic_v<T>) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8, "a field is a 32- or 64-bit value");
    return sizeof(T);
  } else {
    return static_cast<size_t>(f.ref.binarySize());
  }
}

template <class T>
void appendText(std::string& line, const MsgField<T>& f) {
  if constexpr (kScalar<T>) {
    if (f.label == nullptr) return;
    if (!line.empty()) line += ", ";
    line += f.label;
    line += " = ";
    char buf[32];
    if constexpr (std::is_same_v<T, std::string>) {
      line += '\'' + f.ref + '\'';
      return;
    } else if constexpr (std::is_same_v<T, bool>) {
      line += f.ref ? "yes" : "no";
      return;
    } else if constexpr (sizeof(T) == 8) {
      snprintf(buf, sizeof buf, "%d,%d", static_cast<int>(f.ref >> 32),
               static_cast<int>(f.ref & 0xFFFFFFFFu));
    } else if constexpr (std::is_signed_v<T>) {
      if (f.symbol != nullptr) {
        line += f.symbol(f.ref);
        return;
      }
      snprintf(buf, sizeof buf, "%d", static_cast<int>(f.ref));
    } else {
      snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(f.ref));
    }
    line += buf;
  }
}

template <class T>
void dumpObj(const MsgField<T>& f) {
  if constexpr (!kScalar<T>) f.ref.dumpObj(1, nullptr);
}

template <class Tuple>
void saveAll(rc::ByteStrm& s, const Tuple& fields) {
  std::apply([&](const auto&... f) { (save(s, f), ...); }, fields);
}

template <class Tuple>
void restoreAll(rc::ByteStrm& s, const Tuple& fields) {
  std::apply([&](const auto&... f) { (restore(s, f), ...); }, fields);
}

template <class Tuple>
size_t sizeOfAll(const Tuple& fields) {
  return std::apply([](const auto&... f) { return (size_t{0} + ... + size(f)); }, fields);
}

template <class Tuple>
void dumpAll(const Tuple& fields) {
  std::string line;
  std::apply([&](const auto&... f) { (appendText(line, f), ...); }, fields);
  if (!line.empty()) rc::dumpLine(1, "%s\n", line.c_str());
  std::apply([](const auto&... f) { (dumpObj(f), ...); }, fields);
}

}  // namespace msgfields

// A list field of at most Max entries, each an aggregate with its own fields(): the count (int),
// then each entry's fields in order. Only the first Max entries are sent; a count read outside
// 0..Max, or one the data left to read cannot hold, is the stream's read error, so a peer cannot
// make us allocate for entries it did not send. Each entry dumps as one line at level 1.
template <class T, int Max>
struct BoundedVec {
  static_assert(Max > 0, "a list holds something");
  std::vector<T> entries;

  size_t sent() const { return entries.size() < size_t{Max} ? entries.size() : size_t{Max}; }
  void saveOn(rc::ByteStrm& s) const {
    s << static_cast<int>(sent());
    for (size_t i = 0; i < sent(); ++i) msgfields::saveAll(s, entry(i).fields());
  }
  void restoreFrom(rc::ByteStrm& s) {
    const char* routine = "appcomps/BoundedVec::restoreFrom";
    int count = 0;
    s >> count;
    if (count < 0 || count > Max) rc::ByteStrm::readFailed(routine);
    entries.clear();
    // Every entry takes at least 4 bytes.
    s.checkUnread(static_cast<size_t>(count) * 4, routine);
    entries.resize(static_cast<size_t>(count));
    for (T& e : entries) msgfields::restoreAll(s, e.fields());
  }
  size_t binarySize() const {
    size_t bytes = 4;
    for (size_t i = 0; i < sent(); ++i) bytes += msgfields::sizeOfAll(entry(i).fields());
    return bytes;
  }
  void dumpObj(int /*indentLvl*/, const char* /*label*/) const {
    for (size_t i = 0; i < sent(); ++i) msgfields::dumpAll(entry(i).fields());
  }

 private:
  // The field list names members; saving and dumping only read them.
  T& entry(size_t i) const { return const_cast<T&>(entries[i]); }
};

// A class whose body is a field list.
template <class M>
concept HasMsgFields = requires(M& msg) {
  msg.fields();
};

}  // namespace ac
