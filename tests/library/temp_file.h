// Files for tests, removed when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velnor::testing {

class TempFile {
 public:
  explicit TempFile(const std::vector<std::uint8_t>& bytes) {
    static int serial = 0;
    path_ = ::testing::TempDir() + "velnor_test_" + std::to_string(getpid()) + "_" +
            std::to_string(serial++) + ".bit";
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    EXPECT_NE(file, nullptr) << path_;
    if (file == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

}  // namespace velnor::testing
