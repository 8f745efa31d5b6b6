#include "trace_text.h"

#include <cinttypes>
#include <cstdio>

namespace velnor::bench {

std::string trace_text(const Trace& trace) {
  std::string text;
  char line[64];
  for (const TraceEntry& entry : trace.entries()) {
    switch (entry.kind) {
      case TraceEntry::Kind::PortWrite:
      case TraceEntry::Kind::PortRead:
        std::snprintf(line, sizeof line, "%c %04X %02X\n",
                      entry.kind == TraceEntry::Kind::PortWrite ? 'W' : 'R', entry.port,
                      entry.value);
        break;
      case TraceEntry::Kind::Clock:
        std::snprintf(line, sizeof line, "C %d %d %d %016" PRIX64 "\n", entry.tms, entry.tdi,
                      entry.tdo, entry.states);
        break;
    }
    text += line;
  }
  return text;
}

}  // namespace velnor::bench
