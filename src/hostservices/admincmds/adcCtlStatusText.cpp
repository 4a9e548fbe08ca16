#include "hostservices/admincmds/adcCtlStatusText.h"

#include <cstdio>

#include "comps/recomps/rcUtils.h"

namespace adc {

std::string durationText(long long secs) {
  char buf[64];
  const long long days = secs / 86400;
  secs %= 86400;
  snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", secs / 3600, secs / 60 % 60, secs % 60);
  return days > 0 ? std::to_string(days) + "d " + buf : buf;
}

void StatusView::print(const std::function<void(const std::string&)>& say) const {
  char text[256];
  const auto line = [&](const char* label, const std::string& value) {
    snprintf(text, sizeof text, "%13s ", label);
    say(text + value);
  };
  const auto more = [&](const std::string& value) { line("", value); };
  const auto count = [](size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  say(who);
  line("Class:", cls);
  line("Started:", rc::Utils::timeToString(static_cast<time_t>(startTime), "%Y-%m-%d %H:%M:%S") +
                       "; up " + durationText(uptimeSecs));
  line("Revision:", revision + " (build " + build + ")");
  line("Log file:", logFile.empty() ? "none" : logFile);
  line("Trace output:", dbgOutput);
  line("Debug:", debug);
  line("Faults:", std::string("global on/off = ") + (faultOn ? "yes" : "no") + ", " +
                      count(rules.size(), "rule", "rules"));
  for (const Rule& rule : rules) {
    more(rule.name + ": evaluated " + std::to_string(rule.evaluated) + ", fired " +
         std::to_string(rule.fired) + " (" + rule.settings + ")");
  }
  line("Children:", std::to_string(children.size()));
  for (const Child& c : children) more(std::to_string(c.pid) + " " + c.command);
  line("Timers:", std::to_string(timers.size()) + " armed");
  for (const Timer& t : timers) {
    more(t.name + ": " + t.kind + ", " + std::to_string(t.msLeft) + " ms left");
  }
  line("Connections:", std::to_string(conns.size()));
  for (const Conn& c : conns) {
    more("pid " + std::to_string(c.pid) + ", uid " + std::to_string(c.uid));
  }
  unsigned long long blocks = 0, bytes = 0;
  for (const Heap& h : heap) {
    blocks += h.blocks;
    bytes += h.bytes;
  }
  line("Heap:", std::to_string(blocks) + " blocks, " + std::to_string(bytes) + " bytes in " +
                    count(heap.size(), "memory type", "memory types"));
  for (size_t shown = 0; shown < heap.size(); ++shown) {
    if (shown == MAX_HEAP_LINES) {
      more("... " + std::to_string(heap.size() - MAX_HEAP_LINES) + " more types");
      break;
    }
    const Heap& h = heap[shown];
    snprintf(text, sizeof text, "%-32s %8llu %-6s %10llu bytes", h.type.c_str(), h.blocks,
             h.blocks == 1 ? "block" : "blocks", h.bytes);
    more(text);
  }
}

}  // namespace adc
