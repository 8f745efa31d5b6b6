#include "bench/tap.h"

namespace velnor::bench {

namespace {

using S = TapState;

// Indexed by state; first the successor with TMS low, then with TMS high.
constexpr TapState kNext[16][2] = {
    {S::RunTestIdle, S::TestLogicReset},  // Test-Logic-Reset
    {S::RunTestIdle, S::SelectDrScan},    // Run-Test/Idle
    {S::CaptureDr, S::SelectIrScan},      // Select-DR-Scan
    {S::ShiftDr, S::Exit1Dr},             // Capture-DR
    {S::ShiftDr, S::Exit1Dr},             // Shift-DR
    {S::PauseDr, S::UpdateDr},            // Exit1-DR
    {S::PauseDr, S::Exit2Dr},             // Pause-DR
    {S::ShiftDr, S::UpdateDr},            // Exit2-DR
    {S::RunTestIdle, S::SelectDrScan},    // Update-DR
    {S::CaptureIr, S::TestLogicReset},    // Select-IR-Scan
    {S::ShiftIr, S::Exit1Ir},             // Capture-IR
    {S::ShiftIr, S::Exit1Ir},             // Shift-IR
    {S::PauseIr, S::UpdateIr},            // Exit1-IR
    {S::PauseIr, S::Exit2Ir},             // Pause-IR
    {S::ShiftIr, S::UpdateIr},            // Exit2-IR
    {S::RunTestIdle, S::SelectDrScan},    // Update-IR
};

constexpr const char* kNames[16] = {
    "Test-Logic-Reset", "Run-Test/Idle",  "Select-DR-Scan", "Capture-DR",
    "Shift-DR",         "Exit1-DR",       "Pause-DR",       "Exit2-DR",
    "Update-DR",        "Select-IR-Scan", "Capture-IR",     "Shift-IR",
    "Exit1-IR",         "Pause-IR",       "Exit2-IR",       "Update-IR",
};

}  // namespace

TapState next_tap_state(TapState state, bool tms) {
  return kNext[static_cast<int>(state)][tms ? 1 : 0];
}

const char* tap_state_name(TapState state) { return kNames[static_cast<int>(state)]; }

}  // namespace velnor::bench
