// velnor-usb-run: runs a program with the virtual board's EZ-USB cables on
// an emulated Linux USB bus. Under umockdev's preload library the program
// (any program, with the real libusb-1.0) finds each cable in sysfs and as
// /dev/bus/usb/001/DDD, and every usbfs ioctl it makes there is answered by
// the bench's device model (usbfs_node.h): the bare chip enumerates with
// its core's descriptors, a firmware download renumerates it (the device
// leaves with a "remove" uevent and comes back under a new address with an
// "add" one), and bulk transfers move packets through the emulated 8051.
//
//   velnor-usb-run [--] PROGRAM [ARGUMENT...]
//
// Environment:
//   VELNOR_USB_BENCH   the board (the VELNOR_BENCH descriptions; default
//                      board when unset). time=real is added unless given:
//                      the program's sleeps are real, and a renumerating
//                      firmware runs while the program waits for it.
//   VELNOR_USB_COUNTS  a file that receives, at exit, each cable's counters
//                      (8051 machine cycles, transfers, packets, frames),
//                      the chain's TCK cycles and the usbfs requests.
//   VELNOR_USB_TRACE   a file that receives, at exit, every transfer the
//                      cables saw, one line each ("unit N: " and the
//                      bench's transfer text), as the Windows driver's
//                      requests show them with trace=on.
// The exit status is the program's (128 + signal when it was killed); 2
// when the board description is wrong or the program cannot start. The
// bench's violations go to stderr at exit, one line each.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/board.h"
#include "usbfs_node.h"

namespace {

using velnor::bench::Board;
using velnor::bench::EzUsbDevice;
using velnor::bench::UsbfsNode;
using Clock = std::chrono::steady_clock;

// A departure reaches the host through the hub's port-status report, some
// milliseconds after the device left: a program that releases its
// interface right after starting the firmware still finds the old device.
constexpr auto kDepartureNoticed = std::chrono::milliseconds(20);
constexpr auto kHubPollInterval = std::chrono::milliseconds(2);
constexpr std::string_view kUmockdevPreload = "libumockdev-preload.so.0";

// The bus the cables hang on: bus 1, one hub port per cable in unit order.
class Bus {
 public:
  Bus(UMockdevTestbed* testbed, Board& board) : testbed_(testbed) {
    for (unsigned unit = 0, port = 1; unit < 10000 && board.usb().has_devices(); ++unit) {
      if (EzUsbDevice* device = board.usb_device(unit))
        ports_.push_back(Port{device, port++, {}, {}, {}, nullptr, {}});
    }
  }

  // Shows the host what changed on each port since the last look.
  bool poll() {
    for (Port& port : ports_) {
      const std::optional<std::uint64_t> instance = port.device->attached_instance();
      if (port.shown && instance != port.shown) {
        const Clock::time_point now = Clock::now();
        if (!port.left_at) port.left_at = now;
        if (now - *port.left_at < kDepartureNoticed) continue;
        // The "remove" uevent while its sysfs entry still describes it.
        umockdev_testbed_uevent(testbed_, port.syspath.c_str(), "remove");
        port.node->disconnect();
        umockdev_testbed_remove_device(testbed_, port.syspath.c_str());
        // The node goes with the device: opening it now fails, while a
        // descriptor still open on it keeps reaching the old attachment.
        std::remove(port.devnode.c_str());
        port.shown.reset();
        port.left_at.reset();
      }
      if (!port.shown && instance && !show(port, *instance)) return false;
    }
    return true;
  }

  std::map<std::string, std::uint64_t> request_counts() {
    std::map<std::string, std::uint64_t> total;
    for (const auto& node : nodes_) {
      for (const auto& [name, count] : node->request_counts()) total[name] += count;
    }
    return total;
  }

 private:
  struct Port {
    EzUsbDevice* device;
    unsigned number;
    std::optional<std::uint64_t> shown;  // the attachment the host sees
    std::string syspath;
    std::string devnode;  // its file in the testbed
    UsbfsNode* node = nullptr;
    std::optional<Clock::time_point> left_at;
  };

