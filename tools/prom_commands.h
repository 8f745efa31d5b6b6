// velnorctl's commands for the configuration PROM. Each returns an exit code.
#pragma once

#include <cstdint>
#include <string>

#include "prom_image.h"

namespace velnor::tools {

int prom_info();
int prom_erase();
// length 0 reads the whole part.
int prom_read(const std::string& path, std::uint32_t length);
// Erases first and reads back after unless told not to.
int prom_program(const std::string& path, PromFileFormat format, bool erase, bool verify);

}  // namespace velnor::tools
