// What `qvctl status` shows of one program, in text pieces: filled from the program's reply by
// the local command, or from a remote qvctl's JSON document under -H, and printed the same way by
// both. Not thread-safe.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace adc {

struct StatusView {
  enum { MAX_HEAP_LINES = 12 };

  struct Rule {
    std::string name;
    std::string settings;  // as the fault controls print them: "on = yes, numOns = 3, ..."
    unsigned long long evaluated = 0;
    unsigned long long fired = 0;
  };
  struct Child {
    long long pid = 0;
    std::string command;
  };
  struct Timer {
    std::string name;
    std::string kind;  // "interval" or "countdown"
    long long msLeft = 0;
  };
  struct Conn {
    long long pid = 0;
    long long uid = 0;
  };
  struct Heap {
    std::string type;
    unsigned long long blocks = 0;
    unsigned long long bytes = 0;
  };

  std::string who;  // "<program> (pid <pid>)"
  std::string cls;
  long long startTime = 0;
  long long uptimeSecs = 0;
  std::string revision;
  std::string build;
  std::string logFile;  // empty: none
  std::string dbgOutput;
  std::string debug;  // the debug options in force
  bool faultOn = false;
  std::vector<Rule> rules;
  std::vector<Child> children;
  std::vector<Timer> timers;  // earliest first
  std::vector<Conn> conns;
  std::vector<Heap> heap;  // most bytes first

  // The screen, one call of say a line (without its newline): labels right-aligned, details
  // under the values, the first MAX_HEAP_LINES memory types.
  void print(const std::function<void(const std::string&)>& say) const;
};

// "2d 03:04:05" or "03:04:05".
std::string durationText(long long secs);

}  // namespace adc