  // A new attachment gets the next free address, as the kernel gives one.
  bool show(Port& port, std::uint64_t instance) {
    const unsigned address = next_address_;
    next_address_ = next_address_ == 127 ? 2 : next_address_ + 1;
    char devnode[32];
    std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/001/%03u", address);
    nodes_.push_back(std::make_unique<UsbfsNode>(*port.device, instance));
    UsbfsNode* node = nodes_.back().get();
    GError* error = nullptr;
    // The handler first, so that the device is usable when the host sees it.
    if (!umockdev_testbed_attach_ioctl(testbed_, devnode, node->handler(), &error)) {
      std::fprintf(stderr, "velnor usb harness: %s: %s\n", devnode, error->message);
      g_clear_error(&error);
      return false;
    }
    const std::vector<std::uint8_t> descriptors = port.device->descriptors();
    std::string hex;
    char digits[3];
    for (const std::uint8_t byte : descriptors) {
      std::snprintf(digits, sizeof digits, "%02x", byte);
      hex += digits;
    }
    const unsigned vendor = descriptors[8] | descriptors[9] << 8;
    const unsigned product = descriptors[10] | descriptors[11] << 8;
    const unsigned release = descriptors[12] | descriptors[13] << 8;
    port.syspath = "/sys/devices/usb1/1-" + std::to_string(port.number);
    char text[1024];
    std::snprintf(text, sizeof text,
                  "P: /devices/usb1/1-%u\n"
                  "N: bus/usb/001/%03u\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: DRIVER=usb\n"
                  "E: BUSNUM=001\n"
                  "E: DEVNUM=%03u\n"
                  "E: DEVNAME=/dev/bus/usb/001/%03u\n"
                  "E: PRODUCT=%x/%x/%x\n"
                  "A: busnum=1\\n\n"
                  "A: devnum=%u\\n\n"
                  "A: speed=12\\n\n"
                  "A: bConfigurationValue=1\\n\n"
                  "A: idVendor=%04x\\n\n"
                  "A: idProduct=%04x\\n\n"
                  "H: descriptors=",
                  port.number, address, address, address, vendor, product, release, address, vendor,
                  product);
    // Adding it sends its "add" uevent.
    if (!umockdev_testbed_add_from_string(testbed_, (text + hex + "\n").c_str(), &error)) {
      std::fprintf(stderr, "velnor usb harness: cannot add the device: %s\n", error->message);
      g_clear_error(&error);
      return false;
    }
    port.shown = instance;
    port.node = node;
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    port.devnode = std::string(root) + devnode;
    g_free(root);
    return true;
  }

