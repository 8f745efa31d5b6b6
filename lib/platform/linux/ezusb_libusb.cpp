// EZ-USB devices on Linux, through libusb-1.0. Unit N is the N-th USB
// device with the AN2131's identifiers, bare or running our firmware (which
// keeps them). Every open of a unit shares one libusb handle on the device:
// usbfs lets only one descriptor claim its interface, and the caller's
// thread writes while the reader thread reads on another endpoint.
//
// A bulk read is an asynchronous transfer into the caller's buffer that
// ezusb_bulk_read waits for; ezusb_cancel cancels it from another thread,
// and the read returns only once libusb reports the transfer finished, so
// no late reply can land in a buffer the caller has taken back.
#include "platform/linux/ezusb_libusb.h"

#include <libusb.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace velnor::platform::host {
namespace {

constexpr std::uint16_t AN2131_VENDOR_ID = 0x0547;
constexpr std::uint16_t AN2131_PRODUCT_ID = 0x2131;
constexpr std::uint16_t US_ENGLISH = 0x0409;
// A vendor request from host to device.
constexpr std::uint8_t VENDOR_OUT = static_cast<std::uint8_t>(LIBUSB_ENDPOINT_OUT) |
                                    static_cast<std::uint8_t>(LIBUSB_REQUEST_TYPE_VENDOR) |
                                    static_cast<std::uint8_t>(LIBUSB_RECIPIENT_DEVICE);
constexpr unsigned CONTROL_TIMEOUT_MS = 5000;
constexpr unsigned BULK_WRITE_TIMEOUT_MS = 5000;
// The firmware download goes out in 0xA0 requests of this many bytes.
constexpr std::uint32_t DOWNLOAD_PIECE_BYTES = 1024;

// One device, opened once however many handles refer to it.
struct Connection {
  libusb_device_handle* handle = nullptr;
  std::uint8_t bus = 0;
  std::uint8_t address = 0;
  int opens = 0;
  bool claimed = false;
  // The configuration's endpoints in order: pipe N is endpoints[N].
  std::vector<std::uint8_t> endpoints;
};

// A handle as the library holds it: the connection and the read it waits
// for, if any.
struct OpenUnit {
  Connection* connection;
  std::mutex mutex;
  libusb_transfer* reading = nullptr;
};

std::mutex connections_mutex;
libusb_context* context = nullptr;
std::vector<std::unique_ptr<Connection>> connections;

bool ensure_context() {
  if (context != nullptr) return true;
  const int status = libusb_init(&context);
  if (status != 0) {
    std::fprintf(stderr, "velnor: libusb: %s\n", libusb_strerror(status));
    context = nullptr;
  }
  return context != nullptr;
}

// The unit-th device with the AN2131's identifiers, referenced; null when
// there is none.
libusb_device* find_unit(std::uint32_t unit) {
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  libusb_device* found = nullptr;
  std::uint32_t seen = 0;
  for (ssize_t i = 0; i < count && found == nullptr; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
    if (descriptor.idVendor != AN2131_VENDOR_ID || descriptor.idProduct != AN2131_PRODUCT_ID) {
      continue;
    }
    if (seen++ == unit) found = libusb_ref_device(list[i]);
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
  return found;
}

std::vector<std::uint8_t> endpoints_of(libusb_device* device) {
  std::vector<std::uint8_t> endpoints;
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != 0) return endpoints;
  if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
    const libusb_interface_descriptor& setting = config->interface[0].altsetting[0];
    for (int i = 0; i < setting.bNumEndpoints; ++i) {
      endpoints.push_back(setting.endpoint[i].bEndpointAddress);
    }
  }
  libusb_free_config_descriptor(config);
  return endpoints;
}

Connection* connect(libusb_device* device) {
  const std::uint8_t bus = libusb_get_bus_number(device);
  const std::uint8_t address = libusb_get_device_address(device);
  for (const auto& connection : connections) {
    if (connection->bus == bus && connection->address == address) return connection.get();
  }
  libusb_device_handle* handle = nullptr;
  const int status = libusb_open(device, &handle);
  if (status != 0) {
    if (status == LIBUSB_ERROR_ACCESS) {
      std::fprintf(stderr,
                   "velnor: cannot open USB device %03u/%03u: permission denied (install the "
                   "udev rule 60-velnor.rules and join the 'plugdev' group)\n",
                   bus, address);
    }
    return nullptr;
  }
  auto connection = std::make_unique<Connection>();
  connection->handle = handle;
  connection->bus = bus;
  connection->address = address;
  connection->endpoints = endpoints_of(device);
  // The bare chip needs only control requests; our firmware's bulk pipes
  // need the interface.
  connection->claimed = !connection->endpoints.empty() && libusb_claim_interface(handle, 0) == 0;
  connections.push_back(std::move(connection));
  return connections.back().get();
}

void disconnect(Connection* connection) {
  if (connection->claimed) libusb_release_interface(connection->handle, 0);
  libusb_close(connection->handle);
  std::erase_if(connections, [connection](const auto& kept) { return kept.get() == connection; });
}

OpenUnit* unit_of(Handle device) { return reinterpret_cast<OpenUnit*>(device); }

libusb_device_handle* usb(Handle device) { return unit_of(device)->connection->handle; }

