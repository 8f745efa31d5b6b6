// velnorctl: a command-line front end over the library's exports.
//
//   velnorctl [--cable usb[:N]|lpt[:BASE]|auto] [scan]
//
// Opens the cable, scans the JTAG chain and prints every device found.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "velnor.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void print_usage(std::FILE* to) {
  std::fprintf(to,
               "usage: velnorctl [--cable usb[:N]|lpt[:BASE]|auto] [scan]\n"
               "  --cable  usb:N  USB cable number N (default 0)\n"
               "           lpt:BASE  parallel cable at printer port BASE (default 0x378)\n"
               "           auto  USB cable 0, else the parallel cable at 0x378 (default)\n"
               "  scan     list the devices on the JTAG chain (default)\n");
}

// Parses a number in C notation (0x for hex) that must fit in 16 bits.
bool parse_unit(const std::string& text, uint32_t* unit) {
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || value > VELNOR_CABLE_UNIT_MASK) return false;
  *unit = static_cast<uint32_t>(value);
  return true;
}

bool parse_cable(const std::string& text, uint32_t* selector) {
  if (text == "auto") {
    *selector = VELNOR_CABLE_AUTO;
    return true;
  }
  const std::size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  uint32_t unit = 0;
  if (colon != std::string::npos && !parse_unit(text.substr(colon + 1), &unit)) return false;
  if (kind == "usb") {
    *selector = VELNOR_CABLE_USB | unit;
  } else if (kind == "lpt") {
    *selector = VELNOR_CABLE_PARALLEL | unit;
  } else {
    return false;
  }
  return true;
}

// The error bits of a result word by name, e.g. "VELNOR_ERR_PROBE".
std::string result_names(uint32_t result) {
  static const struct {
    uint32_t bit;
    const char* name;
  } kBits[] = {
      {VELNOR_ERR_DRIVER, "VELNOR_ERR_DRIVER"},
      {VELNOR_ERR_PROBE, "VELNOR_ERR_PROBE"},
      {VELNOR_ERR_JTAG, "VELNOR_ERR_JTAG"},
      {VELNOR_ERR_FILE, "VELNOR_ERR_FILE"},
      {VELNOR_BUSY, "VELNOR_BUSY"},
      {VELNOR_ERR_NO_TARGET, "VELNOR_ERR_NO_TARGET"},
      {VELNOR_ERR_POWER_DOWN, "VELNOR_ERR_POWER_DOWN"},
      {VELNOR_ERR_FORMAT, "VELNOR_ERR_FORMAT"},
      {VELNOR_ERR_DEVICE_MISMATCH, "VELNOR_ERR_DEVICE_MISMATCH"},
      {VELNOR_ERR_SHUTDOWN_A, "VELNOR_ERR_SHUTDOWN_A"},
      {VELNOR_ERR_SHUTDOWN_B, "VELNOR_ERR_SHUTDOWN_B"},
      {VELNOR_ERR_CRC, "VELNOR_ERR_CRC"},
  };
  std::string names;
  for (const auto& entry : kBits) {
    if ((result & entry.bit) == 0) continue;
    if (!names.empty()) names += " | ";
    names += entry.name;
  }
  return names;
}

void report_failure(const char* call, uint32_t result) {
  std::fflush(stdout);
  std::fprintf(stderr, "velnorctl: %s failed: 0x%08X (%s)\n", call, result,
               result_names(result).c_str());
}

int scan() {
  int32_t count = 0;
  const uint32_t result = velnor_scan_chain(&count);
  // Without power, or with the cable busy, there was no scan to show.
  if (result & (VELNOR_ERR_POWER_DOWN | VELNOR_BUSY | VELNOR_ERR_PROBE)) {
    report_failure("scan", result);
    return kExitFailed;
  }
  std::printf("%d device%s on the chain, nearest TDO first\n", count, count == 1 ? "" : "s");
  if (count > 0) std::printf("  index  name      IDCODE      IR  capture\n");
  VelnorChainDevice device;
  for (int32_t index = 0; velnor_chain_device(index, &device) != 0; ++index) {
    if (device.name[0] == '\0') {
      std::printf("  %5d  (not identified)\n", index);
      continue;
    }
    std::printf("  %5d  %-8s  0x%08X  %2d  0x%02X\n", index, device.name, device.idcode,
                device.ir_length, device.ir_capture);
  }
  if (result != VELNOR_OK) {
    report_failure("scan", result);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t selector = VELNOR_CABLE_AUTO;
  std::string command = "scan";
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      print_usage(stdout);
      return kExitOk;
    }
    if (argument == "--cable" && i + 1 < argc) {
      if (!parse_cable(argv[++i], &selector)) {
        std::fprintf(stderr, "velnorctl: bad cable '%s'\n", argv[i]);
        print_usage(stderr);
        return kExitUsage;
      }
    } else if (argument == "scan") {
      command = argument;
    } else {
      std::fprintf(stderr, "velnorctl: unknown argument '%s'\n", argument.c_str());
      print_usage(stderr);
      return kExitUsage;
    }
  }

  const uint32_t opened = velnor_init(selector);
  if (opened != VELNOR_OK) {
    report_failure("opening the cable", opened);
    return kExitFailed;
  }
  const int status = scan();
  velnor_free();
  return status;
}
