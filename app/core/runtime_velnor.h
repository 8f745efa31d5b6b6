// The velnor library bound at run time by name: the library is loaded by the
// system's normal library search on the first call, and each export is looked
// up by its name on its own first call. Nothing is linked at build time, so
// the program starts without the library and says what is missing only when
// a button needs it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "velnor_library.h"

namespace moxtest {

class RuntimeVelnorLibrary final : public VelnorLibrary {
 public:
  // name: the library's name without prefix and suffix ("velnor" loads
  // libvelnor.so).
  explicit RuntimeVelnorLibrary(std::string name);
  ~RuntimeVelnorLibrary() override;
  RuntimeVelnorLibrary(const RuntimeVelnorLibrary&) = delete;
  RuntimeVelnorLibrary& operator=(const RuntimeVelnorLibrary&) = delete;

  CallResult init(std::uint32_t cable_selector) override;
  CallResult free() override;
  CallResult check_daisychain() override;
  CallResult get_status(std::uint32_t* idcode, std::uint32_t* status,
                        std::uint32_t* usercode) override;
  CallResult shutdown() override;
  CallResult config(const void* source, std::int32_t* count) override;
  CallResult spi_xfer(std::uint8_t channel, const std::uint8_t* transmit, std::uint8_t* receive,
                      std::int32_t* count) override;
  CallResult jmem_access(std::uint8_t mode, std::uint32_t address, std::uint8_t* buffer,
                         std::uint32_t length) override;

 private:
  enum Export {
    kInit,
    kFree,
    kCheckDaisychain,
    kGetStatus,
    kShutdown,
    kConfig,
    kSpiXfer,
    kJmemAccess,
    kExportCount
  };

  // The address of an export, loading the library first when needed; null
  // with the reason in *error when the library or the export is missing.
  void* resolve(Export which, std::string* error);
  template <typename Function, typename... Arguments>
  CallResult call(Export which, Arguments... arguments);

  std::string name_;
  void* handle_ = nullptr;
  std::array<void*, kExportCount> exports_{};
};

}  // namespace moxtest
