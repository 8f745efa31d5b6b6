// velnorctl: a command-line front end over the library's exports.
//
//   velnorctl [--cable usb[:N]|lpt[:BASE]|auto] [COMMAND...]
//
// Opens the cable, then runs the commands in order (scan when none is
// given) and stops at the first that fails.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "prom_image.h"
#include "velnor.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: velnorctl [--cable usb[:N]|lpt[:BASE]|auto] [COMMAND...]\n"
    "  --cable usb:N     USB cable number N (default 0)\n"
    "          lpt:BASE  parallel cable at printer port BASE (default 0x378)\n"
    "          auto      USB cable 0, else the parallel cable at 0x378 (default)\n"
    "commands, run in order:\n"
    "  scan                    list the devices on the JTAG chain (the default)\n"
    "  status                  the FPGA's IDCODE, status register and USERCODE\n"
    "  config FILE             configure the FPGA from a bitstream file\n"
    "  shutdown                shut the FPGA down\n"
    "  spi CHANNEL HEX         send bytes on user channel 1 or 2, print the answer\n"
    "  mem read ADDRESS LENGTH read the design's memory\n"
    "  mem write ADDRESS HEX   write bytes to it\n"
    "  mem verify ADDRESS HEX  compare it with bytes\n"
    "  prom info               the configuration PROM's part and size\n"
    "  prom read FILE [--length N]   save the PROM's memory (all of it by default)\n"
    "  prom erase              erase the PROM\n"
    "  prom program FILE [--erase] [--verify]\n"
    "                          program a raw image, an Intel HEX .mcs file or the\n"
    "                          data of a .bit file, erasing first and reading back\n"
    "                          when asked\n"
    "HEX is a run of hexadecimal byte values, e.g. 48656C6C6F.\n";

// --- Arguments -----------------------------------------------------------------

bool parse_number(const std::string& text, unsigned long maximum, unsigned long* value) {
  if (text.empty() || text[0] == '-') return false;
  char* end = nullptr;
  *value = std::strtoul(text.c_str(), &end, 0);
  return *end == '\0' && *value <= maximum;
}

bool parse_cable(const std::string& text, uint32_t* selector) {
  if (text == "auto") {
    *selector = VELNOR_CABLE_AUTO;
    return true;
  }
  const std::size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  unsigned long unit = 0;
  if (colon != std::string::npos &&
      !parse_number(text.substr(colon + 1), VELNOR_CABLE_UNIT_MASK, &unit)) {
    return false;
  }
  if (kind == "usb") {
    *selector = VELNOR_CABLE_USB | static_cast<uint32_t>(unit);
  } else if (kind == "lpt") {
    *selector = VELNOR_CABLE_PARALLEL | static_cast<uint32_t>(unit);
  } else {
    return false;
  }
  return true;
}

bool parse_hex_bytes(const std::string& text, std::vector<uint8_t>* bytes) {
  if (text.empty() || text.size() % 2 != 0) return false;
  bytes->clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned long value = 0;
    const std::string pair = "0x" + text.substr(i, 2);
    if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !parse_number(pair, 0xFF, &value)) {
      return false;
    }
    bytes->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

// --- Output --------------------------------------------------------------------

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

int report_failure(const char* what, uint32_t result) {
  std::fflush(stdout);
  std::fprintf(stderr, "velnorctl: %s failed: 0x%08X (%s)\n", what, result,
               result_names(result).c_str());
  return kExitFailed;
}

void print_hex(const char* label, const uint8_t* bytes, std::size_t count) {
  std::printf("%s", label);
  for (std::size_t i = 0; i < count; ++i) std::printf(" %02X", bytes[i]);
  std::printf("\n");
}

// --- Commands --------------------------------------------------------------------