  UMockdevTestbed* testbed_;
  std::vector<Port> ports_;
  std::vector<std::unique_ptr<UsbfsNode>> nodes_;  // kept while a program may hold them open
  unsigned next_address_ = 2;                      // 1 is the root hub's
};

const char* environment_text(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// Writes a report file: a block per EZ-USB device of the board, by unit,
// then what `tail` adds.
template <typename PerDevice, typename Tail>
void write_report(const char* path, Board& board, PerDevice per_device, Tail tail) {
  std::FILE* file = std::fopen(path, "w");
  if (file == nullptr) {
    std::fprintf(stderr, "velnor usb harness: cannot write %s\n", path);
    return;
  }
  for (unsigned unit = 0; unit < 10000; ++unit) {
    if (EzUsbDevice* device = board.usb_device(unit)) per_device(file, unit, *device);
  }
  tail(file);
  std::fclose(file);
}

void write_trace(const char* path, Board& board) {
  write_report(
      path, board,
      [](std::FILE* file, unsigned unit, EzUsbDevice& device) {
        for (const velnor::bench::UsbTransfer& transfer : device.transfers()) {
          std::fprintf(file, "unit %u: %s\n", unit,
                       velnor::bench::usb_transfer_text(transfer).c_str());
        }
      },
      [](std::FILE*) {});
}

void write_counts(const char* path, Board& board, Bus& bus) {
  write_report(
      path, board,
      [](std::FILE* file, unsigned unit, EzUsbDevice& device) {
        const velnor::bench::UsbCounters c = device.counters();
        std::fprintf(file,
                     "unit %u machine_cycles %" PRIu64 " control_transfers %" PRIu64
                     " bulk_transfers %" PRIu64 " bulk_reads %" PRIu64 " packets_out %" PRIu64
                     " packets_in %" PRIu64 " frames_used %" PRIu64 "\n",
                     unit, c.machine_cycles, c.control_transfers, c.bulk_transfers, c.bulk_reads,
                     c.packets_out, c.packets_in, c.frames_used);
      },
      [&](std::FILE* file) {
        std::fprintf(file, "tck %" PRIu64 "\n", board.chain().cycle_count());
        for (const auto& [name, count] : bus.request_counts()) {
          std::fprintf(file, "usbfs %s %" PRIu64 "\n", name.c_str(), count);
        }
      });
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  if (first < argc && std::string_view(argv[first]) == "--") ++first;
  if (first >= argc) {
    std::fprintf(stderr, "usage: velnor-usb-run [--] PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  const char* preloaded = environment_text("LD_PRELOAD");
  if (preloaded == nullptr ||
      std::string_view(preloaded).find(kUmockdevPreload) == std::string_view::npos) {
    // umockdev sends uevents through libudev, which must see the testbed's
    // sysfs too: this process runs under the preload library as well as
    // the program (which inherits it). The sanitizers' runtime, when there
    // is one, comes before it.
    const std::string value =
        std::string(preloaded != nullptr ? preloaded : "") + " " + std::string(kUmockdevPreload);
    setenv("LD_PRELOAD", value.c_str(), 1);
    const char* asan = environment_text("ASAN_OPTIONS");
    const std::string options =
        std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "velnor usb harness: cannot run under umockdev's preload library\n");
    return 2;
  }
  const char* text = environment_text("VELNOR_USB_BENCH");
  const std::string description = velnor::bench::description_with_defaults(text, {"time=real"});
  std::string error;
  std::unique_ptr<Board> board = Board::parse(description, &error);
  if (!board) {
    std::fprintf(stderr, "velnor usb harness: bad board description: %s\n", error.c_str());
    return 2;
  }
  // A program that goes away while an answer is on its way is no reason to
  // end here.
  signal(SIGPIPE, SIG_IGN);

  UMockdevTestbed* testbed = umockdev_testbed_new();
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  // libusb looks for the usbfs folder even when no device is there.
  g_mkdir_with_parents((std::string(root) + "/dev/bus/usb").c_str(), 0755);
  g_free(root);

  const char* trace = environment_text("VELNOR_USB_TRACE");
  for (unsigned unit = 0; trace != nullptr && unit < 10000; ++unit) {
    if (EzUsbDevice* device = board->usb_device(unit)) device->set_logging(true);
  }

  int status = 2;
  {
    Bus bus(testbed, *board);
    if (bus.poll()) {
      std::atomic<bool> stop{false};
      std::thread hub([&] {
        while (!stop.load()) {
          bus.poll();
          std::this_thread::sleep_for(kHubPollInterval);
        }
      });
      const pid_t child = fork();
      if (child == 0) {
        // The program sees the testbed (UMOCKDEV_DIR is set) through the
        // preload library it inherits.
        execvp(argv[first], argv + first);
        std::fprintf(stderr, "velnor usb harness: cannot run %s\n", argv[first]);
        _exit(2);
      }
      int wait_status = 0;
      if (child > 0 && waitpid(child, &wait_status, 0) == child) {
        status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
      }
      stop.store(true);
      hub.join();
      if (const char* path = environment_text("VELNOR_USB_COUNTS")) {
        write_counts(path, *board, bus);
      }
      if (trace != nullptr) write_trace(trace, *board);
    }
    // The testbed's thread stops before the nodes it calls into go.
    g_object_unref(testbed);
  }
  for (const std::string& violation : board->violations()) {
    std::fprintf(stderr, "velnor usb harness: violation: %s\n", violation.c_str());
  }
  return status;
}
