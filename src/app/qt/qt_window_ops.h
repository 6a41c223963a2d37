// The window operations on real Qt widgets. Heights are in twips, converted
// with the screen's logical resolution.
#pragma once
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <QElapsedTimer>
#include <QString>

#include "app/window_ops.h"

class QCheckBox;
class QFontMetrics;
class QLabel;
class QTextCharFormat;
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

// The listing's CR LF line ends as the box shows them; each line decoded on
// its own, as UTF-8 or else byte for byte as Latin-1.
QString ListingForDisplay(std::string_view text);

// Turns listing text into box text, counting lines across calls: each line
// decoded on its own, a line longer than kMaxLineChars cut with a mark (the
// listing file keeps it whole), and the lines grouped into blocks of the text
// document.
class ListingLineBreaks {
 public:
  static constexpr int kLinesPerBlock = 64;
  static constexpr qsizetype kMaxLineChars = 240;
  // With `starts`, where each line begins in the text returned.
  QString Convert(std::string_view text, std::vector<qsizetype>* starts = nullptr);

 private:
  // The usual case, no line to cut: converts `shown` where it is; false
  // (nothing counted) when a line is too long.
  bool ConvertInPlace(QString& shown, std::vector<qsizetype>* starts);
  void AppendLine(QStringView line, QString& out);
  int linesInBlock_ = 0;
};

// The status line's text fitted into `width` x `height` pixels: a line too
// long is elided (the file names of "listing A, object B" in their middles,
// other lines at their ends), and a lone long line may take the lines that
// the text leaves free.
QString FitStatus(const QString& text, const QFontMetrics& metrics, int width, int height);

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
  // An entry with an error gets a red tint and bold message lines; one with a
  // warning only, an amber tint. Only the look changes, never the text.
  void MarkBoxEntry(int64_t line, bool error) override;

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

  // Shown with the status text in its tooltip and accessible description.
  static constexpr const char* kStatusKeys = "Click or press F8 for the next problem, Shift+F8 for the previous one";

 private:
  // Lines [first, last) of the box; the first is the statement's.
  struct BoxMark {
    int64_t first, last;
    bool error;
  };
  // A path field keeps the bytes it was given (a file name need not be
  // UTF-8) for as long as it shows them unedited.
  struct PathText {
    std::string bytes;
    QString shown;
  };
  PathText& Path(TextField field);
  QLineEdit* Edit(TextField field);
  void ShowStatus();
  // The document positions of a box line: its start and its end.
  bool LineRange(int64_t line, int& start, int& end) const;
  QTextCharFormat MarkFormat(const BoxMark& mark, int64_t line) const;

  WindowWidgets w_;
  PathText paths_[3];
  QString status_;
  std::deque<BoxMark> marks_;  // in line order, their lines still pending
  int64_t appendedLines_ = 0;  // box lines appended, pending or not
  int64_t entryFirst_ = 0;     // the first line of the last entry appended
  int64_t flushedLines_ = 0;   // box lines in the document
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