int scan() {
  int32_t count = 0;
  const uint32_t result = velnor_scan_chain(&count);
  // Without power, or with the cable busy, there was no scan to show.
  if (result & (VELNOR_ERR_POWER_DOWN | VELNOR_BUSY | VELNOR_ERR_PROBE)) {
    return report_failure("scan", result);
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
  return result == VELNOR_OK ? kExitOk : report_failure("scan", result);
}

int status() {
  uint32_t idcode = 0, word = 0, usercode = 0;
  const uint32_t result = velnor_get_status(&idcode, &word, &usercode);
  if (result != VELNOR_OK) return report_failure("status", result);
  std::printf("IDCODE    0x%08X\n", idcode);
  std::printf("status    0x%08X  DONE=%u INIT=%u CRC_ERROR=%u MODE=%u%u%u\n", word, word >> 14 & 1,
              word >> 13 & 1, word & 1, word >> 12 & 1, word >> 11 & 1, word >> 10 & 1);
  std::printf("USERCODE  0x%08X\n", usercode);
  return kExitOk;
}

void draw_progress(uint32_t total, int32_t remaining) {
  constexpr int kWidth = 40;
  const uint32_t done = total - static_cast<uint32_t>(remaining);
  if (done > total) return;
  const int filled = total == 0 ? kWidth : static_cast<int>(uint64_t{done} * kWidth / total);
  std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
               std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(),
               total == 0 ? 100 : static_cast<int>(uint64_t{done} * 100 / total));
}

// Runs the configuration on the library's worker thread and follows its
// count word, drawing a progress bar when a person is watching.
int config(const std::string& path) {
  VelnorBitFileInfo info;
  if (velnor_bitfile_info(path.c_str(), &info) != VELNOR_OK) {
    return report_failure(("reading " + path).c_str(), VELNOR_ERR_FILE);
  }
  std::printf("file %s\n  design  %s\n  part    %s\n  date    %s %s\n  length  %u bytes\n",
              path.c_str(), info.design_name, info.part_name, info.date, info.time, info.length);
  std::fflush(stdout);
  const bool show_progress = isatty(STDERR_FILENO) != 0;
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
  std::printf("configured\n");
  return kExitOk;
}

int shutdown() {
  const uint32_t result = velnor_shutdown();
  if (result != VELNOR_OK) return report_failure("shutdown", result);
  std::printf("shut down\n");
  return kExitOk;
}

// The user channel relies on the FPGA selection of an FPGA operation; a
// status check without outputs makes it.
uint32_t select_fpga() { return velnor_get_status(nullptr, nullptr, nullptr); }

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
    std::printf("%s %zu bytes at 0x%08X\n", code == VELNOR_JMEM_WRITE ? "wrote" : "verified",
                bytes.size(), address);
  }
  return kExitOk;
}

// PROM work goes in pieces so a progress bar can follow it; each piece is
// a whole number of 512-byte blocks.
constexpr uint32_t kPromPieceBytes = 32 * 1024;

struct Progress {
  bool shown;
  uint32_t total;
  void update(uint32_t done) const {
    if (shown) draw_progress(total, static_cast<int32_t>(total - done));
  }
  void finish() const {
    if (shown) {
      draw_progress(total, 0);
      std::fprintf(stderr, "\n");
    }
  }
};

const char* prom_name(uint32_t idcode) {
  switch (idcode & 0x0FFFFFFF) {
    case 0x5044093:
      return "XCF01S";
    case 0x5045093:
      return "XCF02S";
    default:
      return "XCF04S";
  }
}

int prom_info() {
  uint32_t idcode = 0, size = 0;
  const uint32_t result = velnor_cfgrom_info(&idcode, &size);
  if (result != VELNOR_OK) return report_failure("prom info", result);
  std::printf("PROM      %s, IDCODE 0x%08X, %u bytes\n", prom_name(idcode), idcode, size);
  return kExitOk;
}

int prom_erase() {
  const uint32_t result = velnor_cfgrom_erase();
  if (result != VELNOR_OK) return report_failure("prom erase", result);
  std::printf("PROM erased\n");
  return kExitOk;
}

uint32_t prom_read_into(std::vector<uint8_t>* bytes, uint32_t length) {
  bytes->assign(length, 0);
  const Progress progress{isatty(STDERR_FILENO) != 0, length};
  for (uint32_t done = 0; done < length;) {
    const uint32_t piece = std::min(kPromPieceBytes, length - done);
    const uint32_t result = velnor_cfgrom_read(bytes->data() + done, done, piece);
    if (result != VELNOR_OK) return result;
    done += piece;
    progress.update(done);
  }
  progress.finish();
  return VELNOR_OK;
}

