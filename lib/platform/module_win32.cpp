// The bench module and the library's unload on Windows: velnor_bench.dll
// loaded from the folder of the module that holds this code (velnor.dll, or
// a program with the library built in), and DllMain for the exit list.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/backend.h"

namespace velnor::platform {
namespace {

constexpr const char* BENCH_MODULE_NAME = "velnor_bench.dll";

std::string bench_module_path() {
  HMODULE own = nullptr;
  char path[MAX_PATH];
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&bench_module_path), &own) == 0) {
    return BENCH_MODULE_NAME;
  }
  const DWORD length = GetModuleFileNameA(own, path, sizeof path);
  if (length == 0 || length >= sizeof path) return BENCH_MODULE_NAME;
  const std::string file(path, length);
  const std::size_t separator = file.find_last_of("\\/");
  if (separator == std::string::npos) return BENCH_MODULE_NAME;
  return file.substr(0, separator + 1) + BENCH_MODULE_NAME;
}

}  // namespace

VelnorBenchEntryPoint find_bench_entry_point() {
  // A program linked with the module has it loaded already.
  HMODULE module = GetModuleHandleA(BENCH_MODULE_NAME);
  if (module == nullptr) {
    const std::string path = bench_module_path();
    module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
      std::fprintf(stderr,
                   "velnor: VELNOR_BENCH is set but the virtual board cannot be loaded: %s "
                   "(error %lu)\n",
                   path.c_str(), GetLastError());
      return nullptr;
    }
  }
  const FARPROC entry = GetProcAddress(module, VELNOR_BENCH_ENTRY_POINT);
  if (entry == nullptr) {
    std::fprintf(stderr, "velnor: the virtual board's module has no entry point\n");
    return nullptr;
  }
  return reinterpret_cast<VelnorBenchEntryPoint>(reinterpret_cast<void*>(entry));
}

}  // namespace velnor::platform

// The library's unload: Windows calls this when velnor.dll leaves the
// process, by FreeLibrary or at process exit. In a program that has the
// library built in, nothing calls it. At process exit (reserved not null)
// Windows has already ended every other thread, the USB cable's reader
// among them: the exit list's waits for such a thread must not wait.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH) {
    if (reserved != nullptr) velnor::platform::other_threads_ended();
    velnor::platform::run_unload_list();
  }
  return TRUE;
}
