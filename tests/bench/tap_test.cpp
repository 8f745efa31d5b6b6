#include "bench/tap.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace velnor::bench {
namespace {

constexpr TapState kAllStates[] = {
    TapState::TestLogicReset, TapState::RunTestIdle,  TapState::SelectDrScan, TapState::CaptureDr,
    TapState::ShiftDr,        TapState::Exit1Dr,      TapState::PauseDr,      TapState::Exit2Dr,
    TapState::UpdateDr,       TapState::SelectIrScan, TapState::CaptureIr,    TapState::ShiftIr,
    TapState::Exit1Ir,        TapState::PauseIr,      TapState::Exit2Ir,      TapState::UpdateIr,
};

// IEEE 1149.1 figure 6-1, by name: state -> {successor with TMS 0, with TMS 1}.
const std::map<std::string, std::pair<std::string, std::string>> kStandardTable = {
    {"Test-Logic-Reset", {"Run-Test/Idle", "Test-Logic-Reset"}},
    {"Run-Test/Idle", {"Run-Test/Idle", "Select-DR-Scan"}},
    {"Select-DR-Scan", {"Capture-DR", "Select-IR-Scan"}},
    {"Capture-DR", {"Shift-DR", "Exit1-DR"}},
    {"Shift-DR", {"Shift-DR", "Exit1-DR"}},
    {"Exit1-DR", {"Pause-DR", "Update-DR"}},
    {"Pause-DR", {"Pause-DR", "Exit2-DR"}},
    {"Exit2-DR", {"Shift-DR", "Update-DR"}},
    {"Update-DR", {"Run-Test/Idle", "Select-DR-Scan"}},
    {"Select-IR-Scan", {"Capture-IR", "Test-Logic-Reset"}},
    {"Capture-IR", {"Shift-IR", "Exit1-IR"}},
    {"Shift-IR", {"Shift-IR", "Exit1-IR"}},
    {"Exit1-IR", {"Pause-IR", "Update-IR"}},
    {"Pause-IR", {"Pause-IR", "Exit2-IR"}},
    {"Exit2-IR", {"Shift-IR", "Update-IR"}},
    {"Update-IR", {"Run-Test/Idle", "Select-DR-Scan"}},
};

TEST(Tap, NamesAreTheStandardsAndDistinct) {
  std::set<std::string> names;
  for (TapState state : kAllStates) {
    const std::string name = tap_state_name(state);
    EXPECT_EQ(kStandardTable.count(name), 1u) << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 16u);
  EXPECT_STREQ(tap_state_name(TapState::RunTestIdle), "Run-Test/Idle");
  EXPECT_STREQ(tap_state_name(TapState::Exit2Ir), "Exit2-IR");
}

TEST(Tap, EveryStateAndTmsFollowsTheStandardTable) {
  for (TapState state : kAllStates) {
    const auto& expected = kStandardTable.at(tap_state_name(state));
    EXPECT_EQ(tap_state_name(next_tap_state(state, false)), expected.first)
        << "from " << tap_state_name(state) << " with TMS 0";
    EXPECT_EQ(tap_state_name(next_tap_state(state, true)), expected.second)
        << "from " << tap_state_name(state) << " with TMS 1";
  }
}

TEST(Tap, FiveTmsHighClocksResetFromEveryState) {
  for (TapState state : kAllStates) {
    TapState s = state;
    for (int i = 0; i < 5; ++i) s = next_tap_state(s, true);
    EXPECT_EQ(s, TapState::TestLogicReset) << "from " << tap_state_name(state);
  }
}

}  // namespace
}  // namespace velnor::bench
