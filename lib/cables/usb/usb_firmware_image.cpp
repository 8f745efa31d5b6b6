// The cable's firmware as the library carries it: the image built from
// firmware/ by SDCC, committed so that the library builds without SDCC.
#include <cstdint>

#include "cables/usb/ezusb_device.h"
#include "protocol.h"

namespace velnor {

const std::uint8_t usb_firmware_image[USB_JTAG_IMAGE_SIZE] = {
#include "generated/usb_jtag_firmware.inc"
};

}  // namespace velnor
