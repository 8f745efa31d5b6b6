#include "prom_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli_output.h"
#include "prom_image.h"
#include "velnor.h"

namespace velnor::tools {
namespace {

// PROM work goes in pieces so a progress bar can follow it; each piece is
// a whole number of 512-byte blocks.
constexpr uint32_t kPromPieceBytes = 32 * 1024;

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

uint32_t prom_read_into(std::vector<uint8_t>* bytes, uint32_t length) {
  bytes->assign(length, 0);
  const Progress progress{progress_wanted(), length};
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

}  // namespace

int prom_info() {
  uint32_t idcode = 0, size = 0;
  const uint32_t result = velnor_cfgrom_info(&idcode, &size);
  if (result != VELNOR_OK) return report_failure("prom info", result);
  report("PROM      %s, IDCODE 0x%08X, %u bytes\n", prom_name(idcode), idcode, size);
  return kExitOk;
}

int prom_erase() {
  const uint32_t result = velnor_cfgrom_erase();
  if (result != VELNOR_OK) return report_failure("prom erase", result);
  report("PROM erased\n");
  return kExitOk;
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
    const int reason = errno;
    if (file != nullptr) std::fclose(file);
    std::fprintf(stderr, "velnorctl: cannot write %s: %s\n", path.c_str(), std::strerror(reason));
    return kExitFailed;
  }
  std::fclose(file);
  report("read %u bytes into %s\n", length, path.c_str());
  return kExitOk;
}

int prom_program(const std::string& path, PromFileFormat format, bool erase, bool verify) {
  std::vector<uint8_t> image;
  std::string error;
  if (!load_prom_image(path, format, &image, &error)) {
    std::fprintf(stderr, "velnorctl: %s: %s\n", path.c_str(), error.c_str());
    return kExitFailed;
  }
  if (starts_up_on_jtag_clock(image)) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "velnorctl: warning: %s starts up on the JTAG clock; an FPGA loading it from the "
                 "PROM will not start (make it with the start-up clock CCLK)\n",
                 path.c_str());
  }
  pad_to_blocks(&image);
  const auto length = static_cast<uint32_t>(image.size());
  uint32_t size = 0;
  uint32_t result = velnor_cfgrom_info(nullptr, &size);
  if (result != VELNOR_OK) return report_failure("prom program", result);
  if (length > size) {
    std::fprintf(stderr, "velnorctl: %s: %u bytes do not fit the PROM's %u\n", path.c_str(), length,
                 size);
    return kExitFailed;
  }
  if (erase && prom_erase() != kExitOk) return kExitFailed;
  const Progress progress{progress_wanted(), length};
  for (uint32_t done = 0; done < length;) {
    const uint32_t piece = std::min(kPromPieceBytes, length - done);
    result = velnor_cfgrom_program(image.data() + done, done, piece);
    if (result != VELNOR_OK) return report_failure("prom program", result);
    done += piece;
    progress.update(done);
  }
  progress.finish();
  report("programmed %u bytes from %s\n", length, path.c_str());
  if (!verify) return kExitOk;
  std::vector<uint8_t> back;
  result = prom_read_into(&back, length);
  if (result != VELNOR_OK) return report_failure("prom verify", result);
  const auto mismatch = std::mismatch(image.begin(), image.end(), back.begin());
  if (mismatch.first != image.end()) {
    std::fflush(stdout);
    std::fprintf(
        stderr, "velnorctl: prom verify failed at byte 0x%06X: expected 0x%02X, read 0x%02X\n",
        static_cast<unsigned>(mismatch.first - image.begin()), *mismatch.first, *mismatch.second);
    return kExitFailed;
  }
  report("verified %u bytes\n", length);
  return kExitOk;
}

}  // namespace velnor::tools
