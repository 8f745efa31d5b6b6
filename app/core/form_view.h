// What the test window's logic needs from a window system: enabling the
// buttons, the two progress markers, the log area, the two edit boxes and the
// platform's run-time error report. The Qt window implements it today; a
// native Windows window can implement it the same way.
#pragma once

#include <string>
#include <string_view>

namespace moxtest {

// The buttons whose enabled state the logic changes.
enum class Button { Config, Shutdown, SpiTransfer, SpiClose };

// The progress markers beside the configuration and transfer buttons.
enum class Marker { Configuration, Transfer };

class FormView {
 public:
  virtual ~FormView() = default;

  virtual void set_enabled(Button button, bool enabled) = 0;
  virtual void set_marker(Marker marker, std::string_view text) = 0;
  // Paints what changed so far: the library call that follows blocks the
  // window's thread.
  virtual void paint_pending() = 0;
  // Prints one line below the previous one; the log is never cleared.
  virtual void print_line(std::string_view line) = 0;

  // The bitstream file name as typed, in the bytes the system's file
  // functions take (the local 8-bit encoding).
  virtual std::string file_name() const = 0;
  virtual std::string transmit_text() const = 0;

  // Reports an error the program cannot go on from (a missing library or
  // function, an overflow), then ends the program.
  virtual void report_runtime_error(std::string_view message) = 0;
  virtual void end_program() = 0;
};

}  // namespace moxtest
