#include "form_main.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <array>
#include <cstdio>

#include "caption_button.h"

namespace moxtest {
namespace {

// The layout is drawn in twips, 15 to a pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;

QRect twips(int left, int top, int width, int height) {
  return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
               height / kTwipsPerPixel);
}

QString text_of(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The controls are made in tab-index order (the order of FormMain's members),
// so the window's list of children follows the tab order, labels included.
template <typename Control>
Control* place(QWidget* window, const char* name, const QString& text, QRect geometry) {
  auto* control = new Control(text, window);
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(geometry);
  return control;
}

QLabel* place_label(QWidget* window, const char* name, const QString& text, QRect geometry) {
  auto* label = place<QLabel>(window, name, text, geometry);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

}  // namespace

FormMain::FormMain(VelnorLibrary& library)
    : cmd_init_(place<CaptionButton>(this, "CmdINIT", QStringLiteral("ドライバ初期化"),
                                     twips(4800, 240, 1335, 495))),
      picture_log_(new LogArea(this)),
      cmd_config_(place<CaptionButton>(this, "CmdConfig", QStringLiteral("コンフィグレーション"),
                                       twips(4800, 1560, 1335, 495))),
      cmd_spi_xfer_(place<CaptionButton>(this, "CmdSPI_XFER", QStringLiteral("SPI送受信"),
                                         twips(4800, 2280, 1335, 495))),
      cmd_spi_close_(place<CaptionButton>(this, "CmdSPI_CLOSE", QStringLiteral("SPIクローズ"),
                                          twips(4800, 3000, 1335, 495))),
      cmd_shutdown_(place<CaptionButton>(this, "CmdShutdown", QStringLiteral("FPGA停止"),
                                         twips(4800, 3840, 1335, 495))),
      label_cf_remain_(place_label(this, "LabelCFRemain", QString(), twips(6360, 1680, 495, 375))),
      label_spi_remain_(
          place_label(this, "LabelSPIRemain", QString(), twips(6360, 2400, 495, 375))),
      text_spi_txd_(
          place<QLineEdit>(this, "TextSPI_TXD", QStringLiteral("1"), twips(3960, 2400, 735, 375))),
      text_filename_(place<QLineEdit>(this, "TextFilename", QStringLiteral("velnor.bit"),
                                      twips(1920, 5400, 3135, 270))),
      label1_(place_label(this, "Label1", QStringLiteral("ConfigFilePath"),
                          twips(240, 5400, 1335, 375))),
      cmd_end_(place<CaptionButton>(this, "CmdEnd", QStringLiteral("終了"),
                                    twips(4800, 4680, 1335, 495))),
      label2_(
          place_label(this, "Label2", QStringLiteral("送信コード"), twips(3720, 2040, 855, 255))),
      presenter_(*this, library) {
  setWindowTitle(QStringLiteral("VELNOR SPI TEST"));
  setFixedSize(7020 / kTwipsPerPixel, 5910 / kTwipsPerPixel);
  picture_log_->setObjectName(QStringLiteral("PictureLog"));
  picture_log_->setGeometry(twips(120, 120, 3495, 4935));
  const std::array<QWidget*, 9> focus_order = {cmd_init_,     picture_log_,   cmd_config_,
                                               cmd_spi_xfer_, cmd_spi_close_, cmd_shutdown_,
                                               text_spi_txd_, text_filename_, cmd_end_};
  for (std::size_t next = 1; next < focus_order.size(); ++next)
    setTabOrder(focus_order[next - 1], focus_order[next]);

  connect(cmd_init_, &QPushButton::clicked, this, [this] { presenter_.click_init(); });
  connect(cmd_config_, &QPushButton::clicked, this, [this] { presenter_.click_config(); });
  connect(cmd_spi_xfer_, &QPushButton::clicked, this, [this] { presenter_.click_spi_transfer(); });
  connect(cmd_spi_close_, &QPushButton::clicked, this, [this] { presenter_.click_spi_close(); });
  connect(cmd_shutdown_, &QPushButton::clicked, this, [this] { presenter_.click_shutdown(); });
  connect(cmd_end_, &QPushButton::clicked, this, [this] { presenter_.click_end(); });
}

void FormMain::set_enabled(Button button, bool enabled) {
  switch (button) {
    case Button::Config:
      return cmd_config_->setEnabled(enabled);
    case Button::Shutdown:
      return cmd_shutdown_->setEnabled(enabled);
    case Button::SpiTransfer:
      return cmd_spi_xfer_->setEnabled(enabled);
    case Button::SpiClose:
      return cmd_spi_close_->setEnabled(enabled);
  }
}

void FormMain::set_marker(Marker marker, std::string_view text) {
  (marker == Marker::Configuration ? label_cf_remain_ : label_spi_remain_)->setText(text_of(text));
}

void FormMain::paint_pending() {
  // Paint now, without handling queued clicks: a click handled here would
  // call the library again from inside the call that is about to start.
  repaint();
}

void FormMain::print_line(std::string_view line) { picture_log_->print(text_of(line)); }

std::string FormMain::file_name() const {
  return text_filename_->text().toLocal8Bit().toStdString();
}

std::string FormMain::transmit_text() const { return text_spi_txd_->text().toStdString(); }

void FormMain::report_runtime_error(std::string_view message) {
  std::fprintf(stderr, "moxtest: %.*s\n", static_cast<int>(message.size()), message.data());
  QMessageBox::critical(this, QStringLiteral("moxtest"), text_of(message));
  QCoreApplication::exit(1);
}

void FormMain::end_program() { QCoreApplication::exit(0); }

}  // namespace moxtest
