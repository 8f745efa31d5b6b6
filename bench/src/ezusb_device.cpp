#include <algorithm>
#include <cstdio>
#include <thread>
#include <utility>

#include "bench/ezusb.h"
#include "ezusb_descriptors.h"

namespace velnor::bench {

namespace {

// The 8051 runs in slices this long (16 µs) between looks at the bus.
constexpr std::uint64_t kSliceCycles = 96;
constexpr std::uint64_t kFrameNs = 1'000'000;
// A standard request without a data stage must be done within 50 ms.
constexpr std::uint64_t kNoDataTimeoutNs = 50'000'000;
// The driver writes RAM in 64-byte control transfers, one per frame.
constexpr std::uint64_t kDownloadChunk = 64;
// Booting a unit that runs its firmware before the host looks may take
// this long before it counts as failed.
constexpr std::uint64_t kBootLimitNs = 5'000'000'000;

// A full packet's slot on the wire.
constexpr std::uint64_t kFullSlotNs = kFrameNs / EzUsbDevice::kPacketsPerFrame;

std::uint64_t cycles_to_ns(std::uint64_t cycles) { return cycles * 1000 / 6; }

}  // namespace

EzUsbDevice::EzUsbDevice(unsigned unit, Chain& chain, VirtualClock& clock,
                         An2131::ViolationSink violation, UsbFaults faults, UsbCableKind kind)
    : unit_(unit),
      clock_(clock),
      violation_(std::move(violation)),
      faults_(faults),
      kind_(kind),
      chip_(chain, violation_, kind.wiring),
      core_device_descriptor_(usb::core_device_descriptor(kind.vendor, kind.product)) {
  chip_.set_activity_handler([this] { on_activity(); });
  epoch_ns_ = clock_.now_ns();
  const auto configuration = usb::core_configuration_descriptor();
  descriptors_ = core_device_descriptor_;
  descriptors_.insert(descriptors_.end(), configuration.begin(), configuration.end());
}

unsigned EzUsbDevice::unit() const { return unit_; }

EzUsbDevice::Lock EzUsbDevice::enter() {
  // Announced, so that a thread running the 8051 lets this one in between
  // slices instead of keeping the lock to itself.
  entering_.fetch_add(1);
  Lock lock(mutex_);
  entering_.fetch_sub(1);
  return lock;
}

std::uint64_t EzUsbDevice::device_ns() const {
  return epoch_ns_ + cycles_to_ns(chip_cycles() - epoch_cycles_);
}

std::uint64_t EzUsbDevice::chip_cycles() const { return chip_.cycles(); }

void EzUsbDevice::skip_to(std::uint64_t ns) {
  epoch_ns_ = ns;
  epoch_cycles_ = chip_cycles();
}

void EzUsbDevice::sync_clock() { sync_clock_to(device_ns()); }

void EzUsbDevice::sync_clock_to(std::uint64_t ns) {
  if (!charge_clock_) return;
  const std::uint64_t now = clock_.now_ns();
  if (ns > now) clock_.advance_ns(ns - now);
}

void EzUsbDevice::on_activity() {
  last_activity_cycles_ = chip_cycles();
  // What the firmware does is seen at its own time: a pin change reaches
  // the chain with the clock there.
  sync_clock();
}

void EzUsbDevice::wake() {
  idle_ = false;
  last_activity_cycles_ = chip_cycles();
  changed_.notify_all();
}

bool EzUsbDevice::can_run() const {
  return !chip_.cpu_held() && !chip_.crashed() && bus_ != Bus::Gone;
}

void EzUsbDevice::run_slice(Lock& lock) {
  // Up to the bus's next event, so that the host side sees the endpoints at
  // its own moments.
  std::uint64_t cycles = kSliceCycles;
  if (const std::optional<std::uint64_t> next = next_event_ns(); next && *next > device_ns()) {
    cycles = std::clamp<std::uint64_t>((*next - device_ns()) * 6 / 1000, 1, kSliceCycles);
  }
  counters_.machine_cycles += chip_.run(cycles);
  const std::uint64_t frame = device_ns() / kFrameNs;
  if (frame > sof_frame_ && bus_ != Bus::Away && bus_ != Bus::Gone) {
    sof_frame_ = frame;
    chip_.start_of_frame(static_cast<std::uint16_t>(frame));
  }
  observe_bus();
  service();
  // A firmware quiet for a while on an attached bus, with no control
  // request waiting for it, is in its poll loop: the loop's time is not
  // charged, and it is not run again until the host brings something.
  const std::uint64_t last_busy = std::max(last_activity_cycles_, chip_.last_port_write());
  if (bus_ == Bus::Attached && !in_control_ && chip_cycles() - last_busy >= kQuietCycles) {
    idle_ = true;
    counters_.idle_cycles += chip_cycles() - std::max(last_busy, epoch_cycles_);
    epoch_ns_ = epoch_ns_ + cycles_to_ns(last_busy - epoch_cycles_);
    epoch_cycles_ = chip_cycles();
    changed_.notify_all();
  }
  if (finished_any_ || entering_.load() > 0) {
    finished_any_ = false;
    changed_.notify_all();
    lock.unlock();
    std::this_thread::yield();
    lock.lock();
  }
}

void EzUsbDevice::observe_bus() {
  const bool off = chip_.off_bus();
  switch (bus_) {
    case Bus::Attached:
      if (off) {
        detach();
        bus_ = Bus::Away;
        seen_off_bus_ = true;
      }
      return;
    case Bus::Away:
      if (off) {
        seen_off_bus_ = true;
      } else if (seen_off_bus_) {
        seen_off_bus_ = false;
        if (faults_.never_returns) {
          bus_ = Bus::Gone;
        } else {
          bus_ = Bus::AttachPending;
          attach_at_ns_ = device_ns() + (faults_.enumeration_delay_ms != 0
                                             ? faults_.enumeration_delay_ms * 1'000'000
                                             : kEnumerationDelayNs);
        }
      }
      return;
    case Bus::AttachPending:
      if (off) {
        bus_ = Bus::Away;
        seen_off_bus_ = true;
      }
      return;
    case Bus::Gone:
      return;
  }
}

void EzUsbDevice::catch_up(Lock& lock) {
  // Up to the host's time as it came in: a clock that runs by itself (real
  // time) would never be caught.
  const std::uint64_t now = clock_.now_ns();
  for (;;) {
    if (bus_ == Bus::AttachPending && device_ns() >= attach_at_ns_) {
      enumerate(lock);
      continue;
    }
    std::uint64_t target = now;
    if (device_ns() >= target) return;
    if (bus_ == Bus::AttachPending) target = std::min(target, attach_at_ns_);
    if (!can_run() || (bus_ == Bus::Attached && idle_)) {
      skip_to(target);
      continue;
    }
    run_slice(lock);
  }
}

void EzUsbDevice::enumerate(Lock& lock) {
  const auto fail = [&](const std::string& why) {
    if (bus_ == Bus::AttachPending) {
      violation_("EZ-USB unit " + std::to_string(unit_) + " failed enumeration: " + why);
      // It stays off the driver's list until it renumerates again.
      bus_ = Bus::Away;
      seen_off_bus_ = false;
    }
  };
  chip_.host_bus_reset();
  std::vector<std::uint8_t> device;
  if (!control(lock, UsbSetup{0x80, usb::kGetDescriptor, 0x0100, 0, 64}, &device,
               kEnumerationTimeoutNs) ||
      device.size() < 8) {
    fail("no answer to GET_DESCRIPTOR(device)");
    return;
  }
  control(lock, UsbSetup{0x00, usb::kSetAddress, static_cast<std::uint16_t>(unit_ + 1), 0, 0},
          nullptr, kNoDataTimeoutNs);
  std::string why;
  if (!control(lock, UsbSetup{0x80, usb::kGetDescriptor, 0x0100, 0, 18}, &device,
               kEnumerationTimeoutNs)) {
    fail("no answer to GET_DESCRIPTOR(device)");
    return;
  }
  if (!usb::check_device_descriptor(device, kind_.vendor, kind_.product, &why)) return fail(why);
  std::vector<std::uint8_t> configuration;
  if (!control(lock, UsbSetup{0x80, usb::kGetDescriptor, 0x0200, 0, 9}, &configuration,
               kEnumerationTimeoutNs) ||
      configuration.size() != 9) {
    fail("no 9-byte answer to GET_DESCRIPTOR(configuration)");
    return;
  }
  const std::uint16_t total = static_cast<std::uint16_t>(configuration[2] | configuration[3] << 8);
  if (!control(lock, UsbSetup{0x80, usb::kGetDescriptor, 0x0200, 0, total}, &configuration,
               kEnumerationTimeoutNs)) {
    fail("no answer to GET_DESCRIPTOR(configuration) for " + std::to_string(total) + " bytes");
    return;
  }
  std::vector<UsbPipe> pipes;
  if (!usb::parse_configuration(configuration, chip_.in_valid(), chip_.out_valid(), &pipes, &why)) {
    return fail(why);
  }
  if (!control(lock, UsbSetup{0x00, usb::kSetConfiguration, 1, 0, 0}, nullptr, kNoDataTimeoutNs)) {
    fail("SET_CONFIGURATION(1) not completed");
    return;
  }
  if (bus_ != Bus::AttachPending) return;
  bus_ = Bus::Attached;
  ++instance_;
  pipes_ = std::move(pipes);
  descriptors_ = std::move(device);
  descriptors_.insert(descriptors_.end(), configuration.begin(), configuration.end());
  wake();
}

bool EzUsbDevice::core_control(const UsbSetup& setup, std::vector<std::uint8_t>* data) {
  if (setup.request_type == 0x80 && setup.request == usb::kGetDescriptor) {
    std::span<const std::uint8_t> descriptor;
    switch (setup.value >> 8) {
      case usb::kDeviceDescriptor:
        descriptor = core_device_descriptor_;
        break;
      case usb::kConfigurationDescriptor:
        descriptor = usb::core_configuration_descriptor();
        break;
      default:
        return false;  // the bare core has no strings: it stalls
    }
    if (data != nullptr) {
      const std::size_t length = std::min<std::size_t>(descriptor.size(), setup.length);
      data->assign(descriptor.begin(), descriptor.begin() + static_cast<std::ptrdiff_t>(length));
    }
    return true;
  }
  return setup.request_type == 0x00 &&
         (setup.request == usb::kSetAddress || setup.request == usb::kSetConfiguration);
}

bool EzUsbDevice::control(Lock& lock, const UsbSetup& setup, std::vector<std::uint8_t>* data,
                          std::uint64_t timeout_ns) {
  ++counters_.control_transfers;
  std::vector<std::uint8_t> scratch;
  if (data == nullptr) data = &scratch;
  data->clear();
  bool ok = false;
  if (!chip_.renum() || (setup.request_type == 0x00 && setup.request == usb::kSetAddress)) {
    ok = core_control(setup, data);
  } else {
    in_control_ = true;
    chip_.host_setup(setup);
    wake();
    const std::uint64_t deadline = device_ns() + timeout_ns;
    bool data_done = setup.length == 0 || (setup.request_type & 0x80) == 0;
    for (;;) {
      An2131::Ep0Data chunk;
      while (!data_done && chip_.ep0_take_in(&chunk)) {
        const std::size_t room = setup.length - data->size();
        data->insert(
            data->end(), chunk.bytes.begin(),
            chunk.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, chunk.bytes.size())));
        data_done = chunk.last || data->size() >= setup.length;
      }
      if (chip_.ep0_stalled() || bus_ == Bus::Away || bus_ == Bus::Gone) break;
      if (data_done && chip_.ep0_handshake_done()) {
        ok = true;
        break;
      }
      if (device_ns() >= deadline) break;
      if (!can_run()) {
        skip_to(deadline);
        continue;
      }
      run_slice(lock);
    }
    in_control_ = false;
    sync_clock();
  }
  log(UsbTransfer{UsbTransfer::Kind::Control, 0, setup.request,
                  static_cast<std::uint32_t>(data->size()), ok, *data});
  return ok;
}

