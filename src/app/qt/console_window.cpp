#include "console_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "board/board.h"
#include "board/host_board.h"
#include "runner/disk.h"
#include "runner/stats.h"

namespace orvane::qt {

// The queue.

int QueueConsole::Read() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !input_.empty() || stopped_; });
  if (input_.empty()) return -1;
  const auto c = static_cast<unsigned char>(input_.front());
  input_.erase(0, 1);
  return c;
}

bool QueueConsole::Ready() {
  std::lock_guard lock(mutex_);
  return !input_.empty() || stopped_;
}

bool QueueConsole::Write(const uint8_t* bytes, size_t n) {
  std::unique_lock lock(mutex_);
  // A program that prints faster than the screen takes it waits here.
  changed_.wait(lock, [this] { return output_.size() < kMaxPending || stopped_; });
  if (!stopped_) output_.append(reinterpret_cast<const char*>(bytes), n);
  return true;
}

std::string QueueConsole::TakeOutput() {
  std::string out;
  {
    std::lock_guard lock(mutex_);
    out.swap(output_);
  }
  changed_.notify_all();
  return out;
}

void QueueConsole::Type(const std::string& bytes) {
  {
    std::lock_guard lock(mutex_);
    input_ += bytes;
  }
  changed_.notify_all();
}

void QueueConsole::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

void QueueConsole::Reset() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = false;
    input_.clear();
  }
  changed_.notify_all();
}

// The screen.

namespace {
constexpr int kMargin = 6;
}

TerminalView::TerminalView(const runner::Screen& screen, QWidget* parent) : QWidget(parent), screen_(screen) {
  setObjectName(QStringLiteral("console"));
  setAccessibleName(QStringLiteral("Program console"));
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(10);
  setFont(font);
  const QFontMetrics m(font);
  setFixedSize(2 * kMargin + runner::Screen::kColumns * m.horizontalAdvance(QLatin1Char('M')),
               2 * kMargin + runner::Screen::kRows * m.height());
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TerminalView::paintEvent(QPaintEvent*) {
  const QColor background(0x18, 0x18, 0x18), foreground(0xE8, 0xE8, 0xE8);
  QPainter p(this);
  p.fillRect(rect(), background);
  const QFontMetrics m(font());
  const int cw = m.horizontalAdvance(QLatin1Char('M')), ch = m.height();
  const auto& rows = screen_.Rows();
  for (int r = 0; r < runner::Screen::kRows; ++r) {
    const int y = kMargin + r * ch;
    p.setPen(foreground);
    p.drawText(kMargin, y + m.ascent(), QString::fromLatin1(rows[static_cast<size_t>(r)]));
    // Reverse video: the cell in the text colour, the character in the background's.
    p.setPen(background);
    for (int c = 0; c < runner::Screen::kColumns; ++c) {
      if (!screen_.Reverse(r, c)) continue;
      p.fillRect(kMargin + c * cw, y, cw, ch, foreground);
      p.drawText(kMargin + c * cw, y + m.ascent(), QString(QChar(static_cast<uchar>(rows[static_cast<size_t>(r)][static_cast<size_t>(c)]))));
    }
  }
  // The cursor where the program left it: a block while the screen has the
  // keys, an outline while it has not.
  const QRect cursor(kMargin + std::min(screen_.Column(), runner::Screen::kColumns - 1) * cw,
                     kMargin + screen_.Row() * ch, cw, ch);
  if (hasFocus())
    p.fillRect(cursor, QColor(0xE8, 0xE8, 0xE8, 0x90));
  else {
    p.setPen(QColor(0xE8, 0xE8, 0xE8, 0x90));
    p.drawRect(cursor.adjusted(0, 0, -1, -1));
  }
}

void TerminalView::keyPressEvent(QKeyEvent* event) {
  std::string bytes;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      bytes = "\r";
      break;
    case Qt::Key_Backspace:
      bytes = "\b";
      break;
    case Qt::Key_Delete:
      bytes = "\x7f";
      break;
    case Qt::Key_Tab:
      bytes = "\t";
      break;
    case Qt::Key_Escape:
      bytes = "\x1b";
      break;
    case Qt::Key_Up:
      bytes = runner::CursorKeyBytes(screen_.Type(), runner::CursorKey::kUp);
      break;
    case Qt::Key_Down:
      bytes = runner::CursorKeyBytes(screen_.Type(), runner::CursorKey::kDown);
      break;
    case Qt::Key_Right:
      bytes = runner::CursorKeyBytes(screen_.Type(), runner::CursorKey::kRight);
      break;
    case Qt::Key_Left:
      bytes = runner::CursorKeyBytes(screen_.Type(), runner::CursorKey::kLeft);
      break;
    default:
      for (QChar c : event->text())
        if (c.unicode() < 0x100) bytes += static_cast<char>(c.unicode());
  }
  if (bytes.empty() || !onKeys) return QWidget::keyPressEvent(event);
  onKeys(bytes);
}

