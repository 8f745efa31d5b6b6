#include "usbfs_node.h"

#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace velnor::bench {

namespace {

// The capabilities a current kernel reports for a full-speed device on an
// xHCI port, less what the node does not do (zero packets, scatter-gather
// lists, mmap'ed buffers, streams, suspend control).
constexpr std::uint32_t kCapabilities = USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

// The model's cancel works per handle: every URB gets a handle of its own,
// apart from the range the Windows driver model hands out.
std::atomic<Handle> next_urb_handle{Handle{1} << 40};

std::uint16_t word(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

}  // namespace

struct UsbfsNode::Urb {
  enum class State : std::uint8_t { Queued, Running, Done };
  ~Urb() {
    if (data != nullptr) g_object_unref(data);
    if (buffer != nullptr) g_object_unref(buffer);
  }
  UMockdevIoctlClient* client = nullptr;
  UMockdevIoctlData* data = nullptr;    // the usbdevfs_urb, or a control ioctl's block
  UMockdevIoctlData* buffer = nullptr;  // its data buffer in the program
  unsigned long address = 0;            // the URB in the program's memory
  std::uint8_t type = USBDEVFS_URB_TYPE_BULK;
  std::uint8_t endpoint = 0;
  unsigned flags = 0;
  // An ioctl that waits for its request (USBDEVFS_CONTROL and the standard
  // requests behind CLEAR_HALT and friends): completed when done, not
  // reaped.
  bool synchronous = false;
  std::vector<std::uint8_t> bytes;  // control: setup, then data; OUT: data; IN: received
  Handle handle = 0;
  State state = State::Queued;
  bool discarded = false;
  int status = 0;
  int actual_length = 0;

  bool in() const {
    return type == USBDEVFS_URB_TYPE_CONTROL ? (bytes[0] & USB_DIR_IN) != 0
                                             : (endpoint & USB_DIR_IN) != 0;
  }
  // Where the data stage starts in the buffer.
  std::size_t data_offset() const { return type == USBDEVFS_URB_TYPE_CONTROL ? 8 : 0; }
};

struct UsbfsNode::Endpoint {
  std::deque<std::shared_ptr<Urb>> queue;
  std::shared_ptr<Urb> running;
  std::condition_variable wake;
  std::thread thread;
};

UsbfsNode::UsbfsNode(EzUsbDevice& device, std::uint64_t instance)
    : device_(device), instance_(instance), handler_(umockdev_ioctl_base_new()) {
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbfsNode::on_ioctl), this);
  g_signal_connect(handler_, "client-vanished", G_CALLBACK(&UsbfsNode::on_vanished), this);
}

UsbfsNode::~UsbfsNode() {
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_ = true;
  for (auto& [address, endpoint] : endpoints_) endpoint->wake.notify_all();
  // A URB still in the model (a read that never completes) is cancelled
  // there, as closing the last descriptor does in the kernel.
  for (auto& [address, endpoint] : endpoints_) {
    if (endpoint->running) cancel_running(lock, endpoint->running);
  }
  lock.unlock();
  for (auto& [address, endpoint] : endpoints_) endpoint->thread.join();
  g_signal_handlers_disconnect_by_data(handler_, this);
  g_object_unref(handler_);
}

UMockdevIoctlBase* UsbfsNode::handler() { return handler_; }

void UsbfsNode::disconnect() {
  std::lock_guard<std::mutex> lock(mutex_);
  disconnected_ = true;
}

std::map<std::string, std::uint64_t> UsbfsNode::request_counts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

void UsbfsNode::count(const char* name) { ++counts_[name]; }

bool UsbfsNode::attached() const { return !disconnected_; }

gboolean UsbfsNode::on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  return static_cast<UsbfsNode*>(self)->handle(client) ? TRUE : FALSE;
}

void UsbfsNode::on_vanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  auto* node = static_cast<UsbfsNode*>(self);
  std::unique_lock<std::mutex> lock(node->mutex_);
  // The descriptor is closed: its URBs are killed and never reaped.
  const auto state = node->clients_.find(client);
  if (state != node->clients_.end() && state->second.waiting_pointer != nullptr) {
    g_object_unref(state->second.waiting_pointer);
  }
  node->clients_.erase(client);
  for (auto& [address, endpoint] : node->endpoints_) {
    auto& queue = endpoint->queue;
    queue.erase(
        std::remove_if(queue.begin(), queue.end(),
                       [&](const std::shared_ptr<Urb>& urb) { return urb->client == client; }),
        queue.end());
    const std::shared_ptr<Urb> running = endpoint->running;
    if (running && running->client == client) {
      running->discarded = true;
      node->cancel_running(lock, running);
    }
  }
}