bool EzUsbDevice::start_running(std::span<const std::uint8_t> image) {
  Lock lock = enter();
  charge_clock_ = false;
  const std::size_t size = std::min<std::size_t>(image.size(), 4096);
  std::copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(size), chip_.ram().begin());
  chip_.set_cpu_held(false);
  detach();
  bus_ = Bus::Away;
  seen_off_bus_ = false;
  wake();
  const std::uint64_t limit = device_ns() + kBootLimitNs;
  while (bus_ != Bus::Attached && bus_ != Bus::Gone && can_run() && device_ns() < limit) {
    if (bus_ == Bus::AttachPending && device_ns() >= attach_at_ns_) {
      enumerate(lock);
    } else {
      run_slice(lock);
    }
  }
  // The host's time starts now, with the unit up.
  skip_to(clock_.now_ns());
  sof_frame_ = device_ns() / kFrameNs;
  charge_clock_ = true;
  if (bus_ == Bus::Attached) return true;
  violation_("EZ-USB unit " + std::to_string(unit_) + " did not come up running its firmware");
  return false;
}

std::optional<std::uint64_t> EzUsbDevice::attached_instance() {
  Lock lock = enter();
  catch_up(lock);
  if (bus_ != Bus::Attached) return std::nullopt;
  return instance_;
}

