// The window operations on real Qt widgets. Heights are in twips, converted
// with the screen's logical resolution.
#pragma once
#include <functional>
#include <string>
#include <string_view>

#include <QElapsedTimer>
#include <QString>

#include "app/window_ops.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace orvane::qt {

struct WindowWidgets {
  QWidget* window = nullptr;
  QPushButton* cmdSelectFile = nullptr;
  QLineEdit* txtSource = nullptr;
  QLineEdit* txtList = nullptr;
  QLineEdit* txtObject = nullptr;
  QPushButton* cmdAssemble = nullptr;
  QCheckBox* chkListing = nullptr;
  QPlainTextEdit* txtAsmListing = nullptr;
  QRadioButton* optIntelHex = nullptr;
  QRadioButton* optCPMcom = nullptr;
  QLabel* lblStatus = nullptr;
};

// The listing's CR LF line ends as the box shows them.
QString ListingForDisplay(std::string_view text);

// Turns listing text into box text whose lines are grouped into blocks of the
// text document, counting lines across calls.
class ListingLineBreaks {
 public:
  static constexpr int kLinesPerBlock = 64;
  QString Convert(std::string_view text);

 private:
  int linesInBlock_ = 0;
};

class QtWindowOps : public WindowOps {
 public:
  // Shows the open dialog with a filter in Qt's form; empty when cancelled.
  using OpenDialog = std::function<QString(const QString& qtFilter)>;

  // How long the run may go without letting the window process its events.
  static constexpr int kEventIntervalMs = 30;
  static constexpr size_t kMaxPendingListing = 256 * 1024;

  QtWindowOps(const WindowWidgets& widgets, OpenDialog dialog);

  bool IntelHexSelected() override;
  bool CpmSelected() override;
  std::string Text(TextField field) override;
  void SetText(TextField field, std::string_view text) override;
  void AppendListing(std::string_view text) override;
  void SelectIntelHex() override;
  void SelectCpm() override;
  bool ListingChecked() override;
  void SetVisible(Control control, bool visible) override;
  int WindowHeight() override;
  void SetWindowHeight(int twips) override;
  void SetListingHeight(int twips) override;
  std::string ShowOpenDialog(std::string_view filter) override;
  void ProcessEvents() override;
  bool StopRequested() override { return stopRequested_; }
  void SetInputsEnabled(bool enabled) override;
  void SetStatus(std::string_view text) override;
  // The box's lines are grouped in blocks of kLinesPerBlock.
  void SelectBoxLine(int64_t line) override;

  // The window was asked to close while a run is going on.
  void RequestStop() { stopRequested_ = true; }
  // Moves the listing text gathered since the last call into the box.
  void FlushListing();
  void SetOpenDialog(OpenDialog dialog) { openDialog_ = std::move(dialog); }
  // The window manager's frame becomes known only after the window is shown:
  // the outer height last set is then made good, unless the user has resized
  // the window since.
  void FrameMayHaveChanged();

  double DpiX() const;
  double DpiY() const;

 private:
  WindowWidgets w_;
  OpenDialog openDialog_;
  std::string pendingListing_;  // appended text not yet in the box, CR LF line ends
  ListingLineBreaks lineBreaks_;
  QElapsedTimer sinceEvents_;
  bool stopRequested_ = false;
  int setHeightTwips_ = -1;  // the outer height last set, and the client height
  int setClientPx_ = -1;     // and frame it was reached with
  int setFramePx_ = 0;
};


}  // namespace orvane::qt