bool UsbfsNode::handle(UMockdevIoctlClient* client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
  GError* error = nullptr;
  const auto resolve_word = [&]() -> UMockdevIoctlData* {
    return umockdev_ioctl_data_resolve(argument, 0, sizeof(std::uint32_t), &error);
  };
  std::unique_lock<std::mutex> lock(mutex_);
  Client& state = clients_[client];
  const bool reaping = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
  if (!attached() && !reaping && request != USBDEVFS_DISCARDURB) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return true;
  }
  switch (request) {
    case USBDEVFS_SUBMITURB:
      lock.unlock();
      submit(client, argument);
      return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      lock.unlock();
      reap(client, argument, request == USBDEVFS_REAPURB);
      return true;
    case USBDEVFS_DISCARDURB: {
      const unsigned long address = *reinterpret_cast<unsigned long*>(argument->data);
      lock.unlock();
      discard(client, address);
      return true;
    }
    case USBDEVFS_CONTROL:
      lock.unlock();
      control(client, argument);
      return true;
    case USBDEVFS_GET_CAPABILITIES: {
      count("GET_CAPABILITIES");
      UMockdevIoctlData* caps = resolve_word();
      if (caps == nullptr) break;
      std::uint32_t value = kCapabilities;
      umockdev_ioctl_data_update(caps, 0, reinterpret_cast<guint8*>(&value), sizeof value);
      g_object_unref(caps);
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:  // no kernel driver to disconnect first
    case USBDEVFS_RELEASEINTERFACE: {
      const bool claim = request != USBDEVFS_RELEASEINTERFACE;
      count(claim ? "CLAIMINTERFACE" : "RELEASEINTERFACE");
      // The interface number leads both argument blocks.
      UMockdevIoctlData* number = resolve_word();
      if (number == nullptr) break;
      unsigned interface = 0;
      std::memcpy(&interface, number->data, sizeof interface);
      g_object_unref(number);
      const std::vector<std::uint8_t> descriptors = device_.descriptors();
      const unsigned interfaces = descriptors.size() > 22 ? descriptors[22] : 0;
      int result = 0;
      if (interface >= interfaces) {
        result = ENOENT;
      } else if (claim) {
        for (const auto& [other, other_state] : clients_) {
          if (other != client && other_state.claimed.count(interface) != 0) result = EBUSY;
        }
        if (result == 0) state.claimed.insert(interface);
      } else if (state.claimed.erase(interface) == 0) {
        result = EINVAL;
      }
      umockdev_ioctl_client_complete(client, result == 0 ? 0 : -1, result);
      return true;
    }
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_SETCONFIGURATION: {
      const bool halt = request == USBDEVFS_CLEAR_HALT;
      count(halt ? "CLEAR_HALT" : "SETCONFIGURATION");
      UMockdevIoctlData* number = resolve_word();
      if (number == nullptr) break;
      unsigned value = 0;
      std::memcpy(&value, number->data, sizeof value);
      g_object_unref(number);
      lock.unlock();
      standard_request(
          client,
          halt ? UsbSetup{USB_RECIP_ENDPOINT, USB_REQ_CLEAR_FEATURE, USB_ENDPOINT_HALT,
                          static_cast<std::uint16_t>(value), 0}
               : UsbSetup{0, USB_REQ_SET_CONFIGURATION, static_cast<std::uint16_t>(value), 0, 0});
      return true;
    }
    case USBDEVFS_SETINTERFACE: {
      count("SETINTERFACE");
      UMockdevIoctlData* block =
          umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_setinterface), &error);
      if (block == nullptr) break;
      usbdevfs_setinterface setting;
      std::memcpy(&setting, block->data, sizeof setting);
      g_object_unref(block);
      lock.unlock();
      standard_request(client, UsbSetup{USB_RECIP_INTERFACE, USB_REQ_SET_INTERFACE,
                                        static_cast<std::uint16_t>(setting.altsetting),
                                        static_cast<std::uint16_t>(setting.interface), 0});
      return true;
    }
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
      // No kernel driver is bound to any interface.
      umockdev_ioctl_client_complete(client, -1, ENODATA);
      return true;
    case USBDEVFS_GET_SPEED:
      umockdev_ioctl_client_complete(client, USB_SPEED_FULL, 0);
      return true;
    default:
      if (unknown_reported_.insert(request).second) {
        std::fprintf(stderr, "velnor usb harness: usbfs ioctl 0x%lX is not emulated\n", request);
      }
      umockdev_ioctl_client_complete(client, -1, ENOTTY);
      return true;
  }
  std::fprintf(stderr, "velnor usb harness: cannot read the ioctl argument: %s\n",
               error != nullptr ? error->message : "null pointer");
  g_clear_error(&error);
  umockdev_ioctl_client_complete(client, -1, EFAULT);
  return true;
}

