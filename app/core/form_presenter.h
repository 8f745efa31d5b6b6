// What the test window does when its buttons are clicked: calls the library,
// prints each result word with its explanation, and enables the buttons the
// result allows. It keeps no state besides what the view shows.
#pragma once

#include <cstdint>
#include <string>

#include "form_view.h"
#include "velnor.h"
#include "velnor_library.h"

namespace moxtest {

// INIT opens USB cable 0.
inline constexpr std::uint32_t kInitCableSelector = VELNOR_CABLE_USB | 0u;

class FormPresenter {
 public:
  // Applies the buttons' state of a freshly opened window.
  FormPresenter(FormView& view, VelnorLibrary& library);

  void click_init();
  void click_config();
  void click_spi_transfer();
  void click_spi_close();
  void click_shutdown();
  void click_end();

 private:
  // The result line, then the explanation when the result has one.
  void print_result(const std::string& line, std::uint32_t result);
  void report(const std::string& error);

  FormView& view_;
  VelnorLibrary& library_;
};

}  // namespace moxtest
