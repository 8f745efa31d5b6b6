// A minimal JTAG master for the bench tests: it walks the chain's pins one
// TCK cycle at a time. Bit strings are in shift order: the first character
// goes onto TDI first, and the first character returned left TDO first.
#pragma once

#include <string>
#include <string_view>

#include "bench/chain.h"

namespace velnor::bench::testing {

class JtagDriver {
 public:
  explicit JtagDriver(Chain& chain) : chain_(chain) {}

  // Five TMS-high clocks, then Run-Test/Idle.
  void reset() {
    for (int i = 0; i < 5; ++i) chain_.clock(true, false);
    chain_.clock(false, false);
  }
  // From Run-Test/Idle through an IR or DR scan back to Run-Test/Idle.
  std::string shift_ir(const std::string& tdi) { return scan(true, tdi); }
  std::string shift_dr(const std::string& tdi) { return scan(false, tdi); }

 private:
  std::string scan(bool ir, const std::string& tdi) {
    chain_.clock(true, false);          // Select-DR-Scan
    if (ir) chain_.clock(true, false);  // Select-IR-Scan
    chain_.clock(false, false);         // Capture
    chain_.clock(false, false);         // Shift
    std::string tdo;
    for (std::size_t i = 0; i < tdi.size(); ++i) {
      const bool last = i + 1 == tdi.size();
      tdo.push_back(chain_.clock(last, tdi[i] == '1') ? '1' : '0');  // the last leaves to Exit1
    }
    chain_.clock(true, false);   // Update
    chain_.clock(false, false);  // Run-Test/Idle
    return tdo;
  }

  Chain& chain_;
};

inline std::string ones(std::size_t n) { return std::string(n, '1'); }
inline std::string zeros(std::size_t n) { return std::string(n, '0'); }
// "10 011" -> "10011": spaces only group the bits for the reader.
inline std::string bits(std::string_view spaced) {
  std::string out;
  for (char c : spaced) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

}  // namespace velnor::bench::testing