void UsbfsNode::submit(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
  GError* error = nullptr;
  UMockdevIoctlData* data = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), &error);
  if (data == nullptr) {
    g_clear_error(&error);
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  auto urb = std::make_shared<Urb>();
  urb->data = data;
  usbdevfs_urb fields;
  std::memcpy(&fields, data->data, sizeof fields);
  urb->client = client;
  urb->address = data->client_addr;
  urb->type = fields.type;
  urb->endpoint = fields.endpoint;
  urb->flags = fields.flags;
  const auto fail = [&](int error_number) {
    umockdev_ioctl_client_complete(client, -1, error_number);
  };
  const bool control = fields.type == USBDEVFS_URB_TYPE_CONTROL;
  if ((!control && fields.type != USBDEVFS_URB_TYPE_BULK &&
       fields.type != USBDEVFS_URB_TYPE_INTERRUPT) ||
      fields.buffer_length < (control ? 8 : 0)) {
    return fail(EINVAL);
  }
  if (fields.buffer_length > 0) {
    urb->buffer = umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                              static_cast<gsize>(fields.buffer_length), &error);
    if (urb->buffer == nullptr) {
      g_clear_error(&error);
      return fail(EFAULT);
    }
    urb->bytes.assign(urb->buffer->data, urb->buffer->data + fields.buffer_length);
  }
  if (control) {
    // The setup packet's length must fit the buffer after it.
    if (word(&urb->bytes[6]) + 8u > urb->bytes.size()) return fail(EINVAL);
    urb->endpoint = 0;
  } else {
    const std::vector<UsbPipe> pipes = device_.pipes();
    if (std::none_of(pipes.begin(), pipes.end(),
                     [&](const UsbPipe& pipe) { return pipe.address == fields.endpoint; })) {
      return fail(ENOENT);
    }
  }
  urb->handle = next_urb_handle.fetch_add(1);
  std::lock_guard<std::mutex> lock(mutex_);
  count(control ? "SUBMITURB control" : urb->in() ? "SUBMITURB bulk in" : "SUBMITURB bulk out");
  // Using an interface claims it, as the kernel does for a program that
  // did not.
  clients_[client].claimed.insert(0);
  enqueue(urb);
  umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbfsNode::standard_request(UMockdevIoctlClient* client, const UsbSetup& setup) {
  auto urb = std::make_shared<Urb>();
  urb->client = client;
  urb->type = USBDEVFS_URB_TYPE_CONTROL;
  urb->synchronous = true;
  urb->bytes = {setup.request_type,
                setup.request,
                static_cast<std::uint8_t>(setup.value),
                static_cast<std::uint8_t>(setup.value >> 8),
                static_cast<std::uint8_t>(setup.index),
                static_cast<std::uint8_t>(setup.index >> 8),
                0,
                0};
  urb->handle = next_urb_handle.fetch_add(1);
  std::lock_guard<std::mutex> lock(mutex_);
  enqueue(urb);
}

void UsbfsNode::control(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
  GError* error = nullptr;
  UMockdevIoctlData* block =
      umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_ctrltransfer), &error);
  if (block == nullptr) {
    g_clear_error(&error);
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  usbdevfs_ctrltransfer fields;
  std::memcpy(&fields, block->data, sizeof fields);
  auto urb = std::make_shared<Urb>();
  urb->client = client;
  urb->type = USBDEVFS_URB_TYPE_CONTROL;
  urb->synchronous = true;
  urb->data = block;
  urb->bytes = {fields.bRequestType,
                fields.bRequest,
                static_cast<std::uint8_t>(fields.wValue),
                static_cast<std::uint8_t>(fields.wValue >> 8),
                static_cast<std::uint8_t>(fields.wIndex),
                static_cast<std::uint8_t>(fields.wIndex >> 8),
                static_cast<std::uint8_t>(fields.wLength),
                static_cast<std::uint8_t>(fields.wLength >> 8)};
  if (fields.wLength > 0) {
    // The data stage sits apart from the setup packet here: the buffer is
    // the data alone.
    urb->buffer = umockdev_ioctl_data_resolve(block, offsetof(usbdevfs_ctrltransfer, data),
                                              fields.wLength, &error);
    if (urb->buffer == nullptr) {
      g_clear_error(&error);
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return;
    }
    urb->bytes.insert(urb->bytes.end(), urb->buffer->data, urb->buffer->data + fields.wLength);
  }
  urb->handle = next_urb_handle.fetch_add(1);
  std::lock_guard<std::mutex> lock(mutex_);
  count("CONTROL");
  enqueue(urb);
}

