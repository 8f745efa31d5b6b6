// Helpers for the 8051 core's tests: plain external RAM and an Intel HEX
// loader for the programs SDCC builds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "bench/mcs51.h"

namespace velnor::bench {

// 64 KiB of external data RAM that counts its accesses.
struct RamBus : XdataBus {
  std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(0x10000, 0);
  int reads = 0;
  int writes = 0;
  std::uint8_t read_xdata(std::uint16_t address) override {
    ++reads;
    return memory[address];
  }
  void write_xdata(std::uint16_t address, std::uint8_t value) override {
    ++writes;
    memory[address] = value;
  }
};

// Loads the data records of an Intel HEX file into code memory.
inline void load_intel_hex(Mcs51& cpu, const std::string& path) {
  std::ifstream file(path);
  ASSERT_TRUE(file) << path;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] != ':') continue;
    std::vector<std::uint8_t> record;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
      record.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    }
    ASSERT_GE(record.size(), 5u) << line;
    unsigned sum = 0;
    for (const std::uint8_t byte : record) sum += byte;
    ASSERT_EQ(sum & 0xFF, 0u) << "checksum: " << line;
    const std::size_t length = record[0];
    ASSERT_EQ(record.size(), length + 5) << line;
    if (record[3] != 0) continue;  // only data records carry code
    const auto address = static_cast<std::uint16_t>(record[1] << 8 | record[2]);
    cpu.load(address, std::span<const std::uint8_t>(record.data() + 4, length));
  }
}

}  // namespace velnor::bench
