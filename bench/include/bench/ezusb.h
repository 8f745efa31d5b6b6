// The USB cable as the host sees it: an EZ-USB AN2131 on the bus (its
// presence, renumeration and enumeration, control and bulk transfers, USB
// frames) and the general-purpose EZ-USB driver that names it
// "\\.\ezusb-N" and serves the library's device requests.
//
// Time: a bulk packet takes its time on the wire (about 53 µs for 64 bytes)
// before the endpoint or the host has it, one packet on the bus at a time
// and at most 19 full ones in a 1 ms frame (a transaction that would run
// past the frame's end waits for the next). The host controller works as a
// full-speed one (UHCI, OHCI) does:
//   - it sends a transfer's packets back to back; an endpoint with no buffer
//     armed at the OUT token NAKs the packet after its data, so the refused
//     packet has used its slot, and the host sends it again in the next one;
//   - it polls every bulk IN pipe (as a host with a read always posted
//     does); an armed IN endpoint answers in the next free slot, and the
//     host's ACK at the slot's end hands the buffer back to the 8051;
//   - it reports a transfer complete at the end of the frame its last packet
//     went in (an OHCI writes its done queue back and interrupts only at the
//     next SOF; a UHCI's interrupt on completion comes at the frame's end),
//     so the next transfer starts no earlier than the next frame.
// The 8051 runs against the board's virtual clock, one machine cycle
// (4 clocks at 24 MHz) being 1/6 µs, but only while the host waits for the
// device — during a transfer, a control request, or while the device is off
// the bus renumerating. A firmware that has gone quiet (no port write, no
// endpoint handshake for kQuietCycles) is idle: its poll loop is not
// charged to the clock and is not executed while nobody waits.
//
// Threads: any number of host threads may use one device; one mutex guards
// the chip and every pending transfer, and whichever waiting thread holds
// it runs the 8051 and moves packets for all pending transfers, so a reader
// and a writer on two handles make progress together.
//
// Determinism: the same host requests give the same machine cycles, times
// and trace however the host's threads are scheduled. The host controller
// polls every bulk IN pipe as a host with a read always posted does (the
// library's reader thread), keeping the packets until a read collects
// them, so when a reader thread gets to the device changes nothing the
// 8051 sees; and every request returns with the firmware idle again. So on
// the bench a host's next transfer never finds packets of an earlier one
// still in the chip's buffers: what keeps the order across the pipes on a
// real chip (protocol.h) is not put to the test here.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bench/an2131.h"
#include "bench/chain.h"
#include "bench/clock.h"