bool endpoint_of(Handle device, std::uint32_t pipe, std::uint8_t* endpoint) {
  const std::vector<std::uint8_t>& endpoints = unit_of(device)->connection->endpoints;
  if (pipe >= endpoints.size()) return false;
  *endpoint = endpoints[pipe];
  return true;
}

void transfer_finished(libusb_transfer* transfer) { *static_cast<int*>(transfer->user_data) = 1; }

}  // namespace

Handle ezusb_open(std::uint32_t unit) {
  const std::lock_guard<std::mutex> lock(connections_mutex);
  if (!ensure_context()) return NO_HANDLE;
  libusb_device* device = find_unit(unit);
  if (device == nullptr) return NO_HANDLE;
  Connection* connection = connect(device);
  libusb_unref_device(device);
  if (connection == nullptr) return NO_HANDLE;
  ++connection->opens;
  return reinterpret_cast<Handle>(new OpenUnit{connection, {}, nullptr});
}

void ezusb_close(Handle device) {
  const std::lock_guard<std::mutex> lock(connections_mutex);
  OpenUnit* unit = unit_of(device);
  if (--unit->connection->opens == 0) disconnect(unit->connection);
  delete unit;
}

bool ezusb_string_descriptor(Handle device, std::uint8_t index, std::uint8_t* reply,
                             std::uint32_t reply_size, std::uint32_t* returned) {
  const int got = libusb_get_string_descriptor(usb(device), index, US_ENGLISH, reply,
                                               static_cast<int>(std::min(reply_size, 255u)));
  if (got < 0) return false;
  *returned = static_cast<std::uint32_t>(got);
  return true;
}

bool ezusb_vendor_request(Handle device, std::uint8_t request, std::uint16_t value,
                          std::uint16_t index, std::uint8_t data) {
  return libusb_control_transfer(usb(device), VENDOR_OUT, request, value, index, &data, 1,
                                 CONTROL_TIMEOUT_MS) == 1;
}

// The 0xA0 request writes the chip's RAM at its value, wherever the 8051 is.
bool ezusb_download(Handle device, const std::uint8_t* image, std::uint32_t size) {
  constexpr std::uint8_t FIRMWARE_LOAD = 0xA0;
  for (std::uint32_t at = 0; at < size; at += DOWNLOAD_PIECE_BYTES) {
    const auto piece = static_cast<std::uint16_t>(std::min(DOWNLOAD_PIECE_BYTES, size - at));
    std::vector<std::uint8_t> bytes(image + at, image + at + piece);
    if (libusb_control_transfer(usb(device), VENDOR_OUT, FIRMWARE_LOAD,
                                static_cast<std::uint16_t>(at), 0, bytes.data(), piece,
                                CONTROL_TIMEOUT_MS) != piece) {
      return false;
    }
  }
  return true;
}

bool ezusb_bulk_write(Handle device, std::uint32_t pipe, const std::uint8_t* bytes,
                      std::uint32_t length, std::uint32_t* sent) {
  std::uint8_t endpoint = 0;
  if (!endpoint_of(device, pipe, &endpoint)) return false;
  int transferred = 0;
  const int status =
      libusb_bulk_transfer(usb(device), endpoint, const_cast<std::uint8_t*>(bytes),
                           static_cast<int>(length), &transferred, BULK_WRITE_TIMEOUT_MS);
  *sent = static_cast<std::uint32_t>(transferred);
  return status == 0;
}

bool ezusb_bulk_read(Handle device, std::uint32_t pipe, std::uint8_t* bytes, std::uint32_t length,
                     std::uint32_t* received) {
  std::uint8_t endpoint = 0;
  if (!endpoint_of(device, pipe, &endpoint)) return false;
  OpenUnit* unit = unit_of(device);
  libusb_transfer* transfer = libusb_alloc_transfer(0);
  if (transfer == nullptr) return false;
  int completed = 0;
  libusb_fill_bulk_transfer(transfer, usb(device), endpoint, bytes, static_cast<int>(length),
                            transfer_finished, &completed, 0);
  {
    const std::lock_guard<std::mutex> lock(unit->mutex);
    if (libusb_submit_transfer(transfer) != 0) {
      libusb_free_transfer(transfer);
      return false;
    }
    unit->reading = transfer;
  }
  // Until libusb has finished with the buffer, whatever happens.
  while (!completed) {
    if (libusb_handle_events_completed(context, &completed) != 0 && !completed) {
      libusb_cancel_transfer(transfer);
    }
  }
  {
    const std::lock_guard<std::mutex> lock(unit->mutex);
    unit->reading = nullptr;
  }
  const bool done = completed && transfer->status == LIBUSB_TRANSFER_COMPLETED;
  *received = static_cast<std::uint32_t>(transfer->actual_length);
  libusb_free_transfer(transfer);
  return done;
}

bool ezusb_cancel(Handle device) {
  OpenUnit* unit = unit_of(device);
  const std::lock_guard<std::mutex> lock(unit->mutex);
  return unit->reading != nullptr && libusb_cancel_transfer(unit->reading) == 0;
}

void release_ezusb() {
  const std::lock_guard<std::mutex> lock(connections_mutex);
  while (!connections.empty()) disconnect(connections.back().get());
  if (context != nullptr) libusb_exit(context);
  context = nullptr;
}

}  // namespace velnor::platform::host
