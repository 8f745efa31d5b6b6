#include "fpga_commands.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cli_output.h"
#include "velnor.h"

namespace velnor::tools {
namespace {

// The user channel relies on the FPGA selection of an FPGA operation; a
// status check without outputs makes it.
std::uint32_t select_fpga() { return velnor_get_status(nullptr, nullptr, nullptr); }

// The Spartan-II parts as a .bit header names them (before the package, as
// in "2s200fg256") and by IDCODE without its version nibble. The IDCODE of
// an XC2S200 is also the Virtex XCV200's, which the device table lists
// first, so parts are compared by IDCODE, never by the table's names.
struct FpgaPart {
  const char* name;
  uint32_t idcode;
};
constexpr FpgaPart kFpgaParts[] = {
    {"2s15", 0x0608093},  {"2s30", 0x060C093},  {"2s50", 0x0610093},
    {"2s100", 0x0614093}, {"2s150", 0x0618093}, {"2s200", 0x061C093},
};
constexpr uint32_t kIdcodeWithoutVersion = 0x0FFFFFFF;

const FpgaPart* part_by_idcode(uint32_t idcode) {
  for (const FpgaPart& part : kFpgaParts) {
    if ((idcode & kIdcodeWithoutVersion) == part.idcode) return &part;
  }
  return nullptr;
}

// "xc" may lead; the package follows the size and begins with a letter, but
// not with "e", which makes the name a Spartan-IIE's ("2s50eft256").
const FpgaPart* part_by_header_name(const char* header_name) {
  std::string name = header_name;
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.rfind("xc", 0) == 0) name.erase(0, 2);
  for (const FpgaPart& part : kFpgaParts) {
    const std::size_t length = std::strlen(part.name);
    if (name.compare(0, length, part.name) != 0) continue;
    if (name.size() == length ||
        (std::isalpha(static_cast<unsigned char>(name[length])) && name[length] != 'e')) {
      return &part;
    }
  }
  return nullptr;
}

// Checks the file's part against the FPGA the library will configure, the
// first Spartan-II from the TDO end, before anything is clocked into it.
// Without a chain to look at, the configuration itself reports why.
bool made_for_the_chains_fpga(const std::string& path, const char* header_name) {
  if (velnor_scan_chain(nullptr) & (VELNOR_ERR_POWER_DOWN | VELNOR_BUSY | VELNOR_ERR_PROBE)) {
    return true;
  }
  VelnorChainDevice device;
  for (int32_t index = 0; velnor_chain_device(index, &device) != 0; ++index) {
    const FpgaPart* found = part_by_idcode(device.idcode);
    if (found == nullptr) continue;
    if (part_by_header_name(header_name) == found) return true;
    std::string chain_name = std::string("XC") + found->name;
    for (char& c : chain_name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::fflush(stdout);
    std::fprintf(stderr,
                 "velnorctl: %s is made for %s, but the FPGA on the chain is an %s (IDCODE "
                 "0x%08X); --force configures it anyway\n",
                 path.c_str(), header_name, chain_name.c_str(), device.idcode);
    return false;
  }
  return true;
}

}  // namespace

int scan() {
  int32_t count = 0;
  const uint32_t result = velnor_scan_chain(&count);
  // Without power, or with the cable busy, there was no scan to show.
  if (result & (VELNOR_ERR_POWER_DOWN | VELNOR_BUSY | VELNOR_ERR_PROBE)) {
    return report_failure("scan", result);
  }
  report("%d device%s on the chain, nearest TDO first\n", count, count == 1 ? "" : "s");
  if (count > 0) report("  index  name      IDCODE      IR  capture\n");
  // A device no known part fits shows "?" for its name, and for its IR
  // length and capture when the scan could not place its register.
  VelnorChainDevice device;
  bool unknown = false;
  for (int32_t index = 0; velnor_chain_device(index, &device) != 0; ++index) {
    unknown = unknown || device.name[0] == '\0';
    report("  %5d  %-8s  0x%08X  ", index, device.name[0] != '\0' ? device.name : "?",
           device.idcode);
    if (device.ir_length > 0) {
      report("%2d  0x%02X\n", device.ir_length, device.ir_capture);
    } else {
      report(" ?  ?\n");
    }
  }
  if (unknown) report("  ?: not a part velnor knows; --part NAME:IDCODE:IRLEN adds one\n");
  return result == VELNOR_OK ? kExitOk : report_failure("scan", result);
}

int status() {
  uint32_t idcode = 0, word = 0, usercode = 0;
  const uint32_t result = velnor_get_status(&idcode, &word, &usercode);
  if (result != VELNOR_OK) return report_failure("status", result);
  report("IDCODE    0x%08X\n", idcode);
  report("status    0x%08X  DONE=%u INIT=%u CRC_ERROR=%u MODE=%u%u%u\n", word, word >> 14 & 1,
         word >> 13 & 1, word & 1, word >> 12 & 1, word >> 11 & 1, word >> 10 & 1);
  report("USERCODE  0x%08X\n", usercode);
  return kExitOk;
}

// Runs the configuration on the library's worker thread and follows its
// count word, drawing a progress bar when a person is watching.
int config(const std::string& path, bool force) {
  VelnorBitFileInfo info;
  if (velnor_bitfile_info(path.c_str(), &info) != VELNOR_OK) {
    return report_bad_bitstream(path);
  }
  report("file %s\n  design  %s\n  part    %s\n  date    %s %s\n  length  %u bytes\n", path.c_str(),
         info.design_name, info.part_name, info.date, info.time, info.length);
  if (!force && !made_for_the_chains_fpga(path, info.part_name)) return kExitFailed;
  std::fflush(stdout);
  const bool show_progress = progress_wanted();
  int32_t remaining = static_cast<int32_t>(VELNOR_COUNT_BACKGROUND);
  uint32_t result = velnor_config(path.c_str(), &remaining);
  while (result == VELNOR_BUSY) {
    // The library's worker writes the word while this thread reads it.
    if (show_progress) draw_progress(info.length, std::atomic_ref<int32_t>(remaining).load());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    result = velnor_config(nullptr, &remaining);
  }
  if (show_progress) {
    draw_progress(info.length, remaining);
    std::fprintf(stderr, "\n");
  }
  if (result != VELNOR_OK) return report_failure("config", result);
  report("configured\n");
  return kExitOk;
}

int shutdown() {
  const uint32_t result = velnor_shutdown();
  if (result != VELNOR_OK) return report_failure("shutdown", result);
  report("shut down\n");
  return kExitOk;
}

int spi(uint8_t channel, const std::vector<uint8_t>& transmit) {
  uint32_t result = select_fpga();
  if (result != VELNOR_OK) return report_failure("spi", result);
  // Room for the pad bits of a chain with devices around the FPGA.
  std::vector<uint8_t> received(transmit.size() + 2);
  int32_t count = static_cast<int32_t>(transmit.size());
  result = velnor_spi_xfer(channel, transmit.data(), received.data(), &count);
  velnor_spi_xfer(0, nullptr, nullptr, nullptr);
  if (result != VELNOR_OK) return report_failure("spi", result);
  print_hex("sent    ", transmit.data(), transmit.size());
  print_hex("received", received.data(), transmit.size());
  return kExitOk;
}

int memory(const std::string& mode, uint32_t address, std::vector<uint8_t> bytes) {
  uint32_t result = select_fpga();
  if (result != VELNOR_OK) return report_failure("mem", result);
  const uint8_t code = mode == "write"    ? VELNOR_JMEM_WRITE
                       : mode == "verify" ? VELNOR_JMEM_VERIFY
                                          : VELNOR_JMEM_READ;
  result = jmem_access(code, address, bytes.data(), static_cast<uint32_t>(bytes.size()));
  velnor_spi_xfer(0, nullptr, nullptr, nullptr);
  if (result == 1) {
    std::fflush(stdout);
    std::fprintf(stderr, "velnorctl: mem verify failed at 0x%08X\n", address);
    return kExitFailed;
  }
  if (result != VELNOR_OK) return report_failure("mem", result);
  if (code == VELNOR_JMEM_READ) {
    char label[32];
    std::snprintf(label, sizeof label, "0x%08X:", address);
    print_hex(label, bytes.data(), bytes.size());
  } else {
    report("%s %zu bytes at 0x%08X\n", code == VELNOR_JMEM_WRITE ? "wrote" : "verified",
           bytes.size(), address);
  }
  return kExitOk;
}

}  // namespace velnor::tools
