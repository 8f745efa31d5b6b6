#include "ezusb_firmware_image.h"

namespace velnor::bench {

#if __has_include("firmware/generated/usb_jtag_firmware.inc")
namespace {
constexpr std::uint8_t kImage[] = {
#include "firmware/generated/usb_jtag_firmware.inc"
};
static_assert(sizeof kImage == 8192, "the firmware image is a flat 8 KiB memory image");
}  // namespace

std::span<const std::uint8_t> usb_firmware_image() { return kImage; }
#else
std::span<const std::uint8_t> usb_firmware_image() { return {}; }
#endif

}  // namespace velnor::bench
