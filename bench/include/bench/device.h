// One device on the JTAG chain: its TAP controller, instruction register and
// data registers. Models of real parts derive from Device and extend the
// instruction decoding; the base gives BYPASS, IDCODE and the standard's
// behaviour of every register through Capture, Shift and Update.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/tap.h"

namespace velnor::bench {

// A data register as the TAP sees it. Capture loads it in Capture-DR, the
// bit nearest TDO is presented after each falling edge in Shift-DR, Shift
// moves one bit in from TDI on the rising edge, Update acts in Update-DR.
class DataRegister {
 public:
  virtual ~DataRegister() = default;
  virtual void capture() {}
  virtual bool output() const = 0;
  virtual void shift(bool tdi) = 0;
  virtual void update() {}
};

// A fixed-length register with a capture value; after Update its contents
// are available as value().
class ShiftRegister : public DataRegister {
 public:
  ShiftRegister(int length, std::uint64_t capture_value);
  void set_capture_value(std::uint64_t value);
  void capture() override;
  bool output() const override;
  void shift(bool tdi) override;
  void update() override;
  std::uint64_t value() const;  // last updated contents, bit 0 nearest TDO
  int length() const;

 private:
  int length_;
  std::uint64_t capture_value_;
  std::uint64_t bits_ = 0;
  std::uint64_t updated_ = 0;
};

class Device {
 public:
  // idcode includes the version nibble (bits 31..28); ir_capture is the
  // value the instruction register loads in Capture-IR.
  Device(std::string name, std::uint32_t idcode, int ir_length, std::uint32_t ir_capture,
         std::uint32_t idcode_instruction);
  virtual ~Device() = default;
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  const std::string& name() const;
  std::uint32_t idcode() const;
  int ir_length() const;
  TapState state() const;
  std::uint32_t instruction() const;  // the updated instruction

  // Clock edges. rising_edge samples TMS and this device's TDI and moves the
  // TAP; falling_edge updates TDO and performs Update-IR/Update-DR and the
  // reset of Test-Logic-Reset.
  void rising_edge(bool tms, bool tdi);
  void falling_edge();
  // TDO as driven since the last falling edge; false with tdo_enabled() false.
  bool tdo() const;
  bool tdo_enabled() const;  // only in Shift-IR and Shift-DR
  // Power-on: Test-Logic-Reset with the IDCODE instruction.
  void power_on_reset();
  // The supply going away.
  void power_off();

 protected:
  // The register an instruction connects between TDI and TDO. The base knows
  // BYPASS (all ones) and IDCODE; every other code selects BYPASS, as the
  // standard asks of unused codes. Models override and call the base last.
  virtual DataRegister* select_register(std::uint32_t instruction);
  // The value loaded in Capture-IR; models with status bits there override.
  virtual std::uint32_t capture_ir_value() const;
  // Every rising edge, after the TAP moved; models that count clocks in a
  // state (start-up sequences, program waits) use it.
  virtual void on_clock(TapState before, TapState after);
  // Entering Test-Logic-Reset (and at power-on).
  virtual void on_reset();
  // Power returning: everything the supply kept alive starts afresh. Called
  // before the reset that power-on also performs.
  virtual void on_power_on();
  // Power failing: whatever runs inside the part stops where it is.
  virtual void on_power_off();
  std::uint32_t bypass_instruction() const;

 private:
  void reset();  // the IDCODE instruction (or BYPASS without one), then on_reset
  std::string name_;
  std::uint32_t idcode_value_;
  int ir_length_;
  std::uint32_t ir_capture_;
  std::uint32_t idcode_instruction_;
  TapState state_ = TapState::TestLogicReset;
  bool reset_pending_ = false;  // entered Test-Logic-Reset, reset at the next falling edge
  std::uint32_t ir_shift_ = 0;
  std::uint32_t instruction_ = 0;
  bool tdo_ = true;
  bool tdo_enabled_ = false;
  ShiftRegister bypass_;
  ShiftRegister idcode_;
  DataRegister* selected_ = nullptr;
};

// The parts the bench knows. Version is the IDCODE's top nibble.
enum class Part {
  Xc2s15,
  Xc2s30,
  Xc2s50,
  Xc2s100,
  Xc2s150,
  Xc2s200,
  Xcf01s,
  Xcf02s,
  Xcf04s,
};
std::unique_ptr<Device> make_part(Part part, std::uint32_t version);
// A part the library does not know: any IDCODE, IR length and capture value.
std::unique_ptr<Device> make_generic_device(std::uint32_t idcode, int ir_length,
                                            std::uint32_t ir_capture);
// Looks up a part by its name ("xc2s200", "xcf02s", ...); false if unknown.
bool part_from_name(const std::string& name, Part* part);

}  // namespace velnor::bench
