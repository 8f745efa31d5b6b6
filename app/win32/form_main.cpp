#include "form_main.h"

#include <algorithm>
#include <cstdio>

namespace moxtest {
namespace {

// The layout is drawn in twips, 15 to a pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;
constexpr wchar_t kWindowClass[] = L"MoxtestFormMain";
constexpr wchar_t kLogClass[] = L"MoxtestPictureLog";

// Control identifiers of the buttons, for WM_COMMAND.
enum Control : int { kCmdInit = 101, kCmdConfig, kCmdSpiXfer, kCmdSpiClose, kCmdShutdown, kCmdEnd };

// The sources are UTF-8; the window system takes UTF-16.
std::wstring wide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring out(
      static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)),
      L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()));
  return out;
}

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::string out(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), size,
                                                               nullptr, 0, nullptr, nullptr)),
                  '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()),
                      nullptr, nullptr);
  return out;
}

std::wstring window_text(HWND control) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

FormMain::FormMain(HINSTANCE instance, VelnorLibrary& library) : library_(library) {
  WNDCLASSW form{};
  form.lpfnWndProc = window_procedure;
  form.hInstance = instance;
  form.hCursor = LoadCursor(nullptr, IDC_ARROW);
  form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  form.lpszClassName = kWindowClass;
  RegisterClassW(&form);
  WNDCLASSW log{};
  log.lpfnWndProc = log_procedure;
  log.hInstance = instance;
  log.hCursor = LoadCursor(nullptr, IDC_ARROW);
  log.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  log.lpszClassName = kLogClass;
  RegisterClassW(&log);

  // A fixed window: no resize handling, the controls keep their places.
  constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT client = {0, 0, 7020 / kTwipsPerPixel, 5910 / kTwipsPerPixel};
  AdjustWindowRect(&client, style, FALSE);
  window_ = CreateWindowExW(0, kWindowClass, L"VELNOR SPI TEST", style, CW_USEDEFAULT,
                            CW_USEDEFAULT, client.right - client.left, client.bottom - client.top,
                            nullptr, nullptr, instance, this);
  // The platform's user-interface font.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) != 0)
    font_ = CreateFontIndirectW(&metrics.lfMessageFont);
  create_controls(instance);
  presenter_ = std::make_unique<FormPresenter>(*this, library_);
}

// The controls are made in tab-index order: the window system's tab order is
// the order of creation. Labels are made in their place too, though only
// the controls with WS_TABSTOP take the focus.
void FormMain::create_controls(HINSTANCE instance) {
  auto place = [&](const wchar_t* kind, std::string_view text, DWORD style, int id, int left,
                   int top, int width, int height, DWORD extended = 0) {
    HWND control = CreateWindowExW(
        extended, kind, wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, left / kTwipsPerPixel,
        top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (font_ != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    return control;
  };
  constexpr DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
  constexpr DWORD label = SS_LEFT;
  constexpr DWORD edit = WS_TABSTOP | ES_AUTOHSCROLL;
  cmd_init_ = place(L"BUTTON", "ドライバ初期化", button, kCmdInit, 4800, 240, 1335, 495);
  picture_log_ = place(kLogClass, "", WS_TABSTOP, 0, 120, 120, 3495, 4935, WS_EX_CLIENTEDGE);
  SetWindowLongPtrW(picture_log_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  cmd_config_ = place(L"BUTTON", "コンフィグレーション", button | WS_DISABLED, kCmdConfig, 4800,
                      1560, 1335, 495);
  cmd_spi_xfer_ =
      place(L"BUTTON", "SPI送受信", button | WS_DISABLED, kCmdSpiXfer, 4800, 2280, 1335, 495);
  cmd_spi_close_ =
      place(L"BUTTON", "SPIクローズ", button | WS_DISABLED, kCmdSpiClose, 4800, 3000, 1335, 495);
  cmd_shutdown_ =
      place(L"BUTTON", "FPGA停止", button | WS_DISABLED, kCmdShutdown, 4800, 3840, 1335, 495);
  label_cf_remain_ = place(L"STATIC", "", label, 0, 6360, 1680, 495, 375);
  label_spi_remain_ = place(L"STATIC", "", label, 0, 6360, 2400, 495, 375);
  text_spi_txd_ = place(L"EDIT", "1", edit, 0, 3960, 2400, 735, 375, WS_EX_CLIENTEDGE);
  text_filename_ = place(L"EDIT", "velnor.bit", edit, 0, 1920, 5400, 3135, 270, WS_EX_CLIENTEDGE);
  place(L"STATIC", "ConfigFilePath", label, 0, 240, 5400, 1335, 375);
  cmd_end_ = place(L"BUTTON", "終了", button, kCmdEnd, 4800, 4680, 1335, 495);
  place(L"STATIC", "送信コード", label, 0, 3720, 2040, 855, 255);
}

LRESULT CALLBACK FormMain::window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(l);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<FormMain*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(w) == BN_CLICKED && form != nullptr) form->command(LOWORD(w));
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, w, l);
  }
}

