// qvctl's JSON documents: the library's ordered JSON when qvctl is built with it, else a stand-in
// under which -o json and -H are refused before any document is built (the code that builds them
// still compiles); the one way a document is printed, and how a failure is told in one.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

#if QV_HAVE_NLOHMANN_JSON
#include <nlohmann/json.hpp>
#endif

#include "comps/recomps/rcErr.h"

namespace adc {

#if QV_HAVE_NLOHMANN_JSON
using Json = nlohmann::ordered_json;
constexpr bool kHaveJson = true;
#else
class Json {
 public:
  Json() = default;
  template <class T>
  Json(const T&) {}
  Json(std::initializer_list<Json>) {}
  template <class K>
  Json& operator[](const K&) {
    return *this;
  }
  void push_back(const Json&) {}
  std::string dump() const { return {}; }
  static Json array() { return {}; }
  static Json object() { return {}; }
};
constexpr bool kHaveJson = false;
#endif

// A document on a line of its own. Text from a program or a host may hold bytes that are no
// UTF-8: they are shown replaced, never refused.
inline void printJson(const Json& doc) {
#if QV_HAVE_NLOHMANN_JSON
  printf("%s\n", doc.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
#else
  printf("%s\n", doc.dump().c_str());
#endif
}

// The status a failure ends the command with: its code's low eight bits, 255 when those are 0.
inline int exitStatusOf(const rc::Err& err) {
  return (err.code() & 0xff) != 0 ? err.code() & 0xff : 255;
}

// The "error" field of a failure's document.
inline Json errorJson(const rc::Err& err) {
  return {{"code", err.code()},
          {"status", exitStatusOf(err)},
          {"message", rc::Err::format(err, rc::Err::FF_OMIT_SEVERITY)}};
}

}  // namespace adc
