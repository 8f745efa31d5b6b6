// velnorctl: a command-line front end over the library's exports.
//
//   velnorctl [--cable usb[:N]|lpt[:BASE]|auto] [-q|-v] [--json] [COMMAND...]
//
// Opens the cable, then runs the commands in order (scan when none is
// given) and stops at the first that fails.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_output.h"
#include "fpga_commands.h"
#include "json_commands.h"
#include "prom_commands.h"
#include "velnor.h"

using namespace velnor::tools;

namespace {

const char* const kUsage =
    "usage: velnorctl [--cable usb[:N]|lpt[:BASE]|auto] [-q|-v] [--json] [COMMAND...]\n"
    "       velnorctl --version | --help\n"
    "  --cable usb:N     USB cable number N (default 0)\n"
    "          lpt:BASE  parallel cable at printer port BASE (default 0x378)\n"
    "          auto      USB cable 0, else the parallel cable at 0x378 (default)\n"
    "  -q, --quiet       print errors only (and --json's objects)\n"
    "  -v, --verbose     also tell on stderr which cable opens and how long\n"
    "                    each command takes\n"
    "  --json            scan, status and prom info print one JSON object each on\n"
    "                    stdout; everything else printed goes to stderr\n"
    "commands, run in order:\n"
    "  scan                    list the devices on the JTAG chain (the default)\n"
    "  status                  the FPGA's IDCODE, status register and USERCODE\n"
    "  config FILE [--force]   configure the FPGA from a bitstream file made for it\n"
    "                          (--force: for whatever part the file names)\n"
    "  shutdown                shut the FPGA down\n"
    "  spi CHANNEL HEX         send bytes on user channel 1 or 2, print the answer\n"
    "  mem read ADDRESS LENGTH read the design's memory\n"
    "  mem write ADDRESS HEX   write bytes to it\n"
    "  mem verify ADDRESS HEX  compare it with bytes\n"
    "  prom info               the configuration PROM's part and size\n"
    "  prom read FILE [--length N]   save the PROM's memory (all of it by default)\n"
    "  prom erase              erase the PROM\n"
    "  prom program FILE [--no-erase] [--no-verify] [--format raw]\n"
    "                          program the data of a .bit file, an Intel HEX (.mcs)\n"
    "                          or S-record (.exo) file, or a raw image (.bin);\n"
    "                          erases first and reads back after\n"
    "HEX is a run of hexadecimal byte values, e.g. 48656C6C6F. Numbers are decimal,\n"
    "or hexadecimal after 0x; a leading 0 is just a 0 (010 is ten).\n";

// --- Arguments -----------------------------------------------------------------

// Decimal, or hexadecimal after 0x or 0X. Never octal: people write 010
// and 08 for ten and eight. No sign, no spaces.
bool parse_number(const std::string& text, unsigned long maximum, unsigned long* value) {
  const char* first = text.data();
  const char* const last = first + text.size();
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    first += 2;
    base = 16;
  }
  const auto [end, error] = std::from_chars(first, last, *value, base);
  return first != last && error == std::errc{} && end == last && *value <= maximum;
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
      // The subcommand, then its file where it takes one.
      wanted = i < words.size() && (words[i] == "read" || words[i] == "program") ? 2 : 1;
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
    // Flags follow; --length and --format take a value.
    if (name == "config" || name == "prom") {
      while (i + wanted < words.size() && words[i + wanted].rfind("--", 0) == 0) {
        const std::string& flag = words[i + wanted];
        wanted += flag == "--length" || flag == "--format" ? 2 : 1;
      }
      wanted = std::min(wanted, words.size() - i);
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
  if (command.name == "config") {
    for (std::size_t i = 1; i < a.size(); ++i) {
      if (a[i] != "--force") {
        *error = "bad option '" + a[i] + "' for 'config'";
        return false;
      }
    }
  } else if (command.name == "spi") {
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
      const bool known =
          (what == "read" && a[i] == "--length" && i + 1 < a.size() &&
           parse_number(a[i + 1], 0x7FFFFFFF, &number)) ||
          (what == "program" && (a[i] == "--format" && i + 1 < a.size() && a[i + 1] == "raw")) ||
          // --erase and --verify are the default now; old scripts still pass them.
          (what == "program" && (a[i] == "--no-erase" || a[i] == "--no-verify" ||
                                 a[i] == "--erase" || a[i] == "--verify"));
      if (!known) {
        *error = "bad option '" + a[i] + "' for 'prom " + what + "'";
        return false;
      }
      if (a[i] == "--length" || a[i] == "--format") ++i;
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

std::string text_of(const Command& command) {
  std::string text = command.name;
  for (const std::string& argument : command.arguments) text += " " + argument;
  return text;
}

// With json, scan, status and prom info print their objects there; the
// other commands' text goes where stdout now leads (stderr).
int run(const Command& command, std::FILE* json) {
  const auto& a = command.arguments;
  if (json != nullptr) {
    if (command.name == "scan") return scan_json(json);
    if (command.name == "status") return status_json(json);
    if (command.name == "prom" && a[0] == "info") return prom_info_json(json);
  }
  if (command.name == "scan") return scan();
  if (command.name == "status") return status();
  const auto has = [&a](const char* flag) {
    return std::find(a.begin(), a.end(), flag) != a.end();
  };
  if (command.name == "config") return config(a[0], has("--force"));
  if (command.name == "shutdown") return shutdown();
  if (command.name == "prom") {
    if (a[0] == "info") return prom_info();
    if (a[0] == "erase") return prom_erase();
    if (a[0] == "program") {
      return prom_program(a[1], has("--format") ? PromFileFormat::Raw : PromFileFormat::Detect,
                          !has("--no-erase"), !has("--no-verify"));
    }
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

// stdout keeps only the JSON objects: whatever else is printed there (the
// other commands' reports, the library's own messages) goes to stderr.
// Returns the stream for the objects.
std::FILE* keep_stdout_for_json() {
  std::fflush(stdout);
  std::FILE* json = fdopen(dup(STDOUT_FILENO), "w");
  dup2(STDERR_FILENO, STDOUT_FILENO);
  return json;
}

// Errors only: every report on stdout, the library's messages among them,
// goes nowhere, and no progress bar is drawn.
void silence_stdout() {
  std::fflush(stdout);
#ifdef _WIN32
  const int null_device = open("NUL", O_WRONLY);
#else
  const int null_device = open("/dev/null", O_WRONLY);
#endif
  dup2(null_device, STDOUT_FILENO);
  close(null_device);
  set_progress_shown(false);
}

// For -v: a line on stderr after what stdout has so far.
void tell(const std::string& line) {
  std::fflush(stdout);
  std::fprintf(stderr, "velnorctl: %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t selector = VELNOR_CABLE_AUTO;
  std::string cable = "auto";
  bool quiet = false, verbose = false, json = false;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::printf("%s", kUsage);
      return kExitOk;
    }
    if (argument == "--version") {
      std::printf("velnorctl %s\n", VELNORCTL_VERSION);
      return kExitOk;
    }
    if (argument == "--cable") {
      if (i + 1 == argc || !parse_cable(argv[i + 1], &selector)) {
        return usage_error(std::string("bad cable '") + (i + 1 < argc ? argv[i + 1] : "") + "'");
      }
      cable = argv[++i];
    } else if (argument == "-q" || argument == "--quiet") {
      quiet = true;
    } else if (argument == "-v" || argument == "--verbose") {
      verbose = true;
    } else if (argument == "--json") {
      json = true;
    } else {
      words.push_back(argument);
    }
  }
  if (quiet && verbose) return usage_error("-q and -v do not go together");
  std::vector<Command> commands;
  std::string error;
  if (!parse_commands(words, &commands, &error)) return usage_error(error);
  for (const Command& command : commands) {
    if (!valid_arguments(command, &error)) return usage_error(error);
  }

  std::FILE* json_out = json ? keep_stdout_for_json() : nullptr;
  if (quiet) silence_stdout();
  if (verbose) {
    char word[16];
    std::snprintf(word, sizeof word, "0x%08X", selector);
    tell("opening cable " + cable + " (selector " + word + ")");
  }
  const uint32_t opened = velnor_init(selector);
  if (opened != VELNOR_OK) return report_failure("opening the cable", opened);
  int status_code = kExitOk;
  for (const Command& command : commands) {
    if (verbose) tell(text_of(command));
    const auto start = std::chrono::steady_clock::now();
    status_code = run(command, json_out);
    if (json_out != nullptr) std::fflush(json_out);
    if (verbose) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      tell(text_of(command) + (status_code == kExitOk ? ": done in " : ": failed after ") +
           std::to_string(elapsed.count()) + " ms");
    }
    if (status_code != kExitOk) break;
  }
  velnor_free();
  return status_code;
}
