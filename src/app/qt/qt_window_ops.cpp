#include "qt_window_ops.h"

#include <algorithm>

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QWidget>

#include "app/window_logic.h"
#include "twips.h"

namespace orvane::qt {

namespace {

QByteArrayView Bytes(std::string_view text) { return QByteArrayView(text.data(), static_cast<qsizetype>(text.size())); }

QString FromStd(std::string_view text) { return QString::fromUtf8(Bytes(text)); }

// The text decoded as UTF-8 when all of it is; otherwise each line on its own,
// as UTF-8 or else as Latin-1, so that one stray byte spoils no other line.
QString DecodeLines(std::string_view text) {
  QStringDecoder utf8(QStringConverter::Utf8);
  QString shown = utf8.decode(Bytes(text));
  if (!utf8.hasError()) return shown;
  shown.clear();
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(at, end - at);
    QStringDecoder lineDecoder(QStringConverter::Utf8);
    const QString decoded = lineDecoder.decode(Bytes(line));
    shown += lineDecoder.hasError() ? QString::fromLatin1(Bytes(line)) : decoded;
    at = end;
  }
  return shown;
}

}  // namespace

QString ListingForDisplay(std::string_view text) {
  QString shown = DecodeLines(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

void ListingLineBreaks::AppendLine(QStringView line, QString& out) {
  if (line.size() <= kMaxLineChars) {
    out += line;
    return;
  }
  // Laying out one very long line is what makes a text box slow; the box
  // shows its start only.
  qsizetype cut = kMaxLineChars;
  if (line[cut - 1].isHighSurrogate()) --cut;
  out += line.left(cut);
  out += QStringLiteral(" \u2026[cut at %1 of %2 characters]").arg(cut).arg(line.size());
}

bool ListingLineBreaks::ConvertInPlace(QString& shown, std::vector<qsizetype>* starts) {
  // CR LF becomes one line end as the text moves down over the dropped CRs.
  QChar* d = shown.data();
  const qsizetype n = shown.size();
  const size_t firstStart = starts ? starts->size() : 0;
  int inBlock = linesInBlock_;
  qsizetype w = 0, lineStart = 0;
  bool newLine = true;
  for (qsizetype r = 0; r < n; ++r) {
    if (newLine) {
      if (starts) starts->push_back(w);
      lineStart = w;
      newLine = false;
    }
    if (d[r] == u'\r' && r + 1 < n && d[r + 1] == u'\n') continue;
    if (d[r] != u'\n') {
      d[w++] = d[r];
      continue;
    }
    if (w - lineStart > kMaxLineChars) break;
    newLine = true;
    if (++inBlock < kLinesPerBlock) {
      d[w++] = QChar::LineSeparator;
    } else {
      d[w++] = u'\n';
      inBlock = 0;
    }
  }
  if (w - lineStart > kMaxLineChars) {
    if (starts) starts->resize(firstStart);
    return false;
  }
  shown.truncate(w);
  linesInBlock_ = inBlock;
  return true;
}

QString ListingLineBreaks::Convert(std::string_view text, std::vector<qsizetype>* starts) {
  QString shown = DecodeLines(text);
  // The text document keeps one paragraph per block, and adding a block is
  // what makes a long listing slow to append. Lines go together into blocks
  // of kLinesPerBlock, split by line separators: the box shows, wraps and
  // copies them as separate lines all the same.
  if (ConvertInPlace(shown, starts)) return shown;
  // A line to cut: the text is built anew.
  shown = DecodeLines(text);
  QString out;
  out.reserve(shown.size());
  for (qsizetype at = 0; at < shown.size();) {
    qsizetype end = shown.indexOf(u'\n', at);
    const bool ended = end >= 0;
    if (!ended) end = shown.size();
    qsizetype lineEnd = end;
    if (ended && lineEnd > at && shown[lineEnd - 1] == u'\r') --lineEnd;
    if (starts) starts->push_back(out.size());
    AppendLine(QStringView(shown).mid(at, lineEnd - at), out);
    if (ended) {
      if (++linesInBlock_ < kLinesPerBlock) {
        out += QChar::LineSeparator;
      } else {
        out += u'\n';
        linesInBlock_ = 0;
      }
    }
    at = end + 1;
  }
  return out;
}

namespace {

// `name` elided in its middle to `width`.
QString ElideName(const QString& name, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(name) <= width) return name;
  return metrics.elidedText(name, Qt::ElideMiddle, std::max(width, 0));
}

// "listing A, object B" with the two names elided in their middles to fit.
// The F5 hint after them shows while the names fit whole; else the names come
// first and the hint is left to the tooltip.
QString FitNames(const QString& line, const QFontMetrics& metrics, int width) {
  static const QString kList = QStringLiteral("listing "), kObject = QStringLiteral(", object ");
  static const QString kHint = QString::fromLatin1(kAgainHint.data(), static_cast<qsizetype>(kAgainHint.size()));
  if (metrics.horizontalAdvance(line) <= width) return line;
  if (line.endsWith(kHint)) return FitNames(line.chopped(kHint.size()), metrics, width);
  const qsizetype split = line.lastIndexOf(kObject);
  if (!line.startsWith(kList) || split < kList.size()) return metrics.elidedText(line, Qt::ElideMiddle, width);
  const QString list = line.mid(kList.size(), split - kList.size());
  const QString object = line.mid(split + kObject.size());
  const int room = width - metrics.horizontalAdvance(kList + kObject);
  const int listWidth = metrics.horizontalAdvance(list), objectWidth = metrics.horizontalAdvance(object);
  int forList = room / 2;
  if (listWidth + objectWidth <= room) {
    forList = listWidth;
  } else if (listWidth < room / 2) {
    forList = listWidth;
  } else if (objectWidth < room / 2) {
    forList = room - objectWidth;
  }
  return kList + ElideName(list, metrics, forList) + kObject + ElideName(object, metrics, room - forList);
}

// Splits `line` at spaces into at most `lines` lines of `width`, the last one
// elided at its end.
QStringList Wrap(const QString& line, const QFontMetrics& metrics, int width, int lines) {
  QStringList out;
  QString rest = line;
  while (static_cast<int>(out.size()) + 1 < lines && metrics.horizontalAdvance(rest) > width) {
    qsizetype cut = rest.size();
    while (cut > 0 && metrics.horizontalAdvance(rest.left(cut)) > width) cut = rest.lastIndexOf(u' ', cut - 1);
    if (cut <= 0) break;
    out << rest.left(cut);
    rest = rest.mid(cut + 1);
  }
  out << metrics.elidedText(rest, Qt::ElideRight, width);
  return out;
}

}  // namespace

QString FitStatus(const QString& text, const QFontMetrics& metrics, int width, int height) {
  const int room = std::max(1, height / std::max(1, metrics.lineSpacing()));
  const QStringList lines = text.split(u'\n');
  QStringList shown;
  for (qsizetype i = 0; i < lines.size() && shown.size() < room; ++i) {
    const QString& line = lines[i];
    if (line.startsWith(QLatin1String("listing "))) {
      shown << FitNames(line, metrics, width);
      continue;
    }
    // Every line after this one keeps a line of its own.
    const int free = room - static_cast<int>(shown.size()) - static_cast<int>(lines.size() - 1 - i);
    shown << Wrap(line, metrics, width, std::max(1, free));
  }
  return shown.join(u'\n');
}

QtWindowOps::QtWindowOps(const WindowWidgets& widgets, OpenDialog dialog)
    : w_(widgets), openDialog_(std::move(dialog)) {
  sinceEvents_.start();
}

bool QtWindowOps::IntelHexSelected() { return w_.optIntelHex->isChecked(); }

bool QtWindowOps::CpmSelected() { return w_.optCPMcom->isChecked(); }

QLineEdit* QtWindowOps::Edit(TextField field) {
  switch (field) {
    case TextField::kSource:
      return w_.txtSource;
    case TextField::kList:
      return w_.txtList;
    case TextField::kObject:
      return w_.txtObject;
    case TextField::kAsmListing:
      break;
  }
  return nullptr;
}

QtWindowOps::PathText& QtWindowOps::Path(TextField field) { return paths_[static_cast<int>(field)]; }

std::string QtWindowOps::Text(TextField field) {
  if (QLineEdit* edit = Edit(field)) {
    const PathText& path = Path(field);
    if (edit->text() == path.shown) return path.bytes;
    return QFile::encodeName(edit->text()).toStdString();
  }
  FlushListing();
  return w_.txtAsmListing->toPlainText().replace(u'\n', QStringLiteral("\r\n")).toStdString();
}

void QtWindowOps::SetText(TextField field, std::string_view text) {
  if (QLineEdit* edit = Edit(field)) {
    PathText& path = Path(field);
    path.bytes.assign(text);
    path.shown = QFile::decodeName(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    edit->setText(path.shown);
    return;
  }
  pendingListing_.clear();
  lineBreaks_ = ListingLineBreaks{};
  marks_.clear();
  entryFirst_ = 0;
  appendedLines_ = flushedLines_ = std::count(text.begin(), text.end(), '\n');
  w_.txtAsmListing->setPlainText(lineBreaks_.Convert(text));
}

void QtWindowOps::AppendListing(std::string_view text) {
  pendingListing_.append(text);
  entryFirst_ = appendedLines_;
  appendedLines_ += std::count(text.begin(), text.end(), '\n');
}

void QtWindowOps::FlushListing() {
  if (pendingListing_.empty()) return;
  std::vector<qsizetype> starts;
  const QString text = lineBreaks_.Convert(pendingListing_, &starts);
  const int64_t first = flushedLines_;
  flushedLines_ += std::count(pendingListing_.begin(), pendingListing_.end(), '\n');
  pendingListing_.clear();
  // Inserting at the end with a cursor costs only the new text; the view
  // keeps its place. Marked lines go in with their format, the rest plain
  // (not in the format of a marked line before them), in one edit that the
  // box lays out once.
  QTextCursor cursor(w_.txtAsmListing->document());
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::End);
  qsizetype done = 0;
  const auto lineEnd = [&](size_t i) {
    const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : text.size();
    const bool separated = end > starts[i] && (text[end - 1] == u'\n' || text[end - 1] == QChar::LineSeparator);
    return separated ? end - 1 : end;
  };
  for (; !marks_.empty() && marks_.front().first >= first; marks_.pop_front()) {
    const BoxMark& mark = marks_.front();
    for (int64_t line = mark.first; line < mark.last && static_cast<size_t>(line - first) < starts.size(); ++line) {
      const size_t i = static_cast<size_t>(line - first);
      cursor.insertText(text.mid(done, starts[i] - done), QTextCharFormat());
      cursor.insertText(text.mid(starts[i], lineEnd(i) - starts[i]), MarkFormat(mark, line));
      done = lineEnd(i);
    }
  }
  cursor.insertText(text.mid(done), QTextCharFormat());
  cursor.endEditBlock();
}

void QtWindowOps::MarkBoxEntry(int64_t line, bool error) {
  // A run reports a statement's problems after its entry is appended and
  // before the window next takes in pending text: the mark is applied as its
  // lines go into the box.
  if (line < flushedLines_) return;
  if (!marks_.empty() && marks_.back().first == line) {
    marks_.back().error = marks_.back().error || error;
  } else {
    marks_.push_back({line, line == entryFirst_ ? std::max(appendedLines_, line + 1) : line + 1, error});
  }
}

bool QtWindowOps::LineRange(int64_t line, int& start, int& end) const {
  constexpr int kPerBlock = ListingLineBreaks::kLinesPerBlock;
  if (line < 0) return false;
  const QTextBlock block = w_.txtAsmListing->document()->findBlockByNumber(static_cast<int>(line / kPerBlock));
  if (!block.isValid()) return false;
  // Within the block the lines are split by line separators.
  const QString text = block.text();
  qsizetype from = 0;
  for (int64_t i = line % kPerBlock; i > 0; --i) {
    from = text.indexOf(QChar::LineSeparator, from);
    if (from < 0) return false;
    ++from;
  }
  qsizetype to = text.indexOf(QChar::LineSeparator, from);
  if (to < 0) to = text.size();
  start = block.position() + static_cast<int>(from);
  end = block.position() + static_cast<int>(to);
  return true;
}

namespace {

// The palette's base colour tinted toward `toward`: it stands out on light and
// dark themes alike.
QColor Tint(const QColor& base, const QColor& toward) {
  constexpr double kTint = 0.22;
  return QColor::fromRgbF(base.redF() + (toward.redF() - base.redF()) * kTint,
                          base.greenF() + (toward.greenF() - base.greenF()) * kTint,
                          base.blueF() + (toward.blueF() - base.blueF()) * kTint);
}

}  // namespace

QTextCharFormat QtWindowOps::MarkFormat(const BoxMark& mark, int64_t line) const {
  const QColor base = w_.txtAsmListing->palette().color(QPalette::Base);
  QTextCharFormat format;
  format.setBackground(Tint(base, mark.error ? QColor(220, 40, 40) : QColor(230, 170, 0)));
  // The lines after the statement's are its messages.
  if (line > mark.first) format.setFontWeight(QFont::Bold);
  return format;
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
  return QFile::encodeName(openDialog_(QtFilter(filter))).toStdString();
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

void QtWindowOps::SetStatus(std::string_view text) {
  status_ = FromStd(text);
  ShowStatus();
}

void QtWindowOps::ShowStatus() {
  QLabel* label = w_.lblStatus;
  const QRect room = label->contentsRect();
  label->setText(FitStatus(status_, label->fontMetrics(), room.width(), room.height()));
  // The whole text, for the mouse and for screen readers.
  const QString keys = QString::fromLatin1(kStatusKeys);
  const QString full = status_.isEmpty() ? keys : status_ + QStringLiteral("\n\n") + keys;
  label->setToolTip(full);
  label->setAccessibleDescription(full);
}

void QtWindowOps::SelectBoxLine(int64_t line) {
  FlushListing();
  int start = 0, end = 0;
  if (!LineRange(line, start, end)) return;
  QTextCursor cursor(w_.txtAsmListing->document());
  cursor.setPosition(start);
  cursor.setPosition(end, QTextCursor::KeepAnchor);
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
