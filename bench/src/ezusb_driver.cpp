#include <cctype>
#include <cstring>
#include <string_view>

#include "bench/ezusb.h"
#include "ezusb_descriptors.h"

namespace velnor::bench {

namespace {

constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kShareRead = 1;
constexpr std::uint32_t kShareWrite = 2;

// The unit of "\\.\ezusb-N", matched as Windows matches device names:
// without regard to case.
std::optional<unsigned> unit_of(const char* name) {
  static constexpr std::string_view kPrefix = "\\\\.\\ezusb-";
  if (name == nullptr) return std::nullopt;
  const std::string_view text(name);
  if (text.size() <= kPrefix.size() || text.size() > kPrefix.size() + 4) return std::nullopt;
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != kPrefix[i]) return std::nullopt;
  }
  unsigned unit = 0;
  for (const char c : text.substr(kPrefix.size())) {
    if (c < '0' || c > '9') return std::nullopt;
    unit = unit * 10 + static_cast<unsigned>(c - '0');
  }
  return unit;
}

// Whether a handle opened with one access and sharing lets another in.
bool shares(std::uint32_t access, std::uint32_t other_share) {
  return ((access & kGenericRead) == 0 || (other_share & kShareRead) != 0) &&
         ((access & kGenericWrite) == 0 || (other_share & kShareWrite) != 0);
}

std::uint32_t read_u32(const void* in) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, in, 4);
  return static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                    static_cast<std::uint32_t>(bytes[3]) << 24);
}

}  // namespace

void EzUsbDriver::add(std::unique_ptr<EzUsbDevice> device) {
  devices_.push_back(std::move(device));
}

EzUsbDevice* EzUsbDriver::device(unsigned unit) {
  for (auto& device : devices_) {
    if (device->unit() == unit) return device.get();
  }
  return nullptr;
}

bool EzUsbDriver::has_devices() const { return !devices_.empty(); }

Handle EzUsbDriver::open(const char* name, std::uint32_t access, std::uint32_t share_mode) {
  const std::optional<unsigned> unit = unit_of(name);
  EzUsbDevice* target = unit ? device(*unit) : nullptr;
  if (target == nullptr) return 0;
  // Asking for the device lets it catch up with the time the host spent.
  const std::optional<std::uint64_t> instance = target->attached_instance();
  if (!instance) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [handle, open] : handles_) {
    if (open.device != target || open.instance != *instance) continue;
    if (!shares(access, open.share_mode) || !shares(open.access, share_mode)) return 0;
  }
  const Handle handle = next_handle_++;
  handles_[handle] = OpenHandle{target, *instance, access, share_mode};
  return handle;
}

bool EzUsbDriver::owns(Handle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.count(handle) != 0;
}

std::optional<EzUsbDriver::OpenHandle> EzUsbDriver::lookup(Handle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = handles_.find(handle);
  if (found == handles_.end()) return std::nullopt;
  return found->second;
}

void EzUsbDriver::close(Handle handle) {
  std::optional<OpenHandle> open;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = handles_.find(handle);
    if (found == handles_.end()) return;
    open = found->second;
    handles_.erase(found);
  }
  // Closing the last reference cancels what is still pending on it.
  open->device->cancel(handle);
}

bool EzUsbDriver::cancel(Handle handle) {
  const std::optional<OpenHandle> open = lookup(handle);
  return open && open->device->cancel(handle);
}

std::size_t EzUsbDriver::open_handle_count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.size();
}

bool EzUsbDriver::control(Handle handle, std::uint32_t code, const void* in, std::uint32_t in_size,
                          void* out, std::uint32_t out_size, std::uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  const std::optional<OpenHandle> open = lookup(handle);
  if (!open) return false;
  EzUsbDevice& device = *open->device;
  const auto* input = static_cast<const std::uint8_t*>(in);
  auto* output = static_cast<std::uint8_t*>(out);
  std::uint32_t count = 0;
  bool ok = false;
  switch (code) {
    case kGetStringDescriptor: {
      // index (u8), alignment, language (u16)
      if (input == nullptr || in_size < 4 || output == nullptr || out_size == 0) return false;
      const auto value = static_cast<std::uint16_t>(usb::kStringDescriptor << 8 | input[0]);
      const auto language = static_cast<std::uint16_t>(input[2] | input[3] << 8);
      ok = device.get_descriptor(open->instance, value, language,
                                 std::span<std::uint8_t>(output, out_size), &count);
      break;
    }
    case kVendorRequest: {
      // request (u8), alignment, value, index, length (u16 each),
      // direction (u8: 0 host to device), data (u8)
      if (input == nullptr || in_size < 10 || input[8] != 0) return false;
      UsbSetup setup{0x40, input[0], static_cast<std::uint16_t>(input[2] | input[3] << 8),
                     static_cast<std::uint16_t>(input[4] | input[5] << 8),
                     static_cast<std::uint16_t>(input[6] | input[7] << 8)};
      std::uint8_t data = input[9];
      ok = device.vendor_request(open->instance, setup, &data);
      break;
    }
    case kDownload:
      if (input == nullptr || in_size == 0) return false;
      ok = device.download(open->instance, std::span<const std::uint8_t>(input, in_size));
      break;
    case kBulkWrite:
      // The pipe number comes in; the data go out as the output buffer.
      if (input == nullptr || in_size < 4 || (output == nullptr && out_size != 0)) return false;
      ok = device.bulk_write(open->instance, handle, read_u32(input),
                             std::span<const std::uint8_t>(output, out_size), &count);
      break;
    case kBulkRead:
      if (input == nullptr || in_size < 4 || output == nullptr || out_size == 0) return false;
      ok = device.bulk_read(open->instance, handle, read_u32(input),
                            std::span<std::uint8_t>(output, out_size), &count);
      break;
    default:
      return false;
  }
  if (ok && returned != nullptr) *returned = count;
  return ok;
}

}  // namespace velnor::bench