int prom_read(const std::string& path, uint32_t length) {
  uint32_t size = 0;
  uint32_t result = velnor_cfgrom_info(nullptr, &size);
  if (result != VELNOR_OK) return report_failure("prom read", result);
  if (length == 0) length = size;
  std::vector<uint8_t> bytes;
  result = prom_read_into(&bytes, length);
  if (result != VELNOR_OK) return report_failure("prom read", result);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    if (file != nullptr) std::fclose(file);
    std::fprintf(stderr, "velnorctl: cannot write %s\n", path.c_str());
    return kExitFailed;
  }
  std::fclose(file);
  std::printf("read %u bytes into %s\n", length, path.c_str());
  return kExitOk;
}

int prom_program(const std::string& path, bool erase, bool verify) {
  std::vector<uint8_t> image;
  std::string error;
  if (!velnor::tools::load_prom_image(path, &image, &error)) {
    std::fprintf(stderr, "velnorctl: %s: %s\n", path.c_str(), error.c_str());
    return kExitFailed;
  }
  velnor::tools::pad_to_blocks(&image);
  const auto length = static_cast<uint32_t>(image.size());
  uint32_t size = 0;
  uint32_t result = velnor_cfgrom_info(nullptr, &size);
  if (result != VELNOR_OK) return report_failure("prom program", result);
  if (length > size) {
    std::fprintf(stderr, "velnorctl: %s: %u bytes do not fit the PROM's %u\n", path.c_str(),
                 length, size);
    return kExitFailed;
  }
  if (erase && prom_erase() != kExitOk) return kExitFailed;
  const Progress progress{isatty(STDERR_FILENO) != 0, length};
  for (uint32_t done = 0; done < length;) {
    const uint32_t piece = std::min(kPromPieceBytes, length - done);
    result = velnor_cfgrom_program(image.data() + done, done, piece);
    if (result != VELNOR_OK) return report_failure("prom program", result);
    done += piece;
    progress.update(done);
  }
  progress.finish();
  std::printf("programmed %u bytes from %s\n", length, path.c_str());
  if (!verify) return kExitOk;
  std::vector<uint8_t> back;
  result = prom_read_into(&back, length);
  if (result != VELNOR_OK) return report_failure("prom verify", result);
  const auto mismatch = std::mismatch(image.begin(), image.end(), back.begin());
  if (mismatch.first != image.end()) {
    std::fflush(stdout);
    std::fprintf(stderr, "velnorctl: prom verify failed at byte 0x%06X\n",
                 static_cast<unsigned>(mismatch.first - image.begin()));
    return kExitFailed;
  }
  std::printf("verified %u bytes\n", length);
  return kExitOk;
}

// --- Command list ------------------------------------------------------------------

struct Command {
  std::string name;
  std::vector<std::string> arguments;
};

