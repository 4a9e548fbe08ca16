// Helpers shared by the tests of the fault classes.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFaultRulesFile.h"
#include "comps/recomps/rcStrVec.h"
#include "qvTestUtil.h"

namespace faulttest {

// The failed condition with its message (see qvtest::failedAssertion).
inline std::string failedAssertion(const std::function<void()>& fn) {
  return qvtest::failedAssertion(fn, true);
}

// What fn prints on standard output, run in a child process.
inline std::string printed(const std::function<void()>& fn) {
  return qvtest::runInChild([&] {
           fn();
           fflush(stdout);
           _exit(0);
         })
      .out;
}

// The rules these rules-file lines describe.
inline rc::fault::Rules rulesOf(const std::vector<const char*>& lines) {
  rc::StrVec vec;
  for (const char* line : lines) vec.append(line);
  rc::fault::RulesFile file;
  file.setLines(&vec);
  file.read();
  return file.rules();
}

}  // namespace faulttest
