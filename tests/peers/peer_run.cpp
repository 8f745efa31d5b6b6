#include "peers/peer_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace velnor::testing {

ProgramRun run_shell(const std::string& command) {
  ProgramRun run{"", -1};
  std::FILE* pipe = popen((command + " 2>&1 </dev/null").c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> chunk;
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    run.output.append(chunk.data(), got);
  }
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string on_bench(const std::string& board) { return "VELNOR_BENCH='" + board + "' "; }

std::string through_preload(const std::string& board, const std::string& extra) {
  return "env -u VELNOR_BENCH LD_PRELOAD='" VELNOR_PRELOAD "' VELNOR_PARPORT_BENCH='" + board +
         "' " + extra + " ";
}

ProgramRun velnorctl(const std::string& environment, const std::string& arguments) {
  return run_shell(environment + VELNORCTL_PATH " " + arguments);
}

ProgramRun run_peer(const std::string& board, const std::string& command) {
  return run_shell(through_preload(board, "ASAN_OPTIONS=detect_leaks=0") + "timeout 120 " +
                   command);
}

bool installed(const std::string& program) {
  return run_shell("command -v " + program).status == 0;
}

TempDir::TempDir() {
  std::string pattern = ::testing::TempDir() + "velnor_peers_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp " << pattern;
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::path(const std::string& name) const { return path_ + "/" + name; }

std::string read_text(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace velnor::testing