int usage_error(const std::string& message) {
  std::fprintf(stderr, "velnorctl: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

// Splits the words after the options into commands with their arguments.
bool parse_commands(const std::vector<std::string>& words, std::vector<Command>* commands,
                    std::string* error) {
  for (std::size_t i = 0; i < words.size();) {
    const std::string& name = words[i++];
    std::size_t wanted;
    if (name == "scan" || name == "status" || name == "shutdown") {
      wanted = 0;
    } else if (name == "config") {
      wanted = 1;
    } else if (name == "spi") {
      wanted = 2;
    } else if (name == "mem") {
      wanted = 3;
    } else if (name == "prom") {
      // The subcommand, its file where it takes one, then its flags.
      wanted = i < words.size() && (words[i] == "read" || words[i] == "program") ? 2 : 1;
      while (i + wanted < words.size() && words[i + wanted].rfind("--", 0) == 0) {
        wanted += words[i + wanted] == "--length" ? 2 : 1;
      }
      wanted = std::min(wanted, words.size() - i);
    } else {
      *error = "unknown command '" + name + "'";
      return false;
    }
    if (words.size() - i < wanted) {
      *error =
          "'" + name + "' needs " + std::to_string(wanted) + " argument" + (wanted == 1 ? "" : "s");
      return false;
    }
    commands->push_back(
        {name,
         {words.begin() + static_cast<long>(i), words.begin() + static_cast<long>(i + wanted)}});
    i += wanted;
  }
  if (commands->empty()) commands->push_back({"scan", {}});
  return true;
}

// Checks a command's arguments before anything touches the cable.
bool valid_arguments(const Command& command, std::string* error) {
  const auto& a = command.arguments;
  unsigned long number = 0;
  std::vector<uint8_t> bytes;
  if (command.name == "spi") {
    if (!parse_number(a[0], 2, &number) || number < 1) {
      *error = "spi channel must be 1 or 2";
      return false;
    }
    if (!parse_hex_bytes(a[1], &bytes)) {
      *error = "bad hex bytes '" + a[1] + "'";
      return false;
    }
  } else if (command.name == "prom") {
    const std::string& what = a.empty() ? "" : a[0];
    const bool takes_file = what == "read" || what == "program";
    if (what != "info" && what != "erase" && !takes_file) {
      *error = "prom takes info, read, erase or program";
      return false;
    }
    if (takes_file && a.size() < 2) {
      *error = "'prom " + what + "' needs a file";
      return false;
    }
    for (std::size_t i = takes_file ? 2 : 1; i < a.size(); ++i) {
      const bool known = (what == "read" && a[i] == "--length" && i + 1 < a.size() &&
                          parse_number(a[i + 1], 0x7FFFFFFF, &number)) ||
                         (what == "program" && (a[i] == "--erase" || a[i] == "--verify"));
      if (!known) {
        *error = "bad option '" + a[i] + "' for 'prom " + what + "'";
        return false;
      }
      if (a[i] == "--length") ++i;
    }
  } else if (command.name == "mem") {
    if (a[0] != "read" && a[0] != "write" && a[0] != "verify") {
      *error = "mem takes read, write or verify";
      return false;
    }
    if (!parse_number(a[1], 0xFFFFFFFF, &number)) {
      *error = "bad address '" + a[1] + "'";
      return false;
    }
    if (a[0] == "read" ? !parse_number(a[2], 0x1000000, &number) || number == 0
                       : !parse_hex_bytes(a[2], &bytes)) {
      *error = a[0] == "read" ? "bad length '" + a[2] + "'" : "bad hex bytes '" + a[2] + "'";
      return false;
    }
  }
  return true;
}

int run(const Command& command) {
  const auto& a = command.arguments;
  if (command.name == "scan") return scan();
  if (command.name == "status") return status();
  if (command.name == "config") return config(a[0]);
  if (command.name == "shutdown") return shutdown();
  if (command.name == "prom") {
    const auto has = [&a](const char* flag) { return std::find(a.begin(), a.end(), flag) != a.end(); };
    if (a[0] == "info") return prom_info();
    if (a[0] == "erase") return prom_erase();
    if (a[0] == "program") return prom_program(a[1], has("--erase"), has("--verify"));
    unsigned long length = 0;
    const auto flag = std::find(a.begin(), a.end(), "--length");
    if (flag != a.end()) parse_number(*(flag + 1), 0x7FFFFFFF, &length);
    return prom_read(a[1], static_cast<uint32_t>(length));
  }
  unsigned long number = 0;
  std::vector<uint8_t> bytes;
  if (command.name == "spi") {
    parse_number(a[0], 2, &number);
    parse_hex_bytes(a[1], &bytes);
    return spi(static_cast<uint8_t>(number), bytes);
  }
  unsigned long address = 0;
  parse_number(a[1], 0xFFFFFFFF, &address);
  if (a[0] == "read") {
    parse_number(a[2], 0x1000000, &number);
    bytes.assign(number, 0);
  } else {
    parse_hex_bytes(a[2], &bytes);
  }
  return memory(a[0], static_cast<uint32_t>(address), bytes);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t selector = VELNOR_CABLE_AUTO;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::printf("%s", kUsage);
      return kExitOk;
    }
    if (argument == "--cable") {
      if (i + 1 == argc || !parse_cable(argv[i + 1], &selector)) {
        return usage_error(std::string("bad cable '") + (i + 1 < argc ? argv[i + 1] : "") + "'");
      }
      ++i;
    } else {
      words.push_back(argument);
    }
  }
  std::vector<Command> commands;
  std::string error;
  if (!parse_commands(words, &commands, &error)) return usage_error(error);
  for (const Command& command : commands) {
    if (!valid_arguments(command, &error)) return usage_error(error);
  }

  const uint32_t opened = velnor_init(selector);
  if (opened != VELNOR_OK) return report_failure("opening the cable", opened);
  int status_code = kExitOk;
  for (const Command& command : commands) {
    status_code = run(command);
    if (status_code != kExitOk) break;
  }
  velnor_free();
  return status_code;
}
