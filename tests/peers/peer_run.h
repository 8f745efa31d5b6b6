// Running programs for the peer tests: velnorctl on the bench backend, or on
// the Linux backend with the preload library serving /dev/parportN, and the
// peer tools (urJTAG, OpenOCD, xc3sprog) the same way.
#pragma once

#include <string>

namespace velnor::testing {

struct ProgramRun {
  std::string output;  // stdout and stderr together
  int status;          // exit status, -1 when killed or not run
};

// Runs a shell command line.
ProgramRun run_shell(const std::string& command);

// Environment prefixes for a command line: the library on the virtual
// board of its bench backend, or on the Linux backend with the preload
// library showing the board as /dev/parportN (extra: more VAR=value words).
std::string on_bench(const std::string& board);
std::string through_preload(const std::string& board, const std::string& extra = "");

// velnorctl with those prefixes.
ProgramRun velnorctl(const std::string& environment, const std::string& arguments);

// A peer tool on the board through the preload library, with a time limit
// and without leak reports of its own when this build has the address
// sanitizer preloaded into it.
ProgramRun run_peer(const std::string& board, const std::string& command);

// True when a program is on PATH.
bool installed(const std::string& program);

// A folder of its own for one test, removed with what it holds.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path(const std::string& name) const;

 private:
  std::string path_;
};

std::string read_text(const std::string& path);
void write_text(const std::string& path, const std::string& text);

}  // namespace velnor::testing
