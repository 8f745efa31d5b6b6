#include "runtime_velnor.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <utility>

#include "velnor.h"

namespace moxtest {
namespace {

// The system's run-time loading: LoadLibraryA of "velnor.dll" and
// GetProcAddress on Windows (the exports carry their plain names there on
// both targets), dlopen of "libvelnor.so" and dlsym elsewhere.
#ifdef _WIN32
void* load_library(const std::string& name, std::string* error) {
  const std::string file = name + ".dll";
  HMODULE module = LoadLibraryA(file.c_str());
  if (module == nullptr)
    *error = "the library " + name + " cannot be loaded: " + file + " (error " +
             std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(module);
}
void* find_function(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void unload_library(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
void* load_library(const std::string& name, std::string* error) {
  const std::string file = "lib" + name + ".so";
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) *error = "the library " + name + " cannot be loaded: " + dlerror();
  return handle;
}
void* find_function(void* library, const char* name) { return dlsym(library, name); }
void unload_library(void* library) { dlclose(library); }
#endif

constexpr std::array<const char*, 8> kExportNames = {
    "velnor_init",     "velnor_free",   "velnor_check_daisychain", "velnor_get_status",
    "velnor_shutdown", "velnor_config", "velnor_spi_xfer",         "jmem_access",
};

}  // namespace

RuntimeVelnorLibrary::RuntimeVelnorLibrary(std::string name) : name_(std::move(name)) {}

RuntimeVelnorLibrary::~RuntimeVelnorLibrary() {
  if (handle_ != nullptr) unload_library(handle_);
}

void* RuntimeVelnorLibrary::resolve(Export which, std::string* error) {
  if (exports_[which] != nullptr) return exports_[which];
  if (handle_ == nullptr) {
    handle_ = load_library(name_, error);
    if (handle_ == nullptr) return nullptr;
  }
  exports_[which] = find_function(handle_, kExportNames[which]);
  if (exports_[which] == nullptr)
    *error = "the library " + name_ + " has no function " + kExportNames[which];
  return exports_[which];
}

template <typename Function, typename... Arguments>
CallResult RuntimeVelnorLibrary::call(Export which, Arguments... arguments) {
  CallResult result;
  if (void* address = resolve(which, &result.runtime_error))
    result.word = reinterpret_cast<Function*>(address)(arguments...);
  return result;
}

CallResult RuntimeVelnorLibrary::init(std::uint32_t cable_selector) {
  return call<decltype(::velnor_init)>(kInit, cable_selector);
}
CallResult RuntimeVelnorLibrary::free() { return call<decltype(::velnor_free)>(kFree); }
CallResult RuntimeVelnorLibrary::check_daisychain() {
  return call<decltype(::velnor_check_daisychain)>(kCheckDaisychain);
}
CallResult RuntimeVelnorLibrary::get_status(std::uint32_t* idcode, std::uint32_t* status,
                                            std::uint32_t* usercode) {
  return call<decltype(::velnor_get_status)>(kGetStatus, idcode, status, usercode);
}
CallResult RuntimeVelnorLibrary::shutdown() { return call<decltype(::velnor_shutdown)>(kShutdown); }
CallResult RuntimeVelnorLibrary::config(const void* source, std::int32_t* count) {
  return call<decltype(::velnor_config)>(kConfig, source, count);
}
CallResult RuntimeVelnorLibrary::spi_xfer(std::uint8_t channel, const std::uint8_t* transmit,
                                          std::uint8_t* receive, std::int32_t* count) {
  return call<decltype(::velnor_spi_xfer)>(kSpiXfer, channel, transmit, receive, count);
}
CallResult RuntimeVelnorLibrary::jmem_access(std::uint8_t mode, std::uint32_t address,
                                             std::uint8_t* buffer, std::uint32_t length) {
  return call<decltype(::jmem_access)>(kJmemAccess, mode, address, buffer, length);
}

}  // namespace moxtest
