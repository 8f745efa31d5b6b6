// Helpers for driving the real window on the virtual bench: a bitstream in a
// working folder of its own, a library that watches the calls to the one
// loaded by name, and clicks and reads by control name.
#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "form_main.h"
#include "velnor_library.h"

// Texts in test failures as text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace moxtest::testing {

// Makes a fresh folder, makes it the working folder and writes the default
// board's XC2S200 bitstream there as velnor.bit, the name the window offers.
// The previous working folder comes back at the end.
class BitstreamFolder {
 public:
  BitstreamFolder();
  ~BitstreamFolder();
  BitstreamFolder(const BitstreamFolder&) = delete;
  BitstreamFolder& operator=(const BitstreamFolder&) = delete;

 private:
  std::filesystem::path previous_;
  std::filesystem::path folder_;
};

// Passes every call on to another library, and runs a check just before
// the configuration and transfer calls go on.
class CallWatcher final : public VelnorLibrary {
 public:
  CallWatcher(VelnorLibrary& inner, std::function<void()> before_blocking_call)
      : inner_(inner), before_(std::move(before_blocking_call)) {}

  CallResult init(std::uint32_t selector) override { return inner_.init(selector); }
  CallResult free() override { return inner_.free(); }
  CallResult check_daisychain() override { return inner_.check_daisychain(); }
  CallResult get_status(std::uint32_t* idcode, std::uint32_t* status,
                        std::uint32_t* usercode) override {
    return inner_.get_status(idcode, status, usercode);
  }
  CallResult shutdown() override { return inner_.shutdown(); }
  CallResult config(const void* source, std::int32_t* count) override {
    before_();
    return inner_.config(source, count);
  }
  CallResult spi_xfer(std::uint8_t channel, const std::uint8_t* transmit, std::uint8_t* receive,
                      std::int32_t* count) override {
    before_();
    return inner_.spi_xfer(channel, transmit, receive, count);
  }
  CallResult jmem_access(std::uint8_t mode, std::uint32_t address, std::uint8_t* buffer,
                         std::uint32_t length) override {
    return inner_.jmem_access(mode, address, buffer, length);
  }

 private:
  VelnorLibrary& inner_;
  std::function<void()> before_;
};

void click(FormMain& window, const char* button);
void set_text(FormMain& window, const char* edit_box, const QString& text);
QString text_of(FormMain& window, const char* control);
bool is_enabled(FormMain& window, const char* control);
QStringList log_of(FormMain& window);

// Runs `action` inside the application's event loop and returns the code the
// loop ended with. Message boxes that come up meanwhile are read into
// *message_boxes and closed.
int run_until_exit(const std::function<void()>& action, QStringList* message_boxes);

}  // namespace moxtest::testing
