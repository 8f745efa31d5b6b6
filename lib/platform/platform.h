// The operating-system services the library uses, shaped around what the
// cables need, and nothing else: printer-port byte I/O with its access
// grant, an EZ-USB device by unit number with its five requests and a
// cancel, bitstream files, sleeps, threads, events and the exit list.
//
// Each real system has one backend (linux/: ppdev; windows/: the giveio
// port-I/O driver and the EZ-USB general-purpose driver). When VELNOR_BENCH
// is set, the virtual board's module serves the process instead, and says so
// on stderr. Which backend serves is decided here, once; code above this
// header never asks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velnor::platform {

// An opaque handle to a file, a device, a thread or an event. 0 is never a
// valid handle, so callers test against 0 only.
using Handle = std::uintptr_t;
constexpr Handle NO_HANDLE = 0;

// --- Printer port ------------------------------------------------------------
// Makes byte I/O on the printer ports usable for this process; false when it
// cannot be (the reason is the backend's to tell).
bool grant_port_access();
// Register access at an I/O address (base data, base + 1 status, base + 2
// control). A port that is not there reads 0xFF.
std::uint8_t port_read(std::uint16_t port);
void port_write(std::uint16_t port, std::uint8_t value);

// --- EZ-USB device -------------------------------------------------------------
// Unit N is the N-th EZ-USB device. Each open gives a handle of its own; a
// request blocks until it completes, fails, or is cancelled from another
// thread.
Handle ezusb_open(std::uint32_t unit);
void ezusb_close(Handle device);
// The string descriptor with that index as the device sent it (length byte,
// type byte, UTF-16 units); returned is the byte count received.
bool ezusb_string_descriptor(Handle device, std::uint8_t index, std::uint8_t* reply,
                             std::uint32_t reply_size, std::uint32_t* returned);
// A vendor request from host to device with one data byte (0xA0 on CPUCS
// holds or releases the 8051).
bool ezusb_vendor_request(Handle device, std::uint8_t request, std::uint16_t value,
                          std::uint16_t index, std::uint8_t data);
// Writes image[0, size) into the chip's RAM from address 0.
bool ezusb_download(Handle device, const std::uint8_t* image, std::uint32_t size);
// Bulk transfers on the pipe (the configuration's endpoints in order).
bool ezusb_bulk_write(Handle device, std::uint32_t pipe, const std::uint8_t* bytes,
                      std::uint32_t length, std::uint32_t* sent);
bool ezusb_bulk_read(Handle device, std::uint32_t pipe, std::uint8_t* bytes, std::uint32_t length,
                     std::uint32_t* received);
// Aborts every request pending on the handle, from any thread: a blocked
// request then returns false. False when nothing could be cancelled.
bool ezusb_cancel(Handle device);

// --- Reading files (opened without sharing) ----------------------------------
// A file open here is refused to other openers until it is closed.
Handle open_file_for_reading(const char* path);
// Bytes read, 0 at the end of the file or on failure.
std::size_t read_file(Handle file, void* buffer, std::size_t count);
// Bytes from the current position to the end of a regular file; -1 for
// anything else (a pipe or a device has no end to measure).
std::int64_t file_bytes_left(Handle file);
void close_file(Handle file);

// --- Time ------------------------------------------------------------------------
void sleep_ms(std::uint32_t milliseconds);

// --- Exit list -----------------------------------------------------------------
// Functions registered here run once, last registered first, when the
// library is unloaded or the process ends. False when the list is full.
bool at_unload(void (*function)());
// Runs and empties the exit list now, then lets the backend undo what it
// changed in the system. The library's unload hook calls it; tests call it
// to stand for an unload.
void run_unload_list();

// --- Threads ---------------------------------------------------------------------
constexpr int PRIORITY_TIME_CRITICAL = 15;
// Starts function on a new thread with the default stack size. A detached
// thread is never joined and needs no handle; a joinable one returns a
// handle that join_thread waits for and releases.
bool start_detached_thread(void (*function)());
Handle start_thread(void (*function)(void* argument), void* argument);
void join_thread(Handle thread);
// Raises the calling thread's priority; returns false when not permitted.
bool set_current_thread_priority(int priority);

// --- Events ----------------------------------------------------------------------
Handle create_event(bool manual_reset, bool initially_set);
void set_event(Handle event);
void reset_event(Handle event);
constexpr std::uint32_t WAIT_FOREVER = 0xFFFFFFFF;
// True when the event was set within the timeout.
bool wait_event(Handle event, std::uint32_t timeout_ms);
void close_event(Handle event);

}  // namespace velnor::platform
