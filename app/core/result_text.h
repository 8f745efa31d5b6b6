// The one-line explanation printed under a result word that is exactly one
// of the library's result bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace moxtest {

// The message for a result word equal to a single named result bit; none for
// 0, for a word with several bits and for a bit the table does not name
// (such as the busy bit).
std::optional<std::string_view> result_message(std::uint32_t result);

}  // namespace moxtest
