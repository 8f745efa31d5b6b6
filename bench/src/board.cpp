// Board description: items separated by ';', whitespace around items
// ignored, each `key=value`. The empty text or "default" gives the default
// board; each item overrides the default for its key; an unknown key or
// value is an error naming it.
//
//   chain=DEV[,DEV...]   devices from TDO to TDI; `chain=` alone = no devices.
//                        DEV = xc2s15|xc2s30|xc2s50|xc2s100|xc2s150|xc2s200|
//                        xcf01s|xcf02s|xcf04s, optionally `/vN` with N the
//                        version nibble in hex (0..f), e.g. xc2s200/v1; or
//                        `other:IDCODE:IRLEN[:CAPTURE]` (hex IDCODE and
//                        capture, decimal IR length 2..32; capture default
//                        0x01) for a part the library does not know.
//   lpt=BASE[:ATTACHED][,...]  printer ports; ATTACHED = cable (default) |
//                        none | other; `lpt=` alone = no ports. BASE hex
//                        like 0x378.
//   power=on|off         target supply
//   fault=tdo0|tdo1|open|open@N  (comma list allowed): TDO stuck, chain TDO
//                        open, link after device N open.
//   platform=nt|9x|noversion; rights=admin|user; giveio=running|stopped|absent;
//   driverfile=installed|missing (giveio.sys in SystemRoot's drivers folder);
//   localdriver=present|missing (giveio.sys in the current folder);
//   systemroot=TEXT      these fill WindowsModel::Config.
//   time=virtual|real; trace=on|off.
//   mode=master|slave|jtag  the Spartan-II mode pins M2..M0: master serial
//                        000 (CCLK runs: the board's PROM would feed it),
//                        slave serial 111, boundary scan 101 (CCLK still).
//   design=memory|loopback|none  what a configured Spartan-II runs behind
//                        USER1/USER2 (see user_design.h).
//   usercode=HEX         what USERCODE reads once the Spartan-II is
//                        configured.
//   cfgout=pipeline|plain  whether CFG_OUT shifts a leading pipeline bit
//                        before the words a read packet asked for (what
//                        the library expects) or starts with their first
//                        bit (to reproduce a part that does not).
//   mode, design, usercode and cfgout apply to every Spartan-II on the
//   chain.
//   promimage=PATH       preloads every XCF's array from a raw image: bytes
//                        in .bit order (stored bit k = mask 0x80 >> k % 8 of
//                        byte k / 8); a shorter file leaves the rest erased.
//   promsave=PATH        the first XCF's array is written there, in the same
//                        form, when the board is destroyed and on
//                        Board::save_prom_image().
//   powerup=prom|none    prom: once built, the board power-cycles, so a
//                        Spartan-II in master-serial mode configures itself
//                        from the PROM (needs power=on).
//   Paths cannot hold ';'; promimage, promsave and powerup=prom need an XCF
//   on the chain.
//   usb=UNIT[:running|:ulink][,...]  EZ-USB cables on the chain
//                        ("\\.\ezusb-UNIT", decimal 0..9999): bare (the 8051
//                        held in reset, the library downloads its firmware),
//                        already running the library's firmware image, or a
//                        bare chip wired and identified as the ULINK pod
//                        (0xC251/0x2710) that OpenOCD's OpenULINK firmware
//                        drives; `usb=` alone = none.
//   usbfault=FAULT[,...] for every EZ-USB cable: noreturn (never back after
//                        its firmware starts), halt, download, run (that
//                        request fails), readfail[@N] (the N-th bulk read
//                        fails, default the first), unplug@N (unplugged
//                        after N bulk packets), readstall (IN data held
//                        back: bulk reads end only by cancelling),
//                        late@MS (the host enumerates it MS ms after it
//                        reconnects, not 300).
//
// Default: chain=xcf02s/v0,xc2s200/v0; lpt=0x378:cable; usb=0; power=on;
// platform=nt; rights=admin; giveio=running; driverfile=installed;
// localdriver=present; systemroot=C:\WINDOWS; time=virtual; trace=off;
// mode=master; design=memory; usercode=FFFFFFFF; cfgout=pipeline;
// powerup=none.
#include "bench/board.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "bench/spartan2.h"
#include "bench/xcf.h"
#include "ezusb_firmware_image.h"

