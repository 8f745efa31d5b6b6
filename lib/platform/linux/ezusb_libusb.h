// EZ-USB devices on Linux through libusb-1.0 (see ezusb_libusb.cpp); the
// Linux backend's USB services.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace velnor::platform::host {

Handle ezusb_open(std::uint32_t unit);
void ezusb_close(Handle device);
bool ezusb_string_descriptor(Handle device, std::uint8_t index, std::uint8_t* reply,
                             std::uint32_t reply_size, std::uint32_t* returned);
bool ezusb_vendor_request(Handle device, std::uint8_t request, std::uint16_t value,
                          std::uint16_t index, std::uint8_t data);
bool ezusb_download(Handle device, const std::uint8_t* image, std::uint32_t size);
bool ezusb_bulk_write(Handle device, std::uint32_t pipe, const std::uint8_t* bytes,
                      std::uint32_t length, std::uint32_t* sent);
bool ezusb_bulk_read(Handle device, std::uint32_t pipe, std::uint8_t* bytes, std::uint32_t length,
                     std::uint32_t* received);
bool ezusb_cancel(Handle device);
// Closes every device and libusb itself; at unload.
void release_ezusb();

}  // namespace velnor::platform::host
