// The library bound by name at run time: found by the system's library search
// (the test runs with the built libvelnor.so on LD_LIBRARY_PATH and the
// virtual bench selected), each export looked up on its first call.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runtime_velnor.h"
#include "velnor.h"

namespace moxtest {
namespace {

bool is_loaded(const char* file) {
  void* handle = dlopen(file, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

TEST(RuntimeLibrary, CallsAllEightExportsOfTheBenchLibraryByName) {
  RuntimeVelnorLibrary library("velnor");
  CallResult call = library.init(VELNOR_CABLE_PARALLEL);
  ASSERT_TRUE(call.made()) << call.runtime_error;
  EXPECT_EQ(call.word, VELNOR_OK);

  std::uint32_t idcode = 0, status = 0, usercode = 0;
  EXPECT_EQ(library.get_status(&idcode, &status, &usercode).word, VELNOR_OK);
  EXPECT_EQ(idcode, 0x0061C093u);                  // the default board's XC2S200
  EXPECT_EQ(library.check_daisychain().word, 1u);  // XCF02S and XC2S200

  // Not configured: configuration from a file that does not exist, a
  // shutdown, a transfer and a memory access reach the library all the same.
  std::int32_t count = 0;
  EXPECT_EQ(library.config("/nonexistent/velnor.bit", &count).word, VELNOR_ERR_FILE);
  EXPECT_EQ(library.shutdown().word, VELNOR_OK);
  std::uint8_t transmit[1] = {1}, receive[1] = {0};
  count = 1;
  EXPECT_TRUE(library.spi_xfer(1, transmit, receive, &count).made());
  std::uint8_t buffer[4] = {};
  EXPECT_TRUE(library.jmem_access(VELNOR_JMEM_READ, 0, buffer, sizeof buffer).made());
  EXPECT_EQ(library.free().word, VELNOR_OK);
  EXPECT_EQ(library.shutdown().word, VELNOR_ERR_PROBE);  // no cable open any more
}

TEST(RuntimeLibrary, MissingLibraryIsReportedByNameAtTheFirstCall) {
  RuntimeVelnorLibrary library("velnor_absent");
  const CallResult call = library.init(VELNOR_CABLE_USB);
  EXPECT_FALSE(call.made());
  EXPECT_EQ(call.runtime_error,
            "the library velnor_absent cannot be loaded: libvelnor_absent.so: cannot open shared "
            "object file: No such file or directory");
}

TEST(RuntimeLibrary, LoadsOnTheFirstCallAndLooksEachExportUpOnItsOwnFirstCall) {
  RuntimeVelnorLibrary library("velnor_init_only");
  EXPECT_FALSE(is_loaded("libvelnor_init_only.so"));
  const CallResult init = library.init(VELNOR_CABLE_USB);
  EXPECT_TRUE(is_loaded("libvelnor_init_only.so"));
  ASSERT_TRUE(init.made()) << init.runtime_error;
  EXPECT_EQ(init.word, 0u);

  std::int32_t count = 0;
  const CallResult config = library.config("velnor.bit", &count);
  EXPECT_FALSE(config.made());
  EXPECT_EQ(config.runtime_error, "the library velnor_init_only has no function velnor_config");
  EXPECT_EQ(library.shutdown().runtime_error,
            "the library velnor_init_only has no function velnor_shutdown");
  EXPECT_TRUE(library.init(0).made());
}

}  // namespace
}  // namespace moxtest
