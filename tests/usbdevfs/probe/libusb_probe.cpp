// A plain libusb-1.0 program for the usbdevfs harness tests: it opens the
// cable running our firmware (0x0547/0x2131) and sends pin bytes 0x06
// (TMS high, no TCK cycle) on endpoint 0x06, each answered by one reply
// byte on 0x82. As our library does it, the read is posted before the
// write: the firmware holds back the next packet until its replies to the
// last one are taken.
//
//   usbdevfs_probe pins    100 pin bytes; prints "100 replies 0xNN" when all
//                          100 replies are that byte (bit 3: supply present)
//   usbdevfs_probe stall   one pin byte whose reply never comes
//                          (usbfault=readstall): the read times out, is
//                          cancelled, and the buffer must hold its fill
//                          bytes then and 300 ms later; prints "timed out,
//                          buffer untouched"
// The exit status is 0 when the exchange went as the mode expects.
#include <libusb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

void read_done(libusb_transfer* transfer) { *static_cast<int*>(transfer->user_data) = 1; }

}  // namespace

int main(int argc, char** argv) {
  const bool stall = argc > 1 && std::strcmp(argv[1], "stall") == 0;
  const int count = stall ? 1 : 100;
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
  pins.fill(0x06);
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
