#include "ezusb_firmware_image.h"

namespace velnor::bench {
namespace {
constexpr std::uint8_t kImage[] = {
#include "firmware/generated/usb_jtag_firmware.inc"
};
static_assert(sizeof kImage == 8192, "the firmware image is a flat 8 KiB memory image");
}  // namespace

std::span<const std::uint8_t> usb_firmware_image() { return kImage; }

}  // namespace velnor::bench
