// The database client's exception type, as far as the application framework needs it: main2 of a
// catch-all program reports it with its own message code.
#pragma once

#include <stdexcept>
#include <string>

namespace dc::pq {

class SQLException : public std::runtime_error {
 public:
  explicit SQLException(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace dc::pq
