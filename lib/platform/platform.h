// The operating-system services the library uses, and nothing else.
//
// Every call maps one to one onto a Windows service (named beside it) so the
// win32 backend is a thin shim; the linux backend translates the same calls,
// and the bench backend answers them from the virtual board. Which backend
// serves the process is decided here, once: the bench when VELNOR_BENCH is
// set, the real one otherwise. Code above this header never asks which.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velnor::platform {

// An opaque handle to a service manager, a service, a device, a thread or an
// event. 0 is never a valid handle (INVALID_HANDLE_VALUE and NULL both map to
// it), so callers test against 0 only.
using Handle = std::uintptr_t;
constexpr Handle kNoHandle = 0;

// --- Printer-port byte I/O (_inp / _outp) -----------------------------------
std::uint8_t port_read(std::uint16_t port);
void port_write(std::uint16_t port, std::uint8_t value);

// --- Platform line (GetVersionExA) ------------------------------------------
// Returns false when the query fails; otherwise stores dwPlatformId
// (0 Win32s, 1 Windows 9x line, 2 NT line).
constexpr std::uint32_t kPlatformWin32s = 0;
constexpr std::uint32_t kPlatformWindows = 1;
constexpr std::uint32_t kPlatformNt = 2;
bool query_platform_id(std::uint32_t* platform_id);

// --- Environment (getenv) ---------------------------------------------------
// Null when the variable is not set. The text stays valid until the next call.
const char* environment(const char* name);

// --- Files (CopyFileA, GetFullPathNameA) ------------------------------------
bool copy_file(const char* from, const char* to, bool fail_if_exists);
// Writes the absolute form of path into out (NUL-terminated) and returns its
// length, or 0 on failure or when it does not fit.
std::size_t full_path_name(const char* path, char* out, std::size_t out_size);

// --- Reading files (CreateFileA with no sharing, ReadFile, CloseHandle) ----
// A file open here is refused to other openers until it is closed.
Handle open_file_for_reading(const char* path);
// Bytes read, 0 at the end of the file or on failure.
std::size_t read_file(Handle file, void* buffer, std::size_t count);
void close_file(Handle file);

// --- Service control manager ------------------------------------------------
constexpr std::uint32_t kScManagerAllAccess = 0xF003F;
constexpr std::uint32_t kServiceAllAccess = 0xF01FF;
constexpr std::uint32_t kServiceKernelDriver = 1;
constexpr std::uint32_t kServiceDemandStart = 3;
constexpr std::uint32_t kServiceErrorNormal = 1;
constexpr std::uint32_t kServiceControlStop = 1;

struct ServiceDefinition {
  const char* name;
  const char* display_name;
  std::uint32_t desired_access;
  std::uint32_t service_type;
  std::uint32_t start_type;
  std::uint32_t error_control;
  const char* binary_path;
};

Handle open_sc_manager(std::uint32_t access);  // OpenSCManagerA(NULL, NULL, access)
Handle open_service(Handle manager, const char* name, std::uint32_t access);  // OpenServiceA
Handle create_service(Handle manager, const ServiceDefinition& definition);   // CreateServiceA
bool start_service(Handle service);                           // StartServiceA(service, 0, NULL)
bool control_service(Handle service, std::uint32_t control);  // ControlService
bool delete_service(Handle service);                          // DeleteService
void close_service_handle(Handle handle);                     // CloseServiceHandle

// --- Devices (CreateFileA, CloseHandle, DeviceIoControl) --------------------
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kFileShareWrite = 2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kFileAttributeNormal = 0x80;

Handle open_device(const char* name, std::uint32_t access, std::uint32_t share_mode,
                   std::uint32_t creation, std::uint32_t flags);
void close_device(Handle device);
bool device_control(Handle device, std::uint32_t code, const void* in, std::uint32_t in_size,
                    void* out, std::uint32_t out_size, std::uint32_t* returned);
// Aborts every request pending on the device handle, from any thread
// (CancelIoEx with no overlapped structure): a blocked device_control on it
// then returns false. False when nothing could be cancelled.
bool cancel_device_io(Handle device);

// --- Exit list (the runtime's atexit list of a DLL) -------------------------
// Functions registered here run once, last registered first, when the
// library is unloaded or the process ends. False when the list is full.
bool at_unload(void (*function)());
// Runs and empties the exit list now. The library's unload hook calls it;
// tests call it to stand for an unload.
void run_unload_list();

// --- Time (Sleep, GetTickCount) ---------------------------------------------
void sleep_ms(std::uint32_t milliseconds);
std::uint64_t now_ms();

// --- Threads (CreateThread, SetThreadPriority, WaitForSingleObject) ---------
constexpr int kPriorityTimeCritical = 15;
// Starts function on a new thread with the default stack size. A detached
// thread is never joined and needs no handle; a joinable one returns a
// handle that join_thread waits for and releases.
bool start_detached_thread(void (*function)());
Handle start_thread(void (*function)(void* argument), void* argument);
void join_thread(Handle thread);
// Raises the calling thread's priority; returns false when not permitted.
bool set_current_thread_priority(int priority);

// --- Events (CreateEventA, SetEvent, ResetEvent, WaitForSingleObject) -------
Handle create_event(bool manual_reset, bool initially_set);
void set_event(Handle event);
void reset_event(Handle event);
constexpr std::uint32_t kWaitForever = 0xFFFFFFFF;
// True when the event was set within the timeout.
bool wait_event(Handle event, std::uint32_t timeout_ms);
void close_event(Handle event);

}  // namespace velnor::platform
