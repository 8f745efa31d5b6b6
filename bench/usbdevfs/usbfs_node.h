// One device node /dev/bus/usb/BBB/DDD as the kernel's usbfs driver serves
// it, for one attachment of an EZ-USB unit: umockdev hands over every ioctl
// a program makes on the node, and this answers it from the bench's device
// model. URBs run on one thread per endpoint, in submission order as the
// host controller's queue runs them, so a bulk IN waiting for data does
// not hold up the OUT that causes it; a URB is reaped by the descriptor
// that submitted it, and its data reach the program's buffer only then.
#pragma once

#include <umockdev.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bench/ezusb.h"

namespace velnor::bench {

class UsbfsNode {
 public:
  // Answers ioctls on the node for this attachment of the device.
  UsbfsNode(EzUsbDevice& device, std::uint64_t instance);
  // Cancels what is still running and joins the endpoint threads.
  ~UsbfsNode();
  UsbfsNode(const UsbfsNode&) = delete;
  UsbfsNode& operator=(const UsbfsNode&) = delete;

  // The handler to attach to the node in the testbed.
  UMockdevIoctlBase* handler();
  // The host has seen the device leave: every ioctl now fails with ENODEV,
  // as on a node whose device was unplugged; URBs in flight end with
  // ESHUTDOWN and can still be reaped.
  void disconnect();

  // Requests seen, by name, for the counts report.
  std::map<std::string, std::uint64_t> request_counts();

 private:
  struct Urb;
  struct Endpoint;
  struct Client {
    std::set<unsigned> claimed;
    std::deque<std::shared_ptr<Urb>> completed;
    // A blocking REAPURB waiting for a URB to complete, and the program's
    // pointer it fills.
    UMockdevIoctlClient* waiting_reap = nullptr;
    UMockdevIoctlData* waiting_pointer = nullptr;
  };

  static gboolean on_ioctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
  static void on_vanished(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
  bool handle(UMockdevIoctlClient* client);
  void submit(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
  void reap(UMockdevIoctlClient* client, UMockdevIoctlData* argument, bool wait);
  void discard(UMockdevIoctlClient* client, unsigned long address);
  void control(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
  // Sends a standard request without data stage for an ioctl (CLEAR_HALT,
  // SETINTERFACE, SETCONFIGURATION) and completes the ioctl.
  void standard_request(UMockdevIoctlClient* client, const UsbSetup& setup);
  // Writes the URB's result into the program's memory, points the reap's
  // pointer at it and completes the reap (taking the pointer's reference);
  // the lock is held.
  void deliver(UMockdevIoctlClient* client, UMockdevIoctlData* pointer, Urb& urb);
  // The lock is held for these.
  void enqueue(const std::shared_ptr<Urb>& urb);
  void finished(const std::shared_ptr<Urb>& urb);
  void cancel_running(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Urb>& urb);
  bool attached() const;
  void count(const char* name);
  // On the endpoint's thread, without the lock.
  void run_endpoint(Endpoint& endpoint);
  void execute(Urb& urb);

  EzUsbDevice& device_;
  const std::uint64_t instance_;
  UMockdevIoctlBase* handler_;

  std::mutex mutex_;
  bool disconnected_ = false;
  bool stopping_ = false;
  std::map<UMockdevIoctlClient*, Client> clients_;
  std::map<std::uint8_t, std::unique_ptr<Endpoint>> endpoints_;
  std::set<unsigned long> unknown_reported_;
  std::map<std::string, std::uint64_t> counts_;
};

}  // namespace velnor::bench