namespace velnor::bench {

namespace {

constexpr std::uint32_t kOpenExisting = 3;

struct ChainEntry {
  bool known = true;
  Part part = Part::Xc2s200;
  std::uint32_t version = 0;
  std::uint32_t idcode = 0;  // other: all of it
  int ir_length = 0;
  std::uint32_t ir_capture = 0x01;
};

struct PortEntry {
  std::uint16_t base;
  PrinterPort::Attached attached;
};

struct UsbEntry {
  unsigned unit;
  bool running;
  UsbCableKind kind;
};

struct Description {
  std::vector<ChainEntry> chain{{true, Part::Xcf02s, 0x0}, {true, Part::Xc2s200, 0x0}};
  std::vector<PortEntry> ports{{0x378, PrinterPort::Attached::XilinxCable}};
  std::vector<UsbEntry> usb{{0, false, {}}};
  UsbFaults usb_faults;
  bool powered = true;
  std::optional<bool> tdo_stuck;
  std::optional<std::size_t> open_after;
  WindowsModel::Config windows;
  bool real_time = false;
  bool trace = false;
  ConfigMode mode = ConfigMode::MasterSerial;
  DesignKind design = DesignKind::Memory;
  std::uint32_t usercode = 0xFFFFFFFF;
  bool cfg_out_pipeline = true;
  std::string prom_image;
  std::string prom_save;
  bool powerup_prom = false;
};

std::string_view trim(std::string_view text) {
  const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// Hex with an optional 0x; false on anything else or above max.
bool parse_hex(std::string_view text, std::uint64_t max, std::uint64_t* value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 16) return false;
  std::uint64_t result = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    result = result * 16 + static_cast<std::uint64_t>(digit);
  }
  if (result > max) return false;
  *value = result;
  return true;
}

bool parse_decimal(std::string_view text, int* value) {
  if (text.empty() || text.size() > 4) return false;
  int result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  *value = result;
  return true;
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

template <typename T>
bool pick(std::string_view key, std::string_view value,
          std::initializer_list<std::pair<std::string_view, T>> choices, T* out,
          std::string* error) {
  for (const auto& [name, choice] : choices) {
    if (value == name) {
      *out = choice;
      return true;
    }
  }
  *error = "unknown value " + quoted(value) + " for " + std::string(key);
  return false;
}

bool parse_device(std::string_view text, ChainEntry* entry, std::string* error) {
  if (text.substr(0, 6) == "other:") {
    const std::vector<std::string_view> fields = split(text.substr(6), ':');
    std::uint64_t idcode = 0;
    std::uint64_t capture = 0x01;
    int ir_length = 0;
    if (fields.size() < 2 || fields.size() > 3 || !parse_hex(fields[0], 0xFFFFFFFF, &idcode) ||
        !parse_decimal(fields[1], &ir_length) ||
        (fields.size() == 3 && !parse_hex(fields[2], 0xFFFFFFFF, &capture))) {
      *error = "bad device " + quoted(text) + " (want other:IDCODE:IRLEN[:CAPTURE])";
      return false;
    }
    if (ir_length < 2 || ir_length > 32) {
      *error = "IR length out of 2..32 in " + quoted(text);
      return false;
    }
    if (ir_length < 32 && (capture >> ir_length) != 0) {
      *error = "capture wider than the IR in " + quoted(text);
      return false;
    }
    entry->known = false;
    entry->idcode = static_cast<std::uint32_t>(idcode);
    entry->ir_length = ir_length;
    entry->ir_capture = static_cast<std::uint32_t>(capture);
    return true;
  }
  const std::size_t slash = text.find('/');
  if (!part_from_name(std::string(text.substr(0, slash)), &entry->part)) {
    *error = "unknown device " + quoted(text.substr(0, slash));
    return false;
  }
  entry->known = true;
  entry->version = 0;
  if (slash != std::string_view::npos) {
    const std::string_view version = text.substr(slash + 1);
    std::uint64_t nibble = 0;
    if (version.size() != 2 || version[0] != 'v' || !parse_hex(version.substr(1), 0xF, &nibble)) {
      *error = "bad version in " + quoted(text) + " (want /vN, N one hex digit)";
      return false;
    }
    entry->version = static_cast<std::uint32_t>(nibble);
  }
  return true;
}

bool parse_chain(std::string_view value, Description* d, std::string* error) {
  d->chain.clear();
  if (value.empty()) return true;
  for (std::string_view item : split(value, ',')) {
    item = trim(item);
    ChainEntry entry;
    if (item.empty()) {
      *error = "empty device in chain";
      return false;
    }
    if (!parse_device(item, &entry, error)) return false;
    d->chain.push_back(entry);
  }
  if (d->chain.size() > Chain::kMaxDevices) {
    *error = "chain has " + std::to_string(d->chain.size()) + " devices; the bench takes at most " +
             std::to_string(Chain::kMaxDevices);
    return false;
  }
  return true;
}

bool parse_ports(std::string_view value, Description* d, std::string* error) {
  d->ports.clear();
  if (value.empty()) return true;
  for (std::string_view item : split(value, ',')) {
    item = trim(item);
    const std::size_t colon = item.find(':');
    const std::string_view base_text = item.substr(0, colon);
    std::uint64_t base = 0;
    // The three registers must fit below 0x10000.
    if (!parse_hex(base_text, 0xFFFD, &base)) {
      *error = "bad port base " + quoted(base_text);
      return false;
    }
    PortEntry port{static_cast<std::uint16_t>(base), PrinterPort::Attached::XilinxCable};
    if (colon != std::string_view::npos) {
      const std::string_view attached = item.substr(colon + 1);
      if (!pick<PrinterPort::Attached>("lpt " + std::string(base_text), attached,
                                       {{"cable", PrinterPort::Attached::XilinxCable},
                                        {"none", PrinterPort::Attached::Nothing},
                                        {"other", PrinterPort::Attached::OtherDevice}},
                                       &port.attached, error)) {
        return false;
      }
    }
    for (const PortEntry& other : d->ports) {
      if (port.base <= other.base + 2 && other.base <= port.base + 2) {
        char text[64];
        std::snprintf(text, sizeof text, "ports at 0x%X and 0x%X overlap", other.base, port.base);
        *error = text;
        return false;
      }
    }
    d->ports.push_back(port);
  }
  return true;
}

bool parse_usb(std::string_view value, Description* d, std::string* error) {
  d->usb.clear();
  if (value.empty()) return true;
  for (std::string_view item : split(value, ',')) {
    item = trim(item);
    const std::size_t colon = item.find(':');
    int unit = 0;
    if (!parse_decimal(item.substr(0, colon), &unit)) {
      *error = "bad usb unit " + quoted(item.substr(0, colon));
      return false;
    }
    UsbEntry entry{static_cast<unsigned>(unit), false, {}};
    if (colon != std::string_view::npos) {
      const std::string_view state = item.substr(colon + 1);
      if (state == "running") {
        entry.running = true;
      } else if (state == "ulink") {
        entry.kind = UsbCableKind{An2131::Wiring::OpenUlink, 0xC251, 0x2710};
      } else {
        *error = "unknown usb state " + quoted(state) + " (want running or ulink)";
        return false;
      }
    }
    for (const UsbEntry& other : d->usb) {
      if (other.unit == entry.unit) {
        *error = "usb unit " + std::to_string(unit) + " given twice";
        return false;
      }
    }
    d->usb.push_back(entry);
  }
  return true;
}

bool parse_usb_faults(std::string_view value, Description* d, std::string* error) {
  d->usb_faults = UsbFaults{};
  if (value.empty()) return true;
  UsbFaults& f = d->usb_faults;
  for (std::string_view item : split(value, ',')) {
    item = trim(item);
    const std::size_t at = item.find('@');
    const std::string_view name = item.substr(0, at);
    int count = 1;
    if (at != std::string_view::npos &&
        (!parse_decimal(item.substr(at + 1), &count) || count == 0)) {
      *error = "bad count in usbfault " + quoted(item);
      return false;
    }
    const bool counted = at != std::string_view::npos;
    if (name == "noreturn" && !counted) {
      f.never_returns = true;
    } else if (name == "halt" && !counted) {
      f.halt_fails = true;
    } else if (name == "download" && !counted) {
      f.download_fails = true;
    } else if (name == "run" && !counted) {
      f.run_fails = true;
    } else if (name == "readfail") {
      f.read_fails_at = static_cast<std::uint64_t>(count);
    } else if (name == "unplug" && counted) {
      f.unplug_after_packets = static_cast<std::uint64_t>(count);
    } else if (name == "readstall" && !counted) {
      f.reads_stall = true;
    } else if (name == "late" && counted) {
      f.enumeration_delay_ms = static_cast<std::uint64_t>(count);
    } else {
      *error = "unknown usbfault " + quoted(item);
      return false;
    }
  }
  return true;
}

bool parse_faults(std::string_view value, Description* d, std::string* error) {
  d->tdo_stuck.reset();
  d->open_after.reset();
  if (value.empty()) return true;
  for (std::string_view item : split(value, ',')) {
    item = trim(item);
    if (item == "tdo0" || item == "tdo1") {
      const bool level = item == "tdo1";
      if (d->tdo_stuck && *d->tdo_stuck != level) {
        *error = "conflicting faults tdo0 and tdo1";
        return false;
      }
      d->tdo_stuck = level;
      continue;
    }
    std::size_t index = 0;
    if (item.substr(0, 5) == "open@") {
      int n = 0;
      if (!parse_decimal(item.substr(5), &n)) {
        *error = "unknown fault " + quoted(item);
        return false;
      }
      index = static_cast<std::size_t>(n);
    } else if (item != "open") {
      *error = "unknown fault " + quoted(item);
      return false;
    }
    if (d->open_after && *d->open_after != index) {
      *error = "more than one open link in fault";
      return false;
    }
    d->open_after = index;
  }
  return true;
}

bool parse_item(std::string_view key, std::string_view value, Description* d, std::string* error) {
  using Line = WindowsModel::PlatformLine;
  using Service = WindowsModel::ServiceState;
  WindowsModel::Config& w = d->windows;
  if (key == "chain") return parse_chain(value, d, error);
  if (key == "lpt") return parse_ports(value, d, error);
  if (key == "fault") return parse_faults(value, d, error);
  if (key == "usb") return parse_usb(value, d, error);
  if (key == "usbfault") return parse_usb_faults(value, d, error);
  if (key == "power") return pick(key, value, {{"on", true}, {"off", false}}, &d->powered, error);
  if (key == "platform") {
    return pick(key, value,
                {{"nt", Line::Nt}, {"9x", Line::Windows9x}, {"noversion", Line::QueryFails}},
                &w.line, error);
  }
  if (key == "rights") {
    return pick(key, value, {{"admin", true}, {"user", false}}, &w.administrator, error);
  }
  if (key == "giveio") {
    return pick(
        key, value,
        {{"running", Service::Running}, {"stopped", Service::Stopped}, {"absent", Service::Absent}},
        &w.giveio, error);
  }
  if (key == "driverfile") {
    return pick(key, value, {{"installed", true}, {"missing", false}}, &w.driver_in_drivers_folder,
                error);
  }
  if (key == "localdriver") {
    return pick(key, value, {{"present", true}, {"missing", false}}, &w.driver_in_current_folder,
                error);
  }
  if (key == "systemroot") {
    w.system_root = std::string(value);
    return true;
  }
  if (key == "time") {
    return pick(key, value, {{"virtual", false}, {"real", true}}, &d->real_time, error);
  }
  if (key == "trace") return pick(key, value, {{"on", true}, {"off", false}}, &d->trace, error);
  if (key == "mode") {
    return pick(key, value,
                {{"master", ConfigMode::MasterSerial},
                 {"slave", ConfigMode::SlaveSerial},
                 {"jtag", ConfigMode::BoundaryScan}},
                &d->mode, error);
  }
  if (key == "design") {
    return pick(key, value,
                {{"memory", DesignKind::Memory},
                 {"loopback", DesignKind::Loopback},
                 {"none", DesignKind::None}},
                &d->design, error);
  }
  if (key == "cfgout") {
    return pick(key, value, {{"pipeline", true}, {"plain", false}}, &d->cfg_out_pipeline, error);
  }
  if (key == "usercode") {
    std::uint64_t usercode = 0;
    if (!parse_hex(value, 0xFFFFFFFF, &usercode)) {
      *error = "bad usercode " + quoted(value) + " (want up to 8 hex digits)";
      return false;
    }
    d->usercode = static_cast<std::uint32_t>(usercode);
    return true;
  }
  if (key == "promimage" || key == "promsave") {
    if (value.empty()) {
      *error = std::string(key) + " needs a path";
      return false;
    }
    (key == "promimage" ? d->prom_image : d->prom_save) = std::string(value);
    return true;
  }
  if (key == "powerup") {
    return pick(key, value, {{"prom", true}, {"none", false}}, &d->powerup_prom, error);
  }
  *error = "unknown key " + quoted(key);
  return false;
}

bool parse_description(std::string_view text, Description* d, std::string* error) {
  text = trim(text);
  if (text == "default") return true;
  std::set<std::string, std::less<>> seen;
  for (std::string_view item : split(text, ';')) {
    item = trim(item);
    if (item.empty()) continue;
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
      *error = "item " + quoted(item) + " is not key=value";
      return false;
    }
    const std::string_view key = trim(item.substr(0, equals));
    if (!seen.insert(std::string(key)).second) {
      *error = "key " + quoted(key) + " given twice";
      return false;
    }
    if (!parse_item(key, trim(item.substr(equals + 1)), d, error)) return false;
  }
  // An open link needs the device it follows; open@0 is the chain's TDO.
  if (d->open_after && *d->open_after != 0 && *d->open_after >= d->chain.size()) {
    *error = "fault open@" + std::to_string(*d->open_after) + ": the chain has " +
             std::to_string(d->chain.size()) + " devices";
    return false;
  }
  if (d->powerup_prom && !d->powered) {
    *error = "powerup=prom needs power=on";
    return false;
  }
  const bool has_prom = std::any_of(d->chain.begin(), d->chain.end(), [](const ChainEntry& e) {
    return e.known && (e.part == Part::Xcf01s || e.part == Part::Xcf02s || e.part == Part::Xcf04s);
  });
  for (const auto& [needs, key] :
       {std::pair{!d->prom_image.empty(), "promimage"},
        std::pair{!d->prom_save.empty(), "promsave"}, std::pair{d->powerup_prom, "powerup=prom"}}) {
    if (needs && !has_prom) {
      *error = std::string(key) + " needs an XCF on the chain";
      return false;
    }
  }
  return true;
}

bool read_file(const std::string& path, std::vector<std::uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

Board::Board(const WindowsModel::Config& windows) : windows_(windows) { chain_.set_trace(&trace_); }

std::unique_ptr<Board> Board::parse(std::string_view description, std::string* error) {
  Description d;
  std::string reason;
  if (!parse_description(description, &d, &reason)) {
    if (error != nullptr) *error = reason;
    return nullptr;
  }
  std::unique_ptr<Board> board(new Board(d.windows));
  board->set_target_powered(d.powered);
  for (const ChainEntry& entry : d.chain) {
    board->chain_.add(entry.known
                          ? make_part(entry.part, entry.version)
                          : make_generic_device(entry.idcode, entry.ir_length, entry.ir_capture));
  }
  for (std::size_t i = 0; i < board->chain_.size(); ++i) {
    if (auto* fpga = dynamic_cast<Spartan2*>(&board->chain_.device(i))) {
      fpga->set_mode(d.mode);
      fpga->design().set_kind(d.design);
      fpga->set_usercode(d.usercode);
      fpga->set_cfg_out_pipeline(d.cfg_out_pipeline);
    }
  }
  std::vector<std::uint8_t> image;
  if (!d.prom_image.empty() && !read_file(d.prom_image, &image)) {
    if (error != nullptr) *error = "cannot read promimage " + quoted(d.prom_image);
    return nullptr;
  }
  Board* wiring = board.get();
  for (std::size_t i = 0; i < board->chain_.size(); ++i) {
    auto* xcf = dynamic_cast<Xcf*>(&board->chain_.device(i));
    if (xcf == nullptr) continue;
    xcf->set_clock(board->clock_);
    xcf->set_config_handler([wiring] { wiring->prom_config_pulse(); });
    xcf->set_violation_handler(
        [wiring](std::string text) { wiring->add_violation(std::move(text)); });
    if (d.prom_image.empty()) continue;
    if (image.size() > static_cast<std::size_t>(xcf->geometry().size_bytes())) {
      if (error != nullptr) {
        *error = "promimage " + quoted(d.prom_image) + " holds " + std::to_string(image.size()) +
                 " bytes; the " + xcf->name() + " holds " +
                 std::to_string(xcf->geometry().size_bytes());
      }
      return nullptr;
    }
    xcf->load_memory(image);
  }
  board->chain_.set_tdo_stuck(d.tdo_stuck);
  board->chain_.set_open_after(d.open_after);
  for (const PortEntry& port : d.ports) {
    board->ports_.push_back(
        std::make_unique<PrinterPort>(port.base, port.attached, &board->chain_));
  }
  board->clock_.set_real_time(d.real_time);
  board->trace_.enable(d.trace);
  for (const UsbEntry& entry : d.usb) {
    auto device = std::make_unique<EzUsbDevice>(
        entry.unit, board->chain_, board->clock_,
        [wiring](std::string text) { wiring->add_violation(std::move(text)); }, d.usb_faults,
        entry.kind);
    device->set_logging(d.trace);
    if (entry.running) device->start_running(usb_firmware_image());
    board->usb_.add(std::move(device));
  }
  board->prom_save_path_ = d.prom_save;
  if (d.powerup_prom) board->power_cycle();
  return board;
}

Board::~Board() { save_prom_image_if_asked(); }

void Board::save_prom_image_if_asked() {
  if (!prom_save_path_.empty() && !save_prom_image()) {
    std::fprintf(stderr, "velnor bench: cannot write promsave '%s'\n", prom_save_path_.c_str());
  }
}

Chain& Board::chain() { return chain_; }
Trace& Board::trace() { return trace_; }
VirtualClock& Board::clock() { return clock_; }
WindowsModel& Board::windows() { return windows_; }

EzUsbDriver& Board::usb() { return usb_; }

EzUsbDevice* Board::usb_device(unsigned unit) { return usb_.device(unit); }

PrinterPort* Board::printer_port(std::uint16_t base) {
  for (auto& port : ports_) {
    if (port->base() == base) return port.get();
  }
  return nullptr;
}

Spartan2* Board::fpga() {
  for (std::size_t i = 0; i < chain_.size(); ++i) {
    if (auto* fpga = dynamic_cast<Spartan2*>(&chain_.device(i))) return fpga;
  }
  return nullptr;
}

Xcf* Board::prom() {
  for (std::size_t i = 0; i < chain_.size(); ++i) {
    if (auto* xcf = dynamic_cast<Xcf*>(&chain_.device(i))) return xcf;
  }
  return nullptr;
}

void Board::set_target_powered(bool powered) {
  const bool returning = powered && !chain_.powered();
  target_powered_ = powered;
  chain_.set_powered(powered);
  if (returning) load_fpga_from_prom();
}

bool Board::target_powered() const { return target_powered_; }

void Board::power_cycle() {
  set_target_powered(false);
  set_target_powered(true);
}

bool Board::save_prom_image() {
  Xcf* source = prom();
  if (prom_save_path_.empty() || source == nullptr) return false;
  const std::vector<std::uint8_t>& bytes = source->memory();
  std::ofstream out(prom_save_path_, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

// Master-serial configuration: the FPGA drives CCLK and the PROM's data
// output feeds DIN from the array's first stored bit on, until DONE goes
// high (on a board DONE drives the PROM's CE and stops it) or the programmed
// data ends (only erased cells follow).
void Board::load_fpga_from_prom() {
  Spartan2* target = fpga();
  Xcf* source = prom();
  if (target == nullptr || source == nullptr || target->mode() != ConfigMode::MasterSerial) {
    return;
  }
  const std::vector<std::uint8_t>& bytes = source->memory();
  std::size_t end = bytes.size();
  while (end > 0 && bytes[end - 1] == 0xFF) --end;
  for (std::size_t k = 0; k < 8 * end && !target->done(); ++k) {
    target->serial_configuration_bit(((bytes[k / 8] >> (7 - k % 8)) & 1) != 0);
  }
}

void Board::prom_config_pulse() {
  if (Spartan2* target = fpga()) {
    target->pulse_program();
    load_fpga_from_prom();
  }
}

PrinterPort* Board::decoding(std::uint16_t port) {
  for (auto& candidate : ports_) {
    if (port >= candidate->base() && port - candidate->base() <= 2) return candidate.get();
  }
  return nullptr;
}

bool Board::port_io_granted(std::uint16_t port) {
  if (windows_.port_io_allowed()) return true;
  char text[64];
  std::snprintf(text, sizeof text, "port I/O at 0x%04X without the port-I/O grant", port);
  add_violation(text);
  return false;
}

std::uint8_t Board::port_read(std::uint16_t port) {
  clock_.advance_ns(1000);  // one ISA bus access
  if (!port_io_granted(port)) return 0xFF;
  PrinterPort* target = decoding(port);
  // Nothing decodes the address: the bus floats high.
  const std::uint8_t value =
      target != nullptr ? target->read(static_cast<std::uint16_t>(port - target->base())) : 0xFF;
  trace_.record_port_read(port, value);
  return value;
}

void Board::port_write(std::uint16_t port, std::uint8_t value) {
  clock_.advance_ns(1000);
  if (!port_io_granted(port)) return;
  trace_.record_port_write(port, value);
  if (PrinterPort* target = decoding(port)) {
    target->write(static_cast<std::uint16_t>(port - target->base()), value);
  }
}

Handle Board::open_device(const char* name, std::uint32_t access, std::uint32_t share_mode,
                          std::uint32_t creation, std::uint32_t flags) {
  // Windows matches device names without regard to case.
  static constexpr std::string_view kGiveio = "\\\\.\\giveio";
  if (name == nullptr) return 0;
  const std::string_view requested(name);
  bool giveio = requested.size() == kGiveio.size();
  for (std::size_t i = 0; giveio && i < kGiveio.size(); ++i) {
    giveio = std::tolower(static_cast<unsigned char>(requested[i])) == kGiveio[i];
  }
  if (giveio) return windows_.open_device(name, access, share_mode, creation, flags);
  return creation == kOpenExisting ? usb_.open(name, access, share_mode) : 0;
}

void Board::close_device(Handle device) {
  if (usb_.owns(device)) {
    usb_.close(device);
  } else {
    windows_.close_device(device);
  }
}

bool Board::device_control(Handle device, std::uint32_t code, const void* in, std::uint32_t in_size,
                           void* out, std::uint32_t out_size, std::uint32_t* returned) {
  return usb_.control(device, code, in, in_size, out, out_size, returned);
}

bool Board::cancel_device_io(Handle device) { return usb_.cancel(device); }

const std::vector<std::string>& Board::violations() const { return violations_; }

void Board::add_violation(std::string text) {
  std::lock_guard<std::mutex> lock(violations_mutex_);
  violations_.push_back(std::move(text));
}

namespace {

// The active board lives until the process ends and is never destroyed: the
// library's unload list may still reach it after static destructors ran.
std::mutex& board_mutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}
std::unique_ptr<Board>& board_slot() {
  static auto* slot = new std::unique_ptr<Board>;
  return *slot;
}
std::atomic<Board*> g_active{nullptr};

std::unique_ptr<Board> board_from_environment() {
  const char* text = std::getenv("VELNOR_BENCH");
  std::string error;
  std::unique_ptr<Board> board = Board::parse(text != nullptr ? text : "", &error);
  if (board) return board;
  std::fprintf(stderr, "velnor bench: bad board description: %s\n", error.c_str());
  return Board::parse("chain=;lpt=", &error);
}

}  // namespace

Board& active_board() {
  if (Board* board = g_active.load(std::memory_order_acquire)) return *board;
  std::lock_guard<std::mutex> lock(board_mutex());
  std::unique_ptr<Board>& slot = board_slot();
  if (!slot) {
    slot = board_from_environment();
    g_active.store(slot.get(), std::memory_order_release);
    // The active board outlives the process's static objects, so its PROM
    // image is saved when the process ends rather than when it is destroyed.
    std::atexit([] {
      if (Board* board = g_active.load(std::memory_order_acquire))
        board->save_prom_image_if_asked();
    });
  }
  return *slot;
}

void install_board(std::unique_ptr<Board> board) {
  std::lock_guard<std::mutex> lock(board_mutex());
  std::unique_ptr<Board>& slot = board_slot();
  slot = std::move(board);
  g_active.store(slot.get(), std::memory_order_release);
}

namespace {
// True when the description has an item for the key.
bool sets_key(std::string_view description, std::string_view key) {
  constexpr std::string_view kSpace = " \t\n\r\f\v";
  while (!description.empty()) {
    const std::size_t end = description.find(';');
    const std::string_view item = description.substr(0, end);
    const std::size_t equals = item.find('=');
    std::string_view name = item.substr(0, equals);
    name.remove_prefix(std::min(name.find_first_not_of(kSpace), name.size()));
    name = name.substr(0, name.find_last_not_of(kSpace) + 1);
    if (equals != std::string_view::npos && name == key) return true;
    description = end == std::string_view::npos ? std::string_view() : description.substr(end + 1);
  }
  return false;
}
}  // namespace

std::string description_with_defaults(const char* text,
                                      std::initializer_list<std::string_view> defaults) {
  std::string description =
      text != nullptr && std::string_view(text) != Board::kDefaultDescription ? text : "";
  for (const std::string_view item : defaults) {
    if (!sets_key(description, item.substr(0, item.find('=')))) {
      description += ';';
      description += item;
    }
  }
  return description;
}

std::unique_ptr<Board> make_board(std::string_view description) {
  std::string error;
  std::unique_ptr<Board> board = Board::parse(description, &error);
  if (!board) {
    std::fprintf(stderr, "make_board: bad board description \"%.*s\": %s\n",
                 static_cast<int>(description.size()), description.data(), error.c_str());
    std::abort();
  }
  return board;
}

}  // namespace velnor::bench