void FormMain::command(int control) {
  switch (control) {
    case kCmdInit:
      return presenter_->click_init();
    case kCmdConfig:
      return presenter_->click_config();
    case kCmdSpiXfer:
      return presenter_->click_spi_transfer();
    case kCmdSpiClose:
      return presenter_->click_spi_close();
    case kCmdShutdown:
      return presenter_->click_shutdown();
    case kCmdEnd:
      return presenter_->click_end();
    default:
      return;
  }
}

LRESULT CALLBACK FormMain::log_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  auto* form = reinterpret_cast<FormMain*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_PAINT:
      if (form != nullptr) {
        form->paint_log(window);
        return 0;
      }
      break;
    case WM_LBUTTONDOWN:
      // A drawing surface takes the focus when clicked, as a tab stop.
      SetFocus(window);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, w, l);
}

// The newest lines that fit, from the top; earlier ones scroll away.
void FormMain::paint_log(HWND log) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(log, &paint);
  HGDIOBJ previous = font_ != nullptr ? SelectObject(dc, font_) : nullptr;
  TEXTMETRICW metrics;
  GetTextMetricsW(dc, &metrics);
  RECT area;
  GetClientRect(log, &area);
  const int spacing = std::max<int>(1, metrics.tmHeight + metrics.tmExternalLeading);
  const std::size_t fit = static_cast<std::size_t>(std::max<int>(1, area.bottom / spacing));
  const std::size_t first = log_lines_.size() > fit ? log_lines_.size() - fit : 0;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  int top = 0;
  for (std::size_t line = first; line < log_lines_.size(); ++line, top += spacing) {
    TextOutW(dc, 1, top, log_lines_[line].c_str(), static_cast<int>(log_lines_[line].size()));
  }
  if (previous != nullptr) SelectObject(dc, previous);
  EndPaint(log, &paint);
}

void FormMain::set_enabled(Button button, bool enabled) {
  HWND control = nullptr;
  switch (button) {
    case Button::Config:
      control = cmd_config_;
      break;
    case Button::Shutdown:
      control = cmd_shutdown_;
      break;
    case Button::SpiTransfer:
      control = cmd_spi_xfer_;
      break;
    case Button::SpiClose:
      control = cmd_spi_close_;
      break;
  }
  EnableWindow(control, enabled ? TRUE : FALSE);
}

void FormMain::set_marker(Marker marker, std::string_view text) {
  SetWindowTextW(marker == Marker::Configuration ? label_cf_remain_ : label_spi_remain_,
                 wide(text).c_str());
}

void FormMain::paint_pending() {
  // Paint now, without handling queued clicks: a click handled here would
  // call the library again from inside the call that is about to start.
  RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// Each log line also goes to the standard output, a record of the session
// that outlives the window.
void FormMain::print_line(std::string_view line) {
  std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
  std::fflush(stdout);
  log_lines_.push_back(wide(line));
  InvalidateRect(picture_log_, nullptr, TRUE);
}

// The file functions take the ANSI code page's bytes.
std::string FormMain::file_name() const {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(text_filename_)) + 1, '\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextA(text_filename_, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string FormMain::transmit_text() const { return utf8(window_text(text_spi_txd_)); }

void FormMain::report_runtime_error(std::string_view message) {
  std::fprintf(stderr, "moxtest: %.*s\n", static_cast<int>(message.size()), message.data());
  MessageBoxW(window_, wide(message).c_str(), L"moxtest", MB_OK | MB_ICONERROR);
  PostQuitMessage(1);
}

void FormMain::end_program() { DestroyWindow(window_); }

}  // namespace moxtest