bool EzUsbDevice::usable(std::uint64_t instance) const {
  return bus_ == Bus::Attached && instance == instance_;
}

bool EzUsbDevice::firmware_load(const UsbSetup& setup, std::span<const std::uint8_t> data) {
  if (setup.value == An2131::kCpucs && !data.empty()) {
    const bool hold = (data[0] & An2131::kCpuReset) != 0;
    if (hold ? faults_.halt_fails : faults_.run_fails) return false;
    if (!hold && chip_.cpu_held()) {
      chip_.set_cpu_held(false);
      // The new firmware owns the bus from here: the old identity is gone
      // until it reconnects.
      detach();
      bus_ = Bus::Away;
      seen_off_bus_ = false;
      wake();
    } else if (hold) {
      chip_.set_cpu_held(true);
    }
    return true;
  }
  if (setup.value + data.size() > An2131::kRamSize) return false;
  if (!chip_.cpu_held()) {
    violation_("EZ-USB RAM written through 0xA0 while the 8051 runs");
    return false;
  }
  std::copy(data.begin(), data.end(), chip_.ram().begin() + setup.value);
  return true;
}

bool EzUsbDevice::vendor_request(std::uint64_t instance, const UsbSetup& setup,
                                 std::uint8_t* data) {
  Lock lock = enter();
  catch_up(lock);
  if (!usable(instance)) return false;
  ++counters_.control_transfers;
  // The core itself serves 0xA0 (firmware load), whatever RENUM says; the
  // driver's request carries one data byte.
  const bool ok = setup.request == 0xA0 && setup.request_type == 0x40 && setup.length == 1 &&
                  firmware_load(setup, std::span<const std::uint8_t>(data, 1));
  log(UsbTransfer{UsbTransfer::Kind::Control, 0, setup.request, setup.length, ok, {*data}});
  return ok;
}

