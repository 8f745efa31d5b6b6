// The velnor library as the test window declares it: the eight exports it
// binds by name (it calls four of them). A call either reaches the library
// and returns its result word, or could not be made because the library or
// the function is missing.
#pragma once

#include <cstdint>
#include <string>

namespace moxtest {

struct CallResult {
  std::uint32_t word = 0;
  // Why the call could not be made; empty when it was made.
  std::string runtime_error;

  bool made() const { return runtime_error.empty(); }
};

class VelnorLibrary {
 public:
  virtual ~VelnorLibrary() = default;

  virtual CallResult init(std::uint32_t cable_selector) = 0;
  virtual CallResult free() = 0;
  virtual CallResult check_daisychain() = 0;
  virtual CallResult get_status(std::uint32_t* idcode, std::uint32_t* status,
                                std::uint32_t* usercode) = 0;
  virtual CallResult shutdown() = 0;
  virtual CallResult config(const void* source, std::int32_t* count) = 0;
  virtual CallResult spi_xfer(std::uint8_t channel, const std::uint8_t* transmit,
                              std::uint8_t* receive, std::int32_t* count) = 0;
  virtual CallResult jmem_access(std::uint8_t mode, std::uint32_t address, std::uint8_t* buffer,
                                 std::uint32_t length) = 0;
};

}  // namespace moxtest
