// The IEEE 1149.1 TAP controller: sixteen states, one transition per rising
// TCK edge, chosen by TMS.
#pragma once

#include <cstdint>

namespace velnor::bench {

enum class TapState : std::uint8_t {
  TestLogicReset,
  RunTestIdle,
  SelectDrScan,
  CaptureDr,
  ShiftDr,
  Exit1Dr,
  PauseDr,
  Exit2Dr,
  UpdateDr,
  SelectIrScan,
  CaptureIr,
  ShiftIr,
  Exit1Ir,
  PauseIr,
  Exit2Ir,
  UpdateIr,
};

TapState next_tap_state(TapState state, bool tms);
// The standard's names: "Test-Logic-Reset", "Run-Test/Idle", "Shift-DR", ...
const char* tap_state_name(TapState state);

}  // namespace velnor::bench