namespace velnor::bench {

using Handle = std::uintptr_t;

// Faults a unit can be given (board key usbfault).
struct UsbFaults {
  bool never_returns = false;  // stays off the bus after its firmware starts
  bool halt_fails = false;     // vendor request 0xA0 CPUCS=1 fails
  bool download_fails = false;
  bool run_fails = false;                  // vendor request 0xA0 CPUCS=0 fails
  std::uint64_t read_fails_at = 0;         // the N-th bulk read fails (0: none)
  std::uint64_t unplug_after_packets = 0;  // unplugged after N bulk packets (0: never)
  bool reads_stall = false;                // IN data is held back: bulk reads never complete
  // The host takes this long to enumerate the device after it reconnects
  // (0: kEnumerationDelayNs), as a slow hub or a busy driver stack would.
  std::uint64_t enumeration_delay_ms = 0;
};

// What a unit is: its pin wiring, and the identity its bare chip answers
// with (the vendor and product its boot EEPROM gives the core), which is
// also the identity the host's driver binds to after renumeration.
struct UsbCableKind {
  An2131::Wiring wiring = An2131::Wiring::Velnor;
  std::uint16_t vendor = 0x0547;
  std::uint16_t product = 0x2131;
};

// One endpoint of the configuration, in the driver's pipe order.
struct UsbPipe {
  std::uint8_t address = 0;     // bit 7: IN
  std::uint8_t attributes = 0;  // 2 bulk, 3 interrupt
  std::uint16_t max_packet = 0;
};

// One transfer, as the bus saw it (kept while the board's trace is on).
struct UsbTransfer {
  enum class Kind : std::uint8_t { Control, BulkOut, BulkIn };
  Kind kind;
  std::uint32_t pipe = 0;     // bulk: the driver's pipe number
  std::uint8_t endpoint = 0;  // bulk: endpoint address; control: bRequest
  std::uint32_t length = 0;   // bytes moved
  bool ok = false;
  std::vector<std::uint8_t> data;  // the bytes moved, or a control request's data stage
};

// One line for a transfer, e.g. "bulk out pipe 3 endpoint 0x06 length 1
// ok 06" or "control request 0xA0 length 64 ok ..." (the data in hex).
std::string usb_transfer_text(const UsbTransfer& transfer);

struct UsbCounters {
  std::uint64_t machine_cycles = 0;  // 8051 machine cycles executed
  // Of them, the poll loop of a firmware found idle: not charged to the clock.
  std::uint64_t idle_cycles = 0;
  std::uint64_t control_transfers = 0;
  std::uint64_t bulk_transfers = 0;  // bulk requests completed
  std::uint64_t bulk_reads = 0;      // of them reads: the host's round trips
  std::uint64_t packets_out = 0;
  std::uint64_t packets_in = 0;
  std::uint64_t packets_refused = 0;  // OUT packets NAKed, to be sent again
  std::uint64_t frames_used = 0;      // 1 ms frames that carried a bulk packet
};

class EzUsbDevice {
 public:
  // A full-speed host schedules at most this many 64-byte bulk packets of
  // one device in a 1 ms frame.
  static constexpr unsigned kPacketsPerFrame = 19;
  // Such a packet with its token, handshake and gaps: 64 + 13 bytes on the
  // wire, 19 of them filling a frame (about 53 µs each).
  static constexpr std::uint64_t kPacketWireBytes = 77;
  static constexpr std::uint64_t kPacketOverheadBytes = kPacketWireBytes - 64;
  // From the firmware's reconnect to the driver's device showing up: attach
  // debounce (100 ms), bus reset, enumeration and driver start.
  static constexpr std::uint64_t kEnumerationDelayNs = 300'000'000;
  // Quiet this long (500 µs) and the firmware is idle.
  static constexpr std::uint64_t kQuietCycles = 3000;
  // A standard request's data stage must be done within 500 ms; the
  // driver's own control requests time out after 5 s.
  static constexpr std::uint64_t kEnumerationTimeoutNs = 500'000'000;
  static constexpr std::uint64_t kDriverTimeoutNs = 5'000'000'000;

  EzUsbDevice(unsigned unit, Chain& chain, VirtualClock& clock, An2131::ViolationSink violation,
              UsbFaults faults, UsbCableKind kind = {});
  EzUsbDevice(const EzUsbDevice&) = delete;
  EzUsbDevice& operator=(const EzUsbDevice&) = delete;

  unsigned unit() const;
  // The unit already runs a firmware when the host first looks: the image's
  // first 4096 bytes were downloaded and started before time 0, and it has
  // renumerated. False (with a violation) when it fails to enumerate.
  bool start_running(std::span<const std::uint8_t> image);

