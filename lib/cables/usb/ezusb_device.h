// The EZ-USB device behind the USB cable: finding the device, downloading
// the firmware when it does not run ours yet, waiting for it to come back
// with our descriptors, and the reader thread that performs every bulk read
// while the caller's thread writes.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace velnor {

// The 8051 memory image of the cable's firmware, built from firmware/.
extern const std::uint8_t usb_firmware_image[];

struct EzUsbDevice {
  platform::Handle write_handle = platform::NO_HANDLE;
  platform::Handle read_handle = platform::NO_HANDLE;
  platform::Handle request_event = platform::NO_HANDLE;
  platform::Handle idle_event = platform::NO_HANDLE;
  platform::Handle reader = platform::NO_HANDLE;
  // Handed between the caller and the reader thread; the events order the
  // hand-over, the atomics keep a timed-out wait's look at them defined.
  std::atomic<std::uint8_t*> read_pointer{nullptr};
  std::atomic<std::int32_t> read_remaining{0};
  std::atomic<std::uint32_t> read_pipe{0};
};

// 0 when unit's device runs the firmware whose manufacturer and product
// strings are given and the reader thread is started; -1 when no usable
// device was found (every handle closed again). Prints the progress marks
// "-Boot", "-Wait", "-Reconnect" and "." without line ends.
int open_ezusb(EzUsbDevice& ezusb, std::uint32_t unit, const std::uint8_t* image,
               const char* manufacturer, const char* product);
// Stops the reader thread and releases both handles and the events.
void close_ezusb(EzUsbDevice& ezusb);

// Sends length bytes on an OUT pipe in pieces of at most 32768 bytes.
// 0 when all were sent, -1 at the first failure, and at once once a read has
// failed (the cable is unusable until it is opened again).
int bulk_write(EzUsbDevice& ezusb, std::uint32_t pipe, const std::uint8_t* bytes,
               std::uint32_t length);
// Hands the reader thread a read of length bytes from an IN pipe into
// buffer. Declined (silently) while an earlier read failed or is unfinished.
void post_read(EzUsbDevice& ezusb, std::uint32_t pipe, std::uint8_t* buffer, std::int32_t length);
// Waits up to 5 s for the posted read. 0 when every byte arrived, -1 when the
// read failed. A read still incomplete after the wait is cancelled, so no
// late reply can reach the caller's buffer once this returns; that read
// counts as failed.
std::int32_t wait_read(EzUsbDevice& ezusb);

}  // namespace velnor
