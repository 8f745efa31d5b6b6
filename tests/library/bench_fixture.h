// Library tests run on a virtual board of their own, with the trace on.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "api/session.h"
#include "bench/board.h"

namespace velnor::testing {

// The library's session, as the exports pass it down.
inline Target& target() { return session().target; }
inline Jtag& jtag() { return session().target.jtag; }

// Installs a board built from description (see the README's format), with
// the trace enabled unless asked not to (long jobs would fill memory), and
// returns it.
bench::Board& install_board(const std::string& description, bool traced = true);

// Opens the parallel cable on the installed board (the library's own
// velnor_init) and clears the trace, so a test sees only its own traffic.
// A new board is new hardware: the library forgets the chain indices and
// channels it had found.
class BenchTest : public ::testing::Test {
 public:
  bench::Board& board_for(const std::string& description, bool traced = true);

 protected:
  void open_parallel_cable();
  void TearDown() override;
};

// One cable shift as the library asked for it.
struct ShiftCall {
  std::uint32_t bit_count;
  int tms;
  int tms_last;
  std::vector<std::uint8_t> tdi;  // empty when no TDI buffer was given
  bool reads_tdo;
  std::int32_t count_word;  // the running operation's count word when the call came, else 0
};

// Puts a recorder in front of the open cable's shift; the log is cleared by
// each call.
std::vector<ShiftCall>& record_shifts();
void stop_recording_shifts();

// "0101..." from a most-significant-first byte buffer, bit_count bits.
std::string bits_of(const std::uint8_t* bytes, int bit_count);

// "11 00 1" -> "11001": spaces only group the bits for the reader.
std::string bits(std::string_view spaced);

}  // namespace velnor::testing