  // Host side; every call is thread-safe. A device instance is one
  // attachment to the bus: it ends when the device leaves, and handles
  // opened on it fail from then on.
  std::optional<std::uint64_t> attached_instance();
  bool vendor_request(std::uint64_t instance, const UsbSetup& setup, std::uint8_t* data);
  // Any control transfer, as a host stack without the driver's request
  // set issues it: 0xA0 firmware loads (CPUCS and RAM, any length) go to
  // the core, everything else to the core's default device or, with RENUM
  // set, to the firmware. data holds the OUT data stage or receives the IN
  // one; *moved is the data stage's length.
  bool control_transfer(std::uint64_t instance, const UsbSetup& setup, std::span<std::uint8_t> data,
                        std::uint32_t* moved);
  // The device and configuration descriptors the host read when it
  // enumerated the attachment (the kernel's copy a sysfs "descriptors"
  // file shows).
  std::vector<std::uint8_t> descriptors();
  bool download(std::uint64_t instance, std::span<const std::uint8_t> bytes);
  bool get_descriptor(std::uint64_t instance, std::uint16_t value, std::uint16_t index,
                      std::span<std::uint8_t> out, std::uint32_t* received);
  bool bulk_write(std::uint64_t instance, Handle handle, std::uint32_t pipe,
                  std::span<const std::uint8_t> data, std::uint32_t* sent);
  bool bulk_read(std::uint64_t instance, Handle handle, std::uint32_t pipe,
                 std::span<std::uint8_t> buffer, std::uint32_t* received);
  // Aborts the handle's pending transfers; false when there was none.
  bool cancel(Handle handle);
  // Runs the firmware until it is idle (tests: after a write, to see its
  // effect on the chain before reading the pins).
  void settle();

  // For tests; valid while no host thread uses the device.
  An2131& chip();
  std::vector<UsbPipe> pipes();
  UsbCounters counters();
  void set_logging(bool on);
  std::vector<UsbTransfer> transfers();

 private:
  // Away: off the bus (renumerating); Gone: unplugged, or never back.
  enum class Bus { Attached, Away, AttachPending, Gone };
  // A transaction's time on the wire.
  struct Slot {
    std::uint64_t start;
    std::uint64_t end;
  };
  struct Pending {
    Handle handle;
    std::uint64_t instance;
    std::uint32_t pipe;
    bool in;
    std::span<const std::uint8_t> source{};  // OUT
    std::vector<std::uint8_t> received{};    // IN, handed over on success only
    std::size_t length;
    std::size_t done_bytes = 0;
    bool finished = false;
    bool ok = false;
    // OUT: when the host can start its next packet (or send a refused one
    // again), and that packet's slot on the wire while it is there; decided
    // at its token, whether the endpoint takes it or NAKs it.
    std::uint64_t ready_ns = 0;
    std::optional<Slot> attempt{};
    bool decided = false;
    bool accepted = false;
    // When the host controller reports the transfer done: the end of the
    // frame of its last packet.
    std::optional<std::uint64_t> complete_ns{};
  };
  // An IN packet the host controller took, and when it reached the host.
  struct InPacket {
    std::vector<std::uint8_t> bytes;
    std::uint64_t ns;
  };
  using Lock = std::unique_lock<std::mutex>;
  static constexpr std::uint8_t kBulk = 2;

  Lock enter();
  std::uint64_t chip_cycles() const;
  std::uint64_t device_ns() const;
  void skip_to(std::uint64_t ns);
  void sync_clock();
  void sync_clock_to(std::uint64_t ns);
  void on_activity();
  void wake();
  bool can_run() const;
  void run_slice(Lock& lock);
  void observe_bus();
  void catch_up(Lock& lock);
  void enumerate(Lock& lock);
  bool control(Lock& lock, const UsbSetup& setup, std::vector<std::uint8_t>* data,
               std::uint64_t timeout_ns);
  bool core_control(const UsbSetup& setup, std::vector<std::uint8_t>* data);
  // Request 0xA0 writing CPUCS or RAM: false when it fails or is refused.
  bool firmware_load(const UsbSetup& setup, std::span<const std::uint8_t> data);
  bool transfer(Lock& lock, Pending& pending);
  void settle_locked(Lock& lock);
  void service();
  // The next time something happens on the bus for a pending transfer.
  std::optional<std::uint64_t> next_event_ns() const;
  // The OUT endpoint of pending takes a packet, or answers it at once with
  // an error.
  bool out_ready(const Pending& pending) const;
  void poll_in_pipes();
  void deliver(Pending& pending);
  void advance_out(Pending& pending);
  void count_packet();
  // The first free slot on the wire from ready_ns for a packet of bytes,
  // within a frame's bulk share; taken.
  Slot claim_slot(std::uint64_t ready_ns, std::size_t bytes);
  static std::uint64_t frame_end(std::uint64_t ns);
  void finish(Pending& pending, bool ok, std::uint64_t at_ns);
  void detach();
  void log(UsbTransfer entry);
  bool usable(std::uint64_t instance) const;

