// A plain libusb-1.0 program for the usbdevfs harness tests: it opens the
// cable running our firmware (0x0547/0x2131) and sends pin bytes 0x86
// (TMS high, no TCK cycle, reply asked for) on endpoint 0x06, each answered
// by one reply
// byte on 0x82. As our library does it, the read is posted before the
// write: the firmware holds back the next packet until its replies to the
// last one are taken.
//
//   usbdevfs_probe pins    64 pin bytes, one packet; prints "64 replies 0xNN"
//                          when all 64 replies are that byte (bit 3: supply)
//   usbdevfs_probe stall   one pin byte whose reply never comes
//                          (usbfault=readstall): the read times out, is
//                          cancelled, and the buffer must hold its fill
//                          bytes then and 300 ms later; prints "timed out,
//                          buffer untouched"
//   usbdevfs_probe renumerate HEX
//                          the bare ULINK chip (0xC251/0x2710) is loaded
//                          with the Intel HEX image through request 0xA0
//                          and started; prints the hotplug events that
//                          follow ("left N", "arrived N", N the address)
//                          and the new device's manufacturer string
// The exit status is 0 when the exchange went as the mode expects.
#include <libusb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

void read_done(libusb_transfer* transfer) { *static_cast<int*>(transfer->user_data) = 1; }

int hotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event, void* events) {
  static_cast<std::vector<std::string>*>(events)->push_back(
      (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? "arrived " : "left ") +
      std::to_string(libusb_get_device_address(device)));
  return 0;
}

bool load(libusb_device_handle* chip, std::uint16_t address, unsigned char* bytes, int length) {
  return libusb_control_transfer(chip, 0x40 /* vendor, host to device */, 0xA0, address, 0, bytes,
                                 static_cast<std::uint16_t>(length), 1000) == length;
}

int renumerate(libusb_context* context, const char* image) {
  std::vector<std::string> events;
  if (libusb_hotplug_register_callback(
          context, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, 0,
          0xC251, 0x2710, LIBUSB_HOTPLUG_MATCH_ANY, hotplug, &events, nullptr) != 0) {
    std::printf("no hotplug\n");
    return 1;
  }
  libusb_device_handle* chip = libusb_open_device_with_vid_pid(context, 0xC251, 0x2710);
  unsigned char held = 1, run = 0;
  if (chip == nullptr || !load(chip, 0x7F92, &held, 1)) {
    std::printf("no chip\n");
    return 1;
  }
  // Data records ":LLAAAA00DD..CC", each loaded where it belongs.
  std::ifstream file(image);
  for (std::string line; std::getline(file, line);) {
    if (line.size() < 11 || line[0] != ':' || line.compare(7, 2, "00") != 0) continue;
    const int length = std::stoi(line.substr(1, 2), nullptr, 16);
    const auto address = static_cast<std::uint16_t>(std::stoi(line.substr(3, 4), nullptr, 16));
    std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
      bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(
          std::stoi(line.substr(9 + 2 * static_cast<std::size_t>(i), 2), nullptr, 16));
    }
    if (!load(chip, address, bytes.data(), length)) {
      std::printf("load failed\n");
      return 1;
    }
  }
  if (!load(chip, 0x7F92, &run, 1)) {
    std::printf("run failed\n");
    return 1;
  }
  libusb_close(chip);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (events.size() < 2 && std::chrono::steady_clock::now() < deadline) {
    timeval tick{0, 10000};
    libusb_handle_events_timeout_completed(context, &tick, nullptr);
  }
  for (const std::string& event : events) std::printf("%s\n", event.c_str());
  chip = libusb_open_device_with_vid_pid(context, 0xC251, 0x2710);
  unsigned char text[32] = {};
  if (chip == nullptr || libusb_get_string_descriptor_ascii(chip, 1, text, sizeof text) < 0) {
    std::printf("not back\n");
    return 1;
  }
  std::printf("manufacturer %s\n", reinterpret_cast<char*>(text));
  libusb_close(chip);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "renumerate") == 0) {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return 2;
    const int status = renumerate(context, argv[2]);
    libusb_exit(context);
    return status;
  }
  const bool stall = argc > 1 && std::strcmp(argv[1], "stall") == 0;
  const int count = stall ? 1 : 64;
  libusb_context* context = nullptr;
  if (libusb_init(&context) != 0) return 2;
  libusb_device_handle* cable = libusb_open_device_with_vid_pid(context, 0x0547, 0x2131);
  if (cable == nullptr || libusb_claim_interface(cable, 0) != 0) {
    std::printf("no cable\n");
    return 1;
  }
  std::array<unsigned char, 128> reply;
  reply.fill(0xEE);
  int done = 0;
  libusb_transfer* read = libusb_alloc_transfer(0);
  libusb_fill_bulk_transfer(read, cable, 0x82, reply.data(), count, read_done, &done,
                            stall ? 200 : 2000);
  std::array<unsigned char, 128> pins;
  pins.fill(0x86);
  int written = 0;
  if (libusb_submit_transfer(read) != 0 ||
      libusb_bulk_transfer(cable, 0x06, pins.data(), count, &written, 2000) != 0 ||
      written != count) {
    std::printf("write failed\n");
    return 1;
  }
  while (done == 0) libusb_handle_events_completed(context, &done);
  int status = 1;
  if (stall) {
    const auto untouched = [&] {
      return std::all_of(reply.begin(), reply.end(), [](unsigned char b) { return b == 0xEE; });
    };
    const bool before = untouched();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (read->status == LIBUSB_TRANSFER_TIMED_OUT && read->actual_length == 0 && before &&
        untouched()) {
      std::printf("timed out, buffer untouched\n");
      status = 0;
    } else {
      std::printf("read ended %d with %d bytes\n", read->status, read->actual_length);
    }
  } else if (read->status == LIBUSB_TRANSFER_COMPLETED && read->actual_length == count &&
             std::all_of(reply.begin(), reply.begin() + count,
                         [&](unsigned char b) { return b == reply[0]; })) {
    std::printf("%d replies 0x%02X\n", count, reply[0]);
    status = 0;
  } else {
    std::printf("read ended %d with %d bytes\n", read->status, read->actual_length);
  }
  libusb_free_transfer(read);
  libusb_release_interface(cable, 0);
  libusb_close(cable);
  libusb_exit(context);
  return status;
}
