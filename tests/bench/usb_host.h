// The host's side of the EZ-USB cable for bench tests: the driver requests
// the library makes, through the board's platform services.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/board.h"
#include "bench/ezusb.h"

namespace velnor::bench {

constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kShareWrite = 2;
constexpr std::uint32_t kOpenExisting = 3;

// The host side as the library drives it, through the board's platform
// services.
struct Host {
  explicit Host(std::unique_ptr<Board> built) : board(std::move(built)) {}
  explicit Host(const std::string& description) : board(make_board(description)) {}

  Handle open(unsigned unit = 0) {
    const std::string name = "\\\\.\\ezusb-" + std::to_string(unit);
    return board->open_device(name.c_str(), kGenericWrite, kShareWrite, kOpenExisting, 0);
  }
  bool cpucs(Handle h, std::uint8_t value) {
    const std::uint8_t request[10] = {0xA0, 0, 0x92, 0x7F, 0, 0, 1, 0, 0, value};
    return board->device_control(h, EzUsbDriver::kVendorRequest, request, 10, nullptr, 0, nullptr);
  }
  bool download(Handle h, const std::vector<std::uint8_t>& image) {
    return board->device_control(h, EzUsbDriver::kDownload, image.data(), 4096, nullptr, 0,
                                 nullptr);
  }
  // Halt, download, run; the device leaves the bus.
  void boot(const std::vector<std::uint8_t>& image) {
    const Handle h = open();
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(cpucs(h, 1));
    ASSERT_TRUE(download(h, image));
    ASSERT_TRUE(cpucs(h, 0));
    board->close_device(h);
  }
  // Boots and waits (virtually) until the firmware's device is there.
  Handle boot_and_open(const std::vector<std::uint8_t>& image) {
    boot(image);
    board->clock().sleep_ms(1500);
    return open();
  }
  bool string(Handle h, std::uint8_t index, std::vector<std::uint8_t>* out) {
    const std::uint8_t request[4] = {index, 0, 0x1B, 0x00};
    out->assign(130, 0);
    std::uint32_t returned = 0;
    if (!board->device_control(h, EzUsbDriver::kGetStringDescriptor, request, 4, out->data(), 130,
                               &returned)) {
      return false;
    }
    out->resize(returned);
    return true;
  }
  bool write(Handle h, std::uint32_t pipe, const std::vector<std::uint8_t>& data,
             std::uint32_t* sent = nullptr) {
    std::uint32_t returned = 0;
    const bool ok = board->device_control(h, EzUsbDriver::kBulkWrite, &pipe, 4,
                                          const_cast<std::uint8_t*>(data.data()),
                                          static_cast<std::uint32_t>(data.size()), &returned);
    if (sent != nullptr) *sent = returned;
    return ok;
  }
  bool read(Handle h, std::uint32_t pipe, std::vector<std::uint8_t>* buffer) {
    std::uint32_t returned = 0;
    if (!board->device_control(h, EzUsbDriver::kBulkRead, &pipe, 4, buffer->data(),
                               static_cast<std::uint32_t>(buffer->size()), &returned)) {
      return false;
    }
    buffer->resize(returned);
    return true;
  }
  EzUsbDevice& device() { return *board->usb_device(0); }

  std::unique_ptr<Board> board;
};

}  // namespace velnor::bench
