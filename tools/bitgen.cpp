// velnor-bitgen: writes a .bit file the bench's Spartan-II model accepts,
// laid out like the vendor's, for demonstrations and manual runs.
//
//   velnor-bitgen PART OUTPUT.bit [--startup jtag|cclk|user] [--seed N]
//
// PART is xc2s15 .. xc2s200. Exit status 0 on success, 1 when the file
// cannot be written, 2 on bad arguments.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bitstream.h"

namespace {

using velnor::bench::BitstreamOptions;
using velnor::bench::Part;
using velnor::bench::StartupClock;

int usage(const char* why) {
  std::fprintf(stderr,
               "velnor-bitgen: %s\n"
               "usage: velnor-bitgen PART OUTPUT.bit [--startup jtag|cclk|user] [--seed N]\n"
               "       PART: xc2s15 xc2s30 xc2s50 xc2s100 xc2s150 xc2s200\n",
               why);
  return 2;
}

bool parse_seed(const std::string& text, std::uint32_t* seed) {
  if (text.empty() || text.size() > 10) return false;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (*end != '\0' || value > 0xFFFFFFFFull) return false;
  *seed = static_cast<std::uint32_t>(value);
  return true;
}

// The design field: the output's file name without folder and extension.
std::string design_name(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) name.erase(dot);
  return name + ".ncd";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage("missing arguments");
  BitstreamOptions options;
  const std::string part_name = argv[1];
  if (!velnor::bench::part_from_name(part_name, &options.part) || options.part == Part::Xcf01s ||
      options.part == Part::Xcf02s || options.part == Part::Xcf04s) {
    return usage(("unknown FPGA '" + part_name + "'").c_str());
  }
  const std::string output = argv[2];
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 == argc) return usage(("missing value for " + option).c_str());
    const std::string value = argv[++i];
    if (option == "--startup") {
      if (value == "jtag") {
        options.startup_clock = StartupClock::Jtag;
      } else if (value == "cclk") {
        options.startup_clock = StartupClock::Cclk;
      } else if (value == "user") {
        options.startup_clock = StartupClock::User;
      } else {
        return usage(("unknown start-up clock '" + value + "'").c_str());
      }
    } else if (option == "--seed") {
      if (!parse_seed(value, &options.seed)) return usage(("bad seed '" + value + "'").c_str());
    } else {
      return usage(("unknown option " + option).c_str());
    }
  }

  velnor::bench::BitFileFields fields;
  fields.design = design_name(output);
  fields.part = velnor::bench::bit_file_part_name(options.part);
  const std::vector<std::uint8_t> file =
      velnor::bench::make_bit_file(velnor::bench::make_bitstream(options), fields);
  std::FILE* out = std::fopen(output.c_str(), "wb");
  if (out == nullptr) {
    std::perror(output.c_str());
    return 1;
  }
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(output.c_str());
    return 1;
  }
  std::printf("%s: %s, %zu bytes\n", output.c_str(), fields.part.c_str(), file.size());
  return 0;
}
