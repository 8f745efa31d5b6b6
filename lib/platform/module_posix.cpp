// The bench module and the library's unload on POSIX systems: dlopen beside
// the library's own file, and an ELF destructor for the exit list.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "platform/backend.h"

namespace velnor::platform {
namespace {

constexpr const char* BENCH_MODULE_NAME = "libvelnor_bench.so";

// The module beside the library's own file (or beside the program, for a
// program that has the library's code built in).
std::string bench_module_path() {
  Dl_info info{};
  std::string path = BENCH_MODULE_NAME;
  if (dladdr(reinterpret_cast<void*>(&bench_module_path), &info) != 0 &&
      info.dli_fname != nullptr) {
    const std::string own = info.dli_fname;
    const std::size_t slash = own.rfind('/');
    if (slash != std::string::npos) path = own.substr(0, slash + 1) + BENCH_MODULE_NAME;
  }
  return path;
}

// The library's own unload: the runtime calls it when the shared library
// leaves the process.
__attribute__((destructor)) void unload_library() { run_unload_list(); }

}  // namespace

VelnorBenchEntryPoint find_bench_entry_point() {
  void* entry = dlsym(RTLD_DEFAULT, VELNOR_BENCH_ENTRY_POINT);
  if (entry == nullptr) {
    const std::string path = bench_module_path();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      std::fprintf(stderr,
                   "velnor: VELNOR_BENCH is set but the virtual board cannot be loaded: %s\n",
                   dlerror());
      return nullptr;
    }
    entry = dlsym(module, VELNOR_BENCH_ENTRY_POINT);
  }
  if (entry == nullptr)
    std::fprintf(stderr, "velnor: the virtual board's module has no entry point\n");
  return reinterpret_cast<VelnorBenchEntryPoint>(entry);
}

}  // namespace velnor::platform
