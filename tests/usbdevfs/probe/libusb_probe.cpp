// A plain libusb-1.0 program for the usbdevfs harness tests: it opens the
// cable running our firmware (0x0547/0x2131), sends the pin byte that asks
// for the target supply on endpoint 0x06 and reads the reply on 0x82.
//
//   usbdevfs_probe power   prints "reply 0xNN" (bit 3: supply present)
//   usbdevfs_probe stall   the reply never comes (usbfault=readstall): the
//                          read times out, is cancelled, and the buffer must
//                          hold its fill bytes then and 300 ms later;
//                          prints "timed out, buffer untouched"
// The exit status is 0 when the exchange went as the mode expects.
#include <libusb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
  const bool stall = argc > 1 && std::strcmp(argv[1], "stall") == 0;
  libusb_context* context = nullptr;
  if (libusb_init(&context) != 0) return 2;
  libusb_device_handle* cable = libusb_open_device_with_vid_pid(context, 0x0547, 0x2131);
  if (cable == nullptr || libusb_claim_interface(cable, 0) != 0) {
    std::printf("no cable\n");
    return 1;
  }
  unsigned char query = 0x06;  // TCK high, TMS high: no cycle, just the reply
  int moved = 0;
  if (libusb_bulk_transfer(cable, 0x06, &query, 1, &moved, 1000) != 0 || moved != 1) {
    std::printf("write failed\n");
    return 1;
  }
  std::array<unsigned char, 64> reply;
  reply.fill(0xEE);
  const int result =
      libusb_bulk_transfer(cable, 0x82, reply.data(), reply.size(), &moved, stall ? 200 : 1000);
  int status = 1;
  if (stall) {
    const auto untouched = [&] {
      return std::all_of(reply.begin(), reply.end(), [](unsigned char b) { return b == 0xEE; });
    };
    const bool before = untouched();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (result == LIBUSB_ERROR_TIMEOUT && moved == 0 && before && untouched()) {
      std::printf("timed out, buffer untouched\n");
      status = 0;
    } else {
      std::printf("read ended %d with %d bytes\n", result, moved);
    }
  } else if (result == 0 && moved == 1) {
    std::printf("reply 0x%02X\n", reply[0]);
    status = 0;
  } else {
    std::printf("read ended %d with %d bytes\n", result, moved);
  }
  libusb_release_interface(cable, 0);
  libusb_close(cable);
  libusb_exit(context);
  return status;
}
