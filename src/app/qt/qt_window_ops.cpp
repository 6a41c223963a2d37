#include "qt_window_ops.h"

#include <algorithm>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QWidget>

#include "twips.h"

namespace orvane::qt {

QString ListingForDisplay(std::string_view text) {
  // Sources are mostly UTF-8; anything else is shown byte for byte as Latin-1.
  QStringDecoder utf8(QStringConverter::Utf8);
  QString shown = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (utf8.hasError()) shown = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

QString ListingLineBreaks::Convert(std::string_view text) {
  QString shown = ListingForDisplay(text);
  // The text document keeps one paragraph per block, and adding a block is
  // what makes a long listing slow to append. Lines go together into blocks
  // of kLinesPerBlock, split by line separators: the box shows, wraps and
  // copies them as separate lines all the same.
  for (QChar& c : shown) {
    if (c != u'\n') continue;
    if (++linesInBlock_ < kLinesPerBlock) {
      c = QChar::LineSeparator;
    } else {
      linesInBlock_ = 0;
    }
  }
  return shown;
}

namespace {

QString FromStd(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QtWindowOps::QtWindowOps(const WindowWidgets& widgets, OpenDialog dialog)
    : w_(widgets), openDialog_(std::move(dialog)) {
  sinceEvents_.start();
}

bool QtWindowOps::IntelHexSelected() { return w_.optIntelHex->isChecked(); }

bool QtWindowOps::CpmSelected() { return w_.optCPMcom->isChecked(); }

std::string QtWindowOps::Text(TextField field) {
  switch (field) {
    case TextField::kSource:
      return w_.txtSource->text().toStdString();
    case TextField::kList:
      return w_.txtList->text().toStdString();
    case TextField::kObject:
      return w_.txtObject->text().toStdString();
    case TextField::kAsmListing:
      FlushListing();
      return w_.txtAsmListing->toPlainText().replace(u'\n', QStringLiteral("\r\n")).toStdString();
  }
  return {};
}

void QtWindowOps::SetText(TextField field, std::string_view text) {
  switch (field) {
    case TextField::kSource:
      w_.txtSource->setText(FromStd(text));
      break;
    case TextField::kList:
      w_.txtList->setText(FromStd(text));
      break;
    case TextField::kObject:
      w_.txtObject->setText(FromStd(text));
      break;
    case TextField::kAsmListing:
      pendingListing_.clear();
      lineBreaks_ = ListingLineBreaks{};
      w_.txtAsmListing->setPlainText(lineBreaks_.Convert(text));
      break;
  }
}

void QtWindowOps::AppendListing(std::string_view text) { pendingListing_.append(text); }

void QtWindowOps::FlushListing() {
  if (pendingListing_.empty()) return;
  // Inserting at the end with a cursor costs only the new text; the view
  // keeps its place.
  QTextCursor cursor(w_.txtAsmListing->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(lineBreaks_.Convert(pendingListing_));
  pendingListing_.clear();
}

void QtWindowOps::SelectIntelHex() {
  // click() checks the button and emits clicked(), which runs the handler.
  w_.optIntelHex->click();
}

void QtWindowOps::SelectCpm() { w_.optCPMcom->click(); }

bool QtWindowOps::ListingChecked() { return w_.chkListing->checkState() != Qt::Unchecked; }

void QtWindowOps::SetVisible(Control control, bool visible) {
  switch (control) {
    case Control::kAssemble:
      w_.cmdAssemble->setVisible(visible);
      break;
    case Control::kAsmListing:
      w_.txtAsmListing->setVisible(visible);
      break;
  }
}

double QtWindowOps::DpiX() const { return w_.window->logicalDpiX(); }

double QtWindowOps::DpiY() const { return w_.window->logicalDpiY(); }

// The window's height is its outer height: client area plus the frame and
// title bar the window manager adds. Before the window is shown, and where no
// window manager draws a frame, the two are the same.
int QtWindowOps::WindowHeight() { return PixelsToTwips(w_.window->frameGeometry().height(), DpiY()); }

void QtWindowOps::SetWindowHeight(int twips) {
  const int frame = w_.window->frameGeometry().height() - w_.window->height();
  const int client = std::max(1, TwipsToPixels(twips, DpiY()) - frame);
  setHeightTwips_ = twips;
  setClientPx_ = client;
  setFramePx_ = frame;
  // A visible window gets its resize event at once; a hidden one when shown.
  w_.window->resize(w_.window->width(), client);
}

void QtWindowOps::FrameMayHaveChanged() {
  const int frame = w_.window->frameGeometry().height() - w_.window->height();
  if (setHeightTwips_ < 0 || frame == setFramePx_ || w_.window->height() != setClientPx_) return;
  SetWindowHeight(setHeightTwips_);
}

void QtWindowOps::SetListingHeight(int twips) {
  w_.txtAsmListing->resize(w_.txtAsmListing->width(), std::max(0, TwipsToPixels(twips, DpiY())));
}

std::string QtWindowOps::ShowOpenDialog(std::string_view filter) {
  if (!openDialog_) return {};
  return openDialog_(QtFilter(filter)).toStdString();
}

void QtWindowOps::ProcessEvents() {
  // Once per statement is far too often for Qt: a short interval keeps the
  // window painting and answering without slowing the run down.
  // A long stretch of listing text is put into the box early, so that each
  // insertion stays short and the window keeps repainting.
  if (sinceEvents_.elapsed() < kEventIntervalMs && pendingListing_.size() < kMaxPendingListing) return;
  FlushListing();
  QCoreApplication::processEvents();
  sinceEvents_.restart();
}

void QtWindowOps::SetStatus(std::string_view text) { w_.lblStatus->setText(FromStd(text)); }

void QtWindowOps::SelectBoxLine(int64_t line) {
  FlushListing();
  constexpr int kPerBlock = ListingLineBreaks::kLinesPerBlock;
  const QTextBlock block = w_.txtAsmListing->document()->findBlockByNumber(static_cast<int>(line / kPerBlock));
  if (line < 0 || !block.isValid()) return;
  // Within the block the lines are split by line separators.
  const QString text = block.text();
  qsizetype start = 0;
  for (int64_t i = line % kPerBlock; i > 0; --i) {
    start = text.indexOf(QChar::LineSeparator, start);
    if (start < 0) return;
    ++start;
  }
  qsizetype end = text.indexOf(QChar::LineSeparator, start);
  if (end < 0) end = text.size();
  QTextCursor cursor(block);
  cursor.setPosition(block.position() + static_cast<int>(start));
  cursor.setPosition(block.position() + static_cast<int>(end), QTextCursor::KeepAnchor);
  w_.txtAsmListing->setTextCursor(cursor);
  w_.txtAsmListing->centerCursor();
  if (w_.txtAsmListing->isVisible()) w_.txtAsmListing->setFocus();
}

void QtWindowOps::SetInputsEnabled(bool enabled) {
  if (!enabled) stopRequested_ = false;  // a new run starts
  for (QWidget* input : {static_cast<QWidget*>(w_.cmdSelectFile), static_cast<QWidget*>(w_.cmdAssemble),
                         static_cast<QWidget*>(w_.txtSource), static_cast<QWidget*>(w_.txtList),
                         static_cast<QWidget*>(w_.txtObject), static_cast<QWidget*>(w_.optIntelHex),
                         static_cast<QWidget*>(w_.optCPMcom), static_cast<QWidget*>(w_.chkListing)}) {
    input->setEnabled(enabled);
  }
}

}  // namespace orvane::qt