void UsbfsNode::enqueue(const std::shared_ptr<Urb>& urb) {
  std::unique_ptr<Endpoint>& endpoint = endpoints_[urb->endpoint];
  if (!endpoint) {
    endpoint = std::make_unique<Endpoint>();
    Endpoint* queue = endpoint.get();
    endpoint->thread = std::thread([this, queue] { run_endpoint(*queue); });
  }
  endpoint->queue.push_back(urb);
  endpoint->wake.notify_all();
}

void UsbfsNode::run_endpoint(Endpoint& endpoint) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    endpoint.wake.wait(lock, [&] { return stopping_ || !endpoint.queue.empty(); });
    if (stopping_) return;
    const std::shared_ptr<Urb> urb = endpoint.queue.front();
    endpoint.queue.pop_front();
    urb->state = Urb::State::Running;
    endpoint.running = urb;
    lock.unlock();
    execute(*urb);
    lock.lock();
    endpoint.running.reset();
    urb->state = Urb::State::Done;
    finished(urb);
  }
}

void UsbfsNode::execute(Urb& urb) {
  const std::size_t offset = urb.data_offset();
  const std::span<std::uint8_t> data =
      std::span<std::uint8_t>(urb.bytes).subspan(std::min(offset, urb.bytes.size()));
  std::uint32_t moved = 0;
  bool ok = false;
  const bool control = urb.type == USBDEVFS_URB_TYPE_CONTROL;
  if (control) {
    const std::uint8_t* setup = urb.bytes.data();
    ok = device_.control_transfer(
        instance_, UsbSetup{setup[0], setup[1], word(setup + 2), word(setup + 4), word(setup + 6)},
        data, &moved);
  } else {
    const std::vector<UsbPipe> pipes = device_.pipes();
    const auto pipe = std::find_if(pipes.begin(), pipes.end(),
                                   [&](const UsbPipe& p) { return p.address == urb.endpoint; });
    const auto number = static_cast<std::uint32_t>(pipe - pipes.begin());
    if (pipe == pipes.end()) {
      ok = false;
    } else if (data.empty()) {
      ok = true;
    } else if (urb.in()) {
      ok = device_.bulk_read(instance_, urb.handle, number, data, &moved);
    } else {
      ok = device_.bulk_write(instance_, urb.handle, number, data, &moved);
    }
  }
  urb.actual_length = static_cast<int>(moved);
  if (ok) {
    // A short packet ends an IN transfer; the program may ask for that to
    // count as an error.
    const bool short_read = urb.in() && !control && moved < data.size();
    urb.status = short_read && (urb.flags & USBDEVFS_URB_SHORT_NOT_OK) != 0 ? -EREMOTEIO : 0;
    return;
  }
  // Gone from the bus, a stalled control request, or a bus error.
  if (device_.attached_instance() != instance_) {
    urb.status = -ESHUTDOWN;
  } else {
    urb.status = control ? -EPIPE : -EPROTO;
  }
}

void UsbfsNode::finished(const std::shared_ptr<Urb>& urb) {
  if (urb->discarded) {
    urb->status = -ENOENT;
    // Nothing of a killed IN transfer reaches the program.
    if (urb->in()) urb->actual_length = 0;
  }
  const auto client = clients_.find(urb->client);
  if (client == clients_.end()) return;  // its descriptor is closed
  if (urb->synchronous) {
    count(urb->data != nullptr ? "CONTROL done" : "standard request done");
    if (urb->status != 0) {
      umockdev_ioctl_client_complete(urb->client, -1, -urb->status);
      return;
    }
    if (urb->in() && urb->buffer != nullptr && urb->actual_length > 0) {
      umockdev_ioctl_data_update(urb->buffer, 0, urb->bytes.data() + 8, urb->actual_length);
    }
    umockdev_ioctl_client_complete(urb->client, urb->actual_length, 0);
    return;
  }
  Client& state = client->second;
  state.completed.push_back(urb);
  if (state.waiting_reap != nullptr) {
    UMockdevIoctlClient* reaper = state.waiting_reap;
    UMockdevIoctlData* pointer = state.waiting_pointer;
    state.waiting_reap = nullptr;
    state.waiting_pointer = nullptr;
    const std::shared_ptr<Urb> next = state.completed.front();
    state.completed.pop_front();
    deliver(reaper, pointer, *next);
  }
}

