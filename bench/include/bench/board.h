// The virtual board: the chain, the printer ports and their cables, target
// power, the Windows services, time and the trace, built from a short text
// description (see the README). The platform layer's bench backend serves
// every operating-system call of the library from the active board.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "bench/chain.h"
#include "bench/clock.h"
#include "bench/ezusb.h"
#include "bench/printer_port.h"
#include "bench/trace.h"
#include "bench/windows_model.h"

namespace velnor::bench {

class Spartan2;
class Xcf;

class Board {
 public:
  // Saves the PROM image when the description named promsave.
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  // Null with a one-line reason in error when the description is wrong.
  static std::unique_ptr<Board> parse(std::string_view description, std::string* error);
  // The default board: an XCF02S nearest TDO, an XC2S200 nearest TDI, target
  // powered, the parallel cable at 0x378, a bare EZ-USB cable at unit 0 on
  // the same chain.
  static constexpr const char* kDefaultDescription = "default";

  Chain& chain();
  Trace& trace();
  VirtualClock& clock();
  WindowsModel& windows();
  PrinterPort* printer_port(std::uint16_t base);  // null when no port there
  EzUsbDriver& usb();
  EzUsbDevice* usb_device(unsigned unit);  // null when no cable at that unit
  // The Spartan-II nearest TDO; null when the chain has none.
  Spartan2* fpga();
  // The XCF PROM nearest TDO; null when the chain has none.
  Xcf* prom();

  // Power returning resets every device; a Spartan-II in master-serial mode
  // then configures itself from the PROM (see load_fpga_from_prom).
  void set_target_powered(bool powered);
  bool target_powered() const;
  // Target power off and on again.
  void power_cycle();
  // Writes the PROM's array to the promsave file; false without one, without
  // a PROM, or when the file cannot be written.
  bool save_prom_image();
  // Saves to the promsave path when the description gave one; reports a
  // failure on stderr.
  void save_prom_image_if_asked();

  // Platform services. A port access where no port is decodes nothing and
  // reads 0xFF; on the NT line without the port-I/O grant it is a violation
  // (a real process would die of a privileged-instruction fault).
  std::uint8_t port_read(std::uint16_t port);
  void port_write(std::uint16_t port, std::uint8_t value);
  Handle open_device(const char* name, std::uint32_t access, std::uint32_t share_mode,
                     std::uint32_t creation, std::uint32_t flags);
  void close_device(Handle device);
  bool device_control(Handle device, std::uint32_t code, const void* in, std::uint32_t in_size,
                      void* out, std::uint32_t out_size, std::uint32_t* returned);
  bool cancel_device_io(Handle device);

  // Breaches of the hardware's rules, one line each; tests expect none.
  // Read them once the threads that use the board are done.
  const std::vector<std::string>& violations() const;
  void add_violation(std::string text);

 private:
  explicit Board(const WindowsModel::Config& windows);
  PrinterPort* decoding(std::uint16_t port);  // the port whose registers cover the address
  bool port_io_granted(std::uint16_t port);   // records a violation when not
  void load_fpga_from_prom();
  void prom_config_pulse();  // CONFIG: the PROM's CF drives the FPGA's PROGRAM
  Chain chain_;
  Trace trace_;
  VirtualClock clock_;
  WindowsModel windows_;
  std::vector<std::unique_ptr<PrinterPort>> ports_;
  EzUsbDriver usb_;
  bool target_powered_ = true;
  std::mutex violations_mutex_;  // the USB cable's threads report too
  std::vector<std::string> violations_;
  std::string prom_save_path_;
};

// The board the library's bench backend uses. Built on first use from
// VELNOR_BENCH (empty or "default" gives the default board); a description
// that does not parse is reported on stderr and leaves a board with nothing
// attached, so every open fails cleanly.
Board& active_board();
// Replaces the active board (tests build their own boards).
void install_board(std::unique_ptr<Board> board);
// For tests: parses or fails the test run with the reason.
std::unique_ptr<Board> make_board(std::string_view description);
// The description a program outside the library (a preload library, the USB
// harness) builds its board from: the text of its environment variable
// (null, empty or "default" for the default board), each default item
// ("key=value") added unless the text sets that key itself.
std::string description_with_defaults(const char* text,
                                      std::initializer_list<std::string_view> defaults);

}  // namespace velnor::bench