  const unsigned unit_;
  VirtualClock& clock_;
  An2131::ViolationSink violation_;
  const UsbFaults faults_;
  const UsbCableKind kind_;
  An2131 chip_;
  std::vector<std::uint8_t> core_device_descriptor_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<int> entering_{0};

  Bus bus_ = Bus::Attached;
  std::uint64_t instance_ = 1;
  bool seen_off_bus_ = false;
  std::uint64_t attach_at_ns_ = 0;
  std::vector<UsbPipe> pipes_;
  std::vector<std::uint8_t> descriptors_;
  std::list<Pending*> pending_;
  // Per IN pipe, the packets taken but not yet read, and the one on the
  // wire.
  std::map<std::uint32_t, std::deque<InPacket>> in_queue_;
  std::map<std::uint32_t, Slot> in_flight_;

  // Device time: the clock reading at epoch_cycles_ of the 8051.
  std::uint64_t epoch_ns_ = 0;
  std::uint64_t epoch_cycles_ = 0;
  std::uint64_t last_activity_cycles_ = 0;
  bool charge_clock_ = true;
  bool idle_ = true;
  bool in_control_ = false;
  bool finished_any_ = false;
  std::uint64_t sof_frame_ = 0;
  std::uint64_t frame_ = 0;
  unsigned frame_packets_ = 0;
  std::uint64_t bus_free_ns_ = 0;
  std::uint64_t bulk_reads_ = 0;

  UsbCounters counters_;
  bool logging_ = false;
  std::vector<UsbTransfer> log_;
};

// The general-purpose driver: handles on "\\.\ezusb-N" (the name matched
// without regard to case, several handles per device) and its requests.
class EzUsbDriver {
 public:
  static constexpr std::uint32_t kGetStringDescriptor = 0x222044;
  static constexpr std::uint32_t kVendorRequest = 0x222014;
  static constexpr std::uint32_t kDownload = 0x22201C;
  static constexpr std::uint32_t kBulkWrite = 0x222051;
  static constexpr std::uint32_t kBulkRead = 0x22204E;
  // Handles of this driver live in their own range, apart from the
  // Windows model's.
  static constexpr Handle kFirstHandle = 0x10000;

  void add(std::unique_ptr<EzUsbDevice> device);
  EzUsbDevice* device(unsigned unit);
  bool has_devices() const;

  // 0 when the name is not an EZ-USB device, the device is off the bus, or
  // the sharing of an open handle forbids it.
  Handle open(const char* name, std::uint32_t access, std::uint32_t share_mode);
  bool owns(Handle handle);
  void close(Handle handle);
  bool control(Handle handle, std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
               std::uint32_t out_size, std::uint32_t* returned);
  bool cancel(Handle handle);
  std::size_t open_handle_count();

 private:
  struct OpenHandle {
    EzUsbDevice* device;
    std::uint64_t instance;
    std::uint32_t access;
    std::uint32_t share_mode;
  };
  std::optional<OpenHandle> lookup(Handle handle);

  std::vector<std::unique_ptr<EzUsbDevice>> devices_;
  std::mutex mutex_;
  std::map<Handle, OpenHandle> handles_;
  Handle next_handle_ = kFirstHandle;
};

}  // namespace velnor::bench