// The window.

ConsoleWindow::ConsoleWindow(std::vector<uint8_t> image, runner::SourceLookup lookup, std::string dir,
                             const QString& title, QWidget* parent)
    : QWidget(parent, Qt::Window), image_(std::move(image)), lookup_(std::move(lookup)), dir_(std::move(dir)) {
  setObjectName(QStringLiteral("frmConsole"));
  setWindowTitle(title);
  view_ = new TerminalView(screen_, this);
  view_->onKeys = [this](const std::string& bytes) { console_.Type(bytes); };
  status_ = new QLabel(QStringLiteral("Running..."), this);
  status_->setObjectName(QStringLiteral("lblRunStatus"));
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(true);
  status_->installEventFilter(this);
  stopButton_ = new QPushButton(QStringLiteral("Stop"), this);
  stopButton_->setObjectName(QStringLiteral("cmdStop"));
  stopButton_->setFocusPolicy(Qt::NoFocus);  // keys stay with the program
  connect(stopButton_, &QPushButton::clicked, this, [this] { StopProgram(); });
  // The terminal the program was installed for; the choice is kept for the
  // next run.
  terminalBox_ = new QComboBox(this);
  terminalBox_->setObjectName(QStringLiteral("cboTerminal"));
  terminalBox_->setAccessibleName(QStringLiteral("Terminal"));
  terminalBox_->setToolTip(QStringLiteral("The terminal the program was installed for"));
  for (auto [name, type] : {std::pair{"ANSI", runner::TerminalType::kAnsi}, {"VT52", runner::TerminalType::kVt52},
                            {"ADM-3A", runner::TerminalType::kAdm3a}})
    terminalBox_->addItem(QString::fromLatin1(name), QString::fromLatin1(runner::TerminalTypeName(type)));
  terminalBox_->setFocusPolicy(Qt::ClickFocus);
  runner::TerminalType saved = runner::TerminalType::kAnsi;
  runner::ParseTerminalType(
      QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")).value(QStringLiteral("terminal")).toString().toStdString(),
      saved);
  terminalBox_->setCurrentIndex(static_cast<int>(saved));
  screen_.SetType(saved);
  connect(terminalBox_, &QComboBox::activated, this, [this](int index) {
    const std::string name = terminalBox_->itemData(index).toString().toStdString();
    runner::TerminalType type = runner::TerminalType::kAnsi;
    runner::ParseTerminalType(name, type);
    screen_.SetType(type);
    QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")).setValue(QStringLiteral("terminal"), QString::fromStdString(name));
    view_->setFocus();  // the keys go back to the program
  });
  auto* terminalLabel = new QLabel(QStringLiteral("&Terminal:"), this);
  terminalLabel->setBuddy(terminalBox_);
  // The board a program assembled as Intel HEX runs on; shown for those only.
  boardBox_ = new QComboBox(this);
  boardBox_->setObjectName(QStringLiteral("cboBoard"));
  boardBox_->setAccessibleName(QStringLiteral("Board"));
  boardBox_->setFocusPolicy(Qt::ClickFocus);
  boardBox_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  connect(boardBox_, &QComboBox::activated, this, [this](int index) { OnBoardChosen(index); });
  boardLabel_ = new QLabel(QStringLiteral("&Board:"), this);
  boardLabel_->setBuddy(boardBox_);
  boardLabel_->hide();
  boardBox_->hide();
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(boardLabel_);
  bottom->addWidget(boardBox_);
  bottom->addWidget(terminalLabel);
  bottom->addWidget(terminalBox_);
  bottom->addWidget(stopButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(view_);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
}

ConsoleWindow::~ConsoleWindow() {
  StopProgram();
  if (worker_.joinable()) worker_.join();
}

namespace {

const QString kBoardKey = QStringLiteral("board");
const QString kBoardFileEntry = QStringLiteral("Board file...");

QSettings Settings() { return QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")); }

// The window's console as the board's serial line. Its input never ends:
// a program waits for the next key until Stop.
class QueueLine final : public board::SerialLine {
 public:
  explicit QueueLine(QueueConsole& c) : c_(c) {}
  bool Ready() override { return c_.Ready(); }
  int Read() override { return c_.Read(); }
  bool Ended() override { return false; }
  void Write(uint8_t b) override { c_.Write(&b, 1); }

 private:
  QueueConsole& c_;
};

}  // namespace

void ConsoleWindow::SetBoardProgram(std::string hex) {
  onBoard_ = true;
  hex_ = std::move(hex);
  FillBoards(Settings().value(kBoardKey, QString::fromLatin1(board::kDefaultBoard)).toString());
  boardLabel_->show();
  boardBox_->show();
}

void ConsoleWindow::FillBoards(const QString& chosen) {
  boardBox_->clear();
  for (const board::Profile& p : board::Profiles()) {
    boardBox_->addItem(QString::fromStdString(p.name), QString::fromStdString(p.name));
    boardBox_->setItemData(boardBox_->count() - 1, QString::fromStdString(p.name + ": " + p.Describe()),
                           Qt::ToolTipRole);
  }
  int at = boardBox_->findData(chosen);
  if (at < 0 && !chosen.isEmpty()) {
    // A board file: its name in the box, its path in the tooltip.
    boardBox_->addItem(QFileInfo(chosen).fileName(), chosen);
    boardBox_->setItemData(boardBox_->count() - 1, chosen, Qt::ToolTipRole);
    at = boardBox_->count() - 1;
  }
  boardBox_->addItem(kBoardFileEntry, QString());
  boardBox_->setItemData(boardBox_->count() - 1, QStringLiteral("A board described in a file of your own"),
                         Qt::ToolTipRole);
  boardIndex_ = at < 0 ? 0 : at;
  boardBox_->setCurrentIndex(boardIndex_);
  boardBox_->setToolTip(boardBox_->itemData(boardIndex_, Qt::ToolTipRole).toString());
}

QString ConsoleWindow::BoardChoice() const { return boardBox_->itemData(boardIndex_).toString(); }

void ConsoleWindow::OnBoardChosen(int index) {
  QString chosen = boardBox_->itemData(index).toString();
  if (chosen.isEmpty()) {  // "Board file..."
    const QString current = QFileInfo(BoardChoice()).absolutePath();
    chosen = boardFileDialog ? boardFileDialog()
                             : QFileDialog::getOpenFileName(this, QStringLiteral("Board file"), current,
                                                            QStringLiteral("Board file (*.board *.txt);;All files (*)"));
    view_->setFocus();
    if (chosen.isEmpty()) {
      boardBox_->setCurrentIndex(boardIndex_);
      return;
    }
    // A mistake in the file is said here, and the run stays on its board.
    board::Profile profile;
    std::string error;
    if (!board::FindProfile(QFile::encodeName(chosen).toStdString(), profile, error)) {
      boardBox_->setCurrentIndex(boardIndex_);
      status_->setText(QString::fromStdString(error));
      return;
    }
    chosen = QFileInfo(chosen).absoluteFilePath();
  }
  view_->setFocus();  // the keys go back to the program
  Settings().setValue(kBoardKey, chosen);
  FillBoards(chosen);
  Restart();
}

void ConsoleWindow::Restart() {
  StopProgram();
  if (worker_.joinable()) worker_.join();
  timer_.stop();
  console_.TakeOutput();
  console_.Reset();
  stop_ = false;
  done_ = false;
  finished_ = false;
  result_ = {};
  const runner::TerminalType type = screen_.Type();
  screen_ = runner::Screen(type);
  view_->update();
  status_->setText(QStringLiteral("Running..."));
  status_->unsetCursor();
  status_->setToolTip(QString());
  stopButton_->setEnabled(true);
  Start();
}

void ConsoleWindow::Start() {
  if (onBoard_) {
    worker_ = std::thread([this, choice = QFile::encodeName(BoardChoice()).toStdString()] {
      runner::RunResult r;
      board::Profile profile;
      std::string error;
      if (!board::FindProfile(choice, profile, error)) {
        r.status = runner::kUsage, r.message = error;
      } else {
        QueueLine line(console_);
        board::BoardOptions options;
        options.source = lookup_;
        options.stop = &stop_;
        options.realTime = true;  // delay loops last as long as on the board
        board::Board machine(profile, line, options);
        if (machine.LoadHex(hex_, error))
          r = machine.Run();
        else
          r.status = runner::kUsage, r.message = error;
      }
      result_ = std::move(r);
      done_ = true;
    });
    timer_.start(4);
    view_->setFocus();
    return;
  }
  worker_ = std::thread([this] {
    runner::RunResult r;
    runner::Disk disk;
    runner::RunOptions options;
    options.source = lookup_;
    options.stop = &stop_;
    // The program is the one being written here: a BDOS function CP/M 2.2
    // does not have is a mistake to show, not old software to humour.
    options.strict = true;
    std::string error;
    if (!disk.Open(dir_)) {
      r.status = runner::kUsage, r.message = disk.error;
    } else {
      runner::Machine machine(console_, disk, options);
      if (machine.Load(image_, {}, error))
        r = machine.Run();
      else
        r.status = runner::kUsage, r.message = error;
    }
    result_ = std::move(r);
    done_ = true;
  });
  timer_.start(4);
  view_->setFocus();
}

void ConsoleWindow::StopProgram() {
  stop_ = true;
  console_.Stop();
}

void ConsoleWindow::Poll() {
  const bool done = done_;  // before the output, so that none is left behind
  const std::string out = console_.TakeOutput();
  if (!out.empty()) {
    if (screen_.Write(out) > 0) QApplication::beep();
    view_->update();
  }
  if (!done || finished_) return;
  worker_.join();
  finished_ = true;
  timer_.stop();
  stopButton_->setEnabled(false);
  status_->setText(StatusText());
  if (result_.hasSource) {
    status_->setCursor(Qt::PointingHandCursor);
    status_->setToolTip(QStringLiteral("Click to select the statement in the listing"));
  }
}

QString ConsoleWindow::StatusText() const {
  if (!finished_) return QStringLiteral("Running...");
  const std::string figures = runner::Grouped(result_.tstates) + " T-states, " + runner::Duration(result_.seconds);
  // Stop ends a program wherever it is: between instructions (where the
  // machine names the place) or waiting for a key (it then ends as at the end
  // of its input, which is not a normal end).
  if (stop_ && (result_.message.empty() || result_.status == runner::kStopped)) {
    const std::string where = result_.message.empty() ? "" : result_.message.substr(result_.message.find(' '));
    return QString::fromStdString("Stopped by Stop" + where + "\nafter " + figures);
  }
  if (result_.message.empty())
    return QString::fromStdString("Ended: " + figures +
                                  (result_.status ? ", status " + std::to_string(result_.status) : ""));
  std::string message = result_.message;
  message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
  return QString::fromStdString(message + "\nafter " + figures + ", status " + std::to_string(result_.status));
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == status_ && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && finished_ && result_.hasSource && onSourceLine)
    onSourceLine(result_.where.line);
  return QWidget::eventFilter(watched, event);
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
  StopProgram();
  QWidget::closeEvent(event);
}

}  // namespace orvane::qt
