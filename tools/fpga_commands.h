// velnorctl's commands for the chain and the FPGA. Each returns an exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velnor::tools {

int scan();
int status();
// Refuses a file made for another part than the FPGA on the chain unless
// forced.
int config(const std::string& path, bool force);
int shutdown();
int spi(std::uint8_t channel, const std::vector<std::uint8_t>& transmit);
// mode: "read", "write" or "verify"; a read fills bytes' length.
int memory(const std::string& mode, std::uint32_t address, std::vector<std::uint8_t> bytes);

}  // namespace velnor::tools
