// String: the framework's character string, a standard string whose storage lives in heap
// blocks tagged mt_rc_string. It converts to and from std::string only through explicit
// construction (different allocator types); std::hash is provided so it can key unordered
// containers.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "comps/memcomps/base/memStlAlloc.h"

using String = std::basic_string<char, std::char_traits<char>,
                                 mem::stlAlloc<char, mt_rc_string, mem::REGION_HEAP,
                                               mem::MEM_NOALIGN, mem::MEM_SCOPE_TEMPORARY>>;

template <>
struct std::hash<String> {
  size_t operator()(const String& s) const noexcept {
    return std::hash<std::string_view>()(std::string_view(s));
  }
};