bool EzUsbDevice::control_transfer(std::uint64_t instance, const UsbSetup& setup,
                                   std::span<std::uint8_t> data, std::uint32_t* moved) {
  Lock lock = enter();
  catch_up(lock);
  *moved = 0;
  if (!usable(instance) || data.size() < setup.length) return false;
  const bool in = (setup.request_type & 0x80) != 0;
  if (setup.request == 0xA0 && setup.request_type == 0x40) {
    ++counters_.control_transfers;
    const std::span<const std::uint8_t> bytes = data.first(setup.length);
    const bool ok = firmware_load(setup, bytes);
    log(UsbTransfer{UsbTransfer::Kind::Control, 0, setup.request, setup.length, ok,
                    std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
    if (ok) *moved = setup.length;
    return ok;
  }
  if (!in && setup.length != 0 && chip_.renum()) {
    // The firmware would read such a data stage from OUT0BUF, which this
    // model does not fill; neither cable's firmware takes one.
    violation_("EZ-USB control request " + std::to_string(setup.request) +
               " with an OUT data stage for the 8051: not modelled");
    return false;
  }
  std::vector<std::uint8_t> received;
  if (!control(lock, setup, &received, kDriverTimeoutNs) || !usable(instance)) return false;
  if (in) {
    std::copy(received.begin(), received.end(), data.begin());
    *moved = static_cast<std::uint32_t>(received.size());
  } else {
    *moved = setup.length;
  }
  return true;
}

std::vector<std::uint8_t> EzUsbDevice::descriptors() {
  Lock lock = enter();
  return descriptors_;
}

bool EzUsbDevice::download(std::uint64_t instance, std::span<const std::uint8_t> bytes) {
  Lock lock = enter();
  catch_up(lock);
  if (!usable(instance) || faults_.download_fails) return false;
  if (!chip_.cpu_held()) {
    violation_("EZ-USB download while the 8051 runs");
    return false;
  }
  if (bytes.size() > An2131::kRamSize) return false;
  std::copy(bytes.begin(), bytes.end(), chip_.ram().begin());
  const std::uint64_t chunks = (bytes.size() + kDownloadChunk - 1) / kDownloadChunk;
  counters_.control_transfers += chunks;
  clock_.advance_ns(chunks * kFrameNs);
  log(UsbTransfer{
      UsbTransfer::Kind::Control, 0, 0xA0, static_cast<std::uint32_t>(bytes.size()), true, {}});
  return true;
}

bool EzUsbDevice::get_descriptor(std::uint64_t instance, std::uint16_t value, std::uint16_t index,
                                 std::span<std::uint8_t> out, std::uint32_t* received) {
  Lock lock = enter();
  catch_up(lock);
  if (!usable(instance)) return false;
  const UsbSetup setup{0x80, usb::kGetDescriptor, value, index,
                       static_cast<std::uint16_t>(std::min<std::size_t>(out.size(), 0xFFFF))};
  std::vector<std::uint8_t> data;
  const bool ok = control(lock, setup, &data, kDriverTimeoutNs);
  settle_locked(lock);
  if (!ok || !usable(instance)) return false;
  std::copy(data.begin(), data.end(), out.begin());
  *received = static_cast<std::uint32_t>(data.size());
  return true;
}

bool EzUsbDevice::bulk_write(std::uint64_t instance, Handle handle, std::uint32_t pipe,
                             std::span<const std::uint8_t> data, std::uint32_t* sent) {
  Lock lock = enter();
  catch_up(lock);
  if (!usable(instance) || pipe >= pipes_.size() || (pipes_[pipe].address & 0x80) != 0) {
    return false;
  }
  Pending pending{.handle = handle,
                  .instance = instance,
                  .pipe = pipe,
                  .in = false,
                  .source = data,
                  .length = data.size()};
  const bool ok = data.empty() || transfer(lock, pending);
  *sent = static_cast<std::uint32_t>(pending.done_bytes);
  // Let the firmware finish with the last packet before the host goes on.
  if (ok) settle_locked(lock);
  return ok;
}

bool EzUsbDevice::bulk_read(std::uint64_t instance, Handle handle, std::uint32_t pipe,
                            std::span<std::uint8_t> buffer, std::uint32_t* received) {
  Lock lock = enter();
  catch_up(lock);
  if (!usable(instance) || pipe >= pipes_.size() || (pipes_[pipe].address & 0x80) == 0) {
    return false;
  }
  if (++bulk_reads_ == faults_.read_fails_at) {
    log(UsbTransfer{UsbTransfer::Kind::BulkIn, pipe, pipes_[pipe].address, 0, false, {}});
    return false;
  }
  Pending pending{
      .handle = handle, .instance = instance, .pipe = pipe, .in = true, .length = buffer.size()};
  const bool ok = !buffer.empty() && transfer(lock, pending);
  settle_locked(lock);
  if (!ok) return false;
  std::copy(pending.received.begin(), pending.received.end(), buffer.begin());
  *received = static_cast<std::uint32_t>(pending.received.size());
  return true;
}

bool EzUsbDevice::transfer(Lock& lock, Pending& pending) {
  pending.ready_ns = device_ns();
  pending_.push_back(&pending);
  // A read wakes nothing: the host controller has been polling the IN pipe
  // all along, and an idle firmware has nothing to answer.
  if (!pending.in) wake();
  service();
  while (!pending.finished) {
    if (can_run() && !idle_) {
      run_slice(lock);
    } else if (const std::optional<std::uint64_t> next = next_event_ns()) {
      // The firmware waits for the bus: time goes on to its next event.
      skip_to(std::max(device_ns(), *next));
      sync_clock();
      service();
    } else {
      changed_.wait(lock);
    }
  }
  pending_.remove(&pending);
  return pending.ok;
}

void EzUsbDevice::service() {
  const std::uint64_t now = device_ns();
  poll_in_pipes();
  // Writes first: a write and the read of its reply may end in one frame,
  // and the write is the one the host controller did first, whichever host
  // thread came to the device first.
  for (const bool in : {false, true}) {
    for (Pending* pending : pending_) {
      if (pending->finished || pending->in != in) continue;
      if (!usable(pending->instance)) {
        finish(*pending, false, now);
      } else if (pending->complete_ns) {
        if (now >= *pending->complete_ns) finish(*pending, true, *pending->complete_ns);
      } else if (in) {
        deliver(*pending);
      } else {
        advance_out(*pending);
      }
    }
  }
}

std::optional<std::uint64_t> EzUsbDevice::next_event_ns() const {
  std::optional<std::uint64_t> next;
  const auto consider = [&](std::uint64_t ns) { next = next ? std::min(*next, ns) : ns; };
  for (const auto& [pipe, slot] : in_flight_) consider(slot.end);
  for (const Pending* pending : pending_) {
    if (pending->finished) continue;
    if (pending->complete_ns) {
      consider(*pending->complete_ns);
    } else if (pending->attempt) {
      consider(pending->decided ? pending->attempt->end : pending->attempt->start);
    } else if (!pending->in && ((can_run() && !idle_) || out_ready(*pending))) {
      // A firmware that is idle (or does not run) re-arms nothing: retrying
      // a refused packet would only pass time until something wakes it.
      consider(pending->ready_ns);
    }
  }
  return next;
}

bool EzUsbDevice::out_ready(const Pending& pending) const {
  const int endpoint = pipes_[pending.pipe].address & 0x0F;
  return chip_.out_armed(endpoint) || chip_.out_stalled(endpoint) ||
         (chip_.out_valid() >> endpoint & 1) == 0;
}

void EzUsbDevice::poll_in_pipes() {
  if (faults_.reads_stall) return;
  const std::uint64_t now = device_ns();
  for (std::uint32_t index = 0; index < pipes_.size(); ++index) {
    const UsbPipe& pipe = pipes_[index];
    if ((pipe.address & 0x80) == 0 || pipe.attributes != kBulk) continue;
    const int endpoint = pipe.address & 0x0F;
    const auto flight = in_flight_.find(index);
    if (flight == in_flight_.end()) {
      // The host polls the pipe; an armed endpoint answers in the next slot.
      if ((chip_.in_valid() >> endpoint & 1) != 0 && !chip_.in_stalled(endpoint) &&
          chip_.in_armed(endpoint)) {
        in_flight_[index] = claim_slot(now, chip_.in_count(endpoint));
      }
      continue;
    }
    if (flight->second.end > now) continue;
    // The host's ACK ends the packet: the buffer goes back to the 8051.
    const std::uint64_t arrived = flight->second.end;
    in_flight_.erase(flight);
    in_queue_[index].push_back(InPacket{chip_.host_take_in(endpoint), arrived});
    ++counters_.packets_in;
    wake();
    count_packet();
    if (pipes_.empty()) return;  // unplugged by the fault
  }
}

void EzUsbDevice::deliver(Pending& pending) {
  const UsbPipe& pipe = pipes_[pending.pipe];
  const int endpoint = pipe.address & 0x0F;
  if ((chip_.in_valid() >> endpoint & 1) == 0) {
    violation_("EZ-USB endpoint " + std::to_string(pipe.address) +
               " addressed by the host while its valid bit is clear");
    finish(pending, false, device_ns());
    return;
  }
  std::deque<InPacket>& queue = in_queue_[pending.pipe];
  if (queue.empty() && chip_.in_stalled(endpoint)) {
    finish(pending, false, device_ns());
    return;
  }
  while (!pending.complete_ns && !queue.empty()) {
    const InPacket packet = std::move(queue.front());
    queue.pop_front();
    if (packet.bytes.size() > pending.length - pending.done_bytes) {
      finish(pending, false, packet.ns);  // more than the buffer holds: the driver reports overrun
      return;
    }
    pending.received.insert(pending.received.end(), packet.bytes.begin(), packet.bytes.end());
    pending.done_bytes += packet.bytes.size();
    if (packet.bytes.size() < pipe.max_packet || pending.done_bytes == pending.length) {
      pending.complete_ns = frame_end(packet.ns);
    }
  }
  if (pending.complete_ns && device_ns() >= *pending.complete_ns) {
    finish(pending, true, *pending.complete_ns);
  }
}

void EzUsbDevice::count_packet() {
  const std::uint64_t packets = counters_.packets_in + counters_.packets_out;
  if (faults_.unplug_after_packets != 0 && packets >= faults_.unplug_after_packets &&
      bus_ == Bus::Attached) {
    detach();
    bus_ = Bus::Gone;
  }
}

std::uint64_t EzUsbDevice::frame_end(std::uint64_t ns) {
  return (ns + kFrameNs - 1) / kFrameNs * kFrameNs;
}

EzUsbDevice::Slot EzUsbDevice::claim_slot(std::uint64_t ready_ns, std::size_t bytes) {
  const std::uint64_t length =
      kFrameNs * (bytes + kPacketOverheadBytes) / (kPacketsPerFrame * kPacketWireBytes);
  std::uint64_t start = std::max(ready_ns, bus_free_ns_);
  for (;;) {
    const std::uint64_t frame = start / kFrameNs;
    if (frame != frame_) {
      frame_ = frame;
      frame_packets_ = 0;
    }
    // A transaction that would not end before the frame does waits for the
    // next one, as does any beyond the frame's share of bulk packets.
    if (frame_packets_ < kPacketsPerFrame && start + length <= (frame + 1) * kFrameNs) break;
    start = (frame + 1) * kFrameNs;
  }
  if (frame_packets_++ == 0) ++counters_.frames_used;
  bus_free_ns_ = start + length;
  return Slot{start, bus_free_ns_};
}

void EzUsbDevice::advance_out(Pending& pending) {
  const UsbPipe pipe = pipes_[pending.pipe];
  const int endpoint = pipe.address & 0x0F;
  const std::uint64_t now = device_ns();
  while (!pending.finished && !pending.complete_ns) {
    const std::size_t size =
        std::min<std::size_t>(pipe.max_packet, pending.length - pending.done_bytes);
    if (!pending.attempt) {
      if (pending.ready_ns > now) return;
      // Late by more than a slot (the firmware was idle, refusing it): the
      // host's retries went on meanwhile, the next one starts now.
      const std::uint64_t ready = now - pending.ready_ns > kFullSlotNs ? now : pending.ready_ns;
      pending.attempt = claim_slot(ready, size);
      pending.decided = false;
    }
    if (!pending.decided) {
      if (pending.attempt->start > now) return;
      // The token: the endpoint takes the packet if a buffer is armed for
      // it, or NAKs it once the data is through.
      if ((chip_.out_valid() >> endpoint & 1) == 0) {
        violation_("EZ-USB endpoint " + std::to_string(pipe.address) +
                   " addressed by the host while its valid bit is clear");
        finish(pending, false, now);
        return;
      }
      if (chip_.out_stalled(endpoint)) {
        finish(pending, false, now);
        return;
      }
      pending.accepted = chip_.out_armed(endpoint);
      pending.decided = true;
      if (!pending.accepted) ++counters_.packets_refused;
    }
    if (pending.attempt->end > now) return;
    // The handshake: ACKed, the packet is in the buffer; NAKed, the host
    // sends it again in the next slot.
    pending.ready_ns = pending.attempt->end;
    pending.attempt.reset();
    if (!pending.accepted) continue;
    chip_.host_out(endpoint, pending.source.subspan(pending.done_bytes, size));
    ++counters_.packets_out;
    wake();
    pending.done_bytes += size;
    // The host controller reports the transfer done at the end of the frame
    // of its last packet.
    if (pending.done_bytes == pending.length) pending.complete_ns = frame_end(pending.ready_ns);
    count_packet();
  }
}

void EzUsbDevice::finish(Pending& pending, bool ok, std::uint64_t at_ns) {
  pending.finished = true;
  pending.ok = ok;
  finished_any_ = true;
  ++counters_.bulk_transfers;
  if (pending.in) ++counters_.bulk_reads;
  sync_clock_to(at_ns);
  if (logging_) {
    const std::span<const std::uint8_t> moved =
        pending.in ? std::span<const std::uint8_t>(pending.received)
                   : pending.source.subspan(0, pending.done_bytes);
    log(UsbTransfer{pending.in ? UsbTransfer::Kind::BulkIn : UsbTransfer::Kind::BulkOut,
                    pending.pipe, pipes_.empty() ? std::uint8_t{0} : pipes_[pending.pipe].address,
                    static_cast<std::uint32_t>(pending.done_bytes), ok,
                    std::vector<std::uint8_t>(moved.begin(), moved.end())});
  }
  changed_.notify_all();
}

void EzUsbDevice::detach() {
  for (Pending* pending : pending_) {
    if (!pending->finished) finish(*pending, false, device_ns());
  }
  pipes_.clear();
  in_queue_.clear();
  in_flight_.clear();
}

bool EzUsbDevice::cancel(Handle handle) {
  Lock lock = enter();
  bool cancelled = false;
  for (Pending* pending : pending_) {
    if (pending->handle == handle && !pending->finished) {
      finish(*pending, false, device_ns());
      cancelled = true;
    }
  }
  return cancelled;
}

void EzUsbDevice::settle() {
  Lock lock = enter();
  catch_up(lock);
  wake();
  settle_locked(lock);
}

void EzUsbDevice::settle_locked(Lock& lock) {
  while (bus_ == Bus::Attached && can_run() && !idle_) run_slice(lock);
  // A thread waiting for a transfer that now has its next event ahead goes
  // on to it.
  changed_.notify_all();
}

An2131& EzUsbDevice::chip() { return chip_; }

std::vector<UsbPipe> EzUsbDevice::pipes() {
  Lock lock = enter();
  return pipes_;
}

UsbCounters EzUsbDevice::counters() {
  Lock lock = enter();
  return counters_;
}

void EzUsbDevice::set_logging(bool on) {
  Lock lock = enter();
  logging_ = on;
}

std::vector<UsbTransfer> EzUsbDevice::transfers() {
  Lock lock = enter();
  return log_;
}

std::string usb_transfer_text(const UsbTransfer& transfer) {
  char text[96];
  if (transfer.kind == UsbTransfer::Kind::Control) {
    std::snprintf(text, sizeof text, "control request 0x%02X length %u %s", transfer.endpoint,
                  transfer.length, transfer.ok ? "ok" : "failed");
  } else {
    std::snprintf(text, sizeof text, "bulk %s pipe %u endpoint 0x%02X length %u %s",
                  transfer.kind == UsbTransfer::Kind::BulkIn ? "in" : "out", transfer.pipe,
                  transfer.endpoint, transfer.length, transfer.ok ? "ok" : "failed");
  }
  std::string line = text;
  if (!transfer.data.empty()) line += ' ';
  for (const std::uint8_t byte : transfer.data) {
    std::snprintf(text, sizeof text, "%02X", byte);
    line += text;
  }
  return line;
}

void EzUsbDevice::log(UsbTransfer entry) {
  if (logging_) log_.push_back(std::move(entry));
}

}  // namespace velnor::bench