void UsbfsNode::reap(UMockdevIoctlClient* client, UMockdevIoctlData* argument, bool wait) {
  // The program's URB pointer the reaped URB's address goes into.
  GError* error = nullptr;
  UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(argument, 0, sizeof(void*), &error);
  if (pointer == nullptr) {
    g_clear_error(&error);
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  Client& state = clients_[client];
  count(wait ? "REAPURB" : "REAPURBNDELAY");
  if (!state.completed.empty()) {
    const std::shared_ptr<Urb> urb = state.completed.front();
    state.completed.pop_front();
    deliver(client, pointer, *urb);
    return;
  }
  const bool in_flight = std::any_of(endpoints_.begin(), endpoints_.end(), [&](const auto& entry) {
    const Endpoint& endpoint = *entry.second;
    return (endpoint.running && endpoint.running->client == client) ||
           std::any_of(endpoint.queue.begin(), endpoint.queue.end(),
                       [&](const std::shared_ptr<Urb>& urb) { return urb->client == client; });
  });
  if (wait && (attached() || in_flight)) {
    // Completed by the endpoint thread that finishes the next URB.
    state.waiting_reap = client;
    state.waiting_pointer = pointer;
    return;
  }
  g_object_unref(pointer);
  if (!attached() && !in_flight) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
  } else {
    count("REAPURBNDELAY empty");
    umockdev_ioctl_client_complete(client, -1, EAGAIN);
  }
}

void UsbfsNode::deliver(UMockdevIoctlClient* client, UMockdevIoctlData* pointer, Urb& urb) {
  umockdev_ioctl_data_update(urb.data, offsetof(usbdevfs_urb, status),
                             reinterpret_cast<guint8*>(&urb.status), sizeof urb.status);
  umockdev_ioctl_data_update(urb.data, offsetof(usbdevfs_urb, actual_length),
                             reinterpret_cast<guint8*>(&urb.actual_length),
                             sizeof urb.actual_length);
  // The received bytes reach the program's buffer here, at the reap and
  // never later.
  if (urb.in() && urb.actual_length > 0) {
    const std::size_t offset = urb.data_offset();
    umockdev_ioctl_data_update(urb.buffer, offset, urb.bytes.data() + offset, urb.actual_length);
  }
  umockdev_ioctl_data_set_ptr(pointer, 0, urb.data);
  g_object_unref(pointer);
  umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbfsNode::discard(UMockdevIoctlClient* client, unsigned long address) {
  std::unique_lock<std::mutex> lock(mutex_);
  count("DISCARDURB");
  for (auto& [number, endpoint] : endpoints_) {
    auto& queue = endpoint->queue;
    const auto queued = std::find_if(queue.begin(), queue.end(), [&](const auto& urb) {
      return urb->client == client && urb->address == address;
    });
    if (queued != queue.end()) {
      const std::shared_ptr<Urb> urb = *queued;
      queue.erase(queued);
      urb->discarded = true;
      urb->state = Urb::State::Done;
      finished(urb);
      umockdev_ioctl_client_complete(client, 0, 0);
      return;
    }
    const std::shared_ptr<Urb> running = endpoint->running;
    if (running && running->client == client && running->address == address) {
      running->discarded = true;
      cancel_running(lock, running);
      umockdev_ioctl_client_complete(client, 0, 0);
      return;
    }
  }
  // Done already (waiting to be reaped) or never submitted.
  umockdev_ioctl_client_complete(client, -1, EINVAL);
}

void UsbfsNode::cancel_running(std::unique_lock<std::mutex>& lock,
                               const std::shared_ptr<Urb>& urb) {
  // Between its thread taking the URB and the model registering the
  // transfer there is nothing to cancel yet: try until the model has it
  // or it is over.
  while (urb->state == Urb::State::Running) {
    lock.unlock();
    const bool cancelled = device_.cancel(urb->handle);
    if (!cancelled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    lock.lock();
    if (cancelled) return;
  }
}

}  // namespace velnor::bench
