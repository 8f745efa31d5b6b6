#include "bench/tap.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace velnor::bench {
namespace {

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

// Every state has a distinct standard name and both successors of the table.
TEST(Tap, EveryStateAndTmsFollowsTheStandardTable) {
  std::set<std::string> names;
  for (int code = 0; code < 16; ++code) {
    const auto state = static_cast<TapState>(code);
    const std::string name = tap_state_name(state);
    SCOPED_TRACE(name);
    ASSERT_EQ(kStandardTable.count(name), 1u);
    names.insert(name);
    EXPECT_EQ(tap_state_name(next_tap_state(state, false)), kStandardTable.at(name).first);
    EXPECT_EQ(tap_state_name(next_tap_state(state, true)), kStandardTable.at(name).second);
  }
  EXPECT_EQ(names.size(), 16u);
}

}  // namespace
}  // namespace velnor::bench
