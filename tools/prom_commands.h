// velnorctl's commands for the configuration PROM. Each returns an exit code.
#pragma once

#include <cstdint>
#include <string>

namespace velnor::tools {

int prom_info();
int prom_erase();
// length 0 reads the whole part.
int prom_read(const std::string& path, std::uint32_t length);
int prom_program(const std::string& path, bool erase, bool verify);

}  // namespace velnor::tools
