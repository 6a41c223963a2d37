// The console a CP/M program runs in from the window: a terminal screen of
// 80 columns that shows what the program prints and sends it the keys typed,
// the terminal the program is installed for (ANSI, VT52, ADM-3A), a Stop
// button, and a status line that says how the run ended. The program
// runs on a worker thread; the screen takes its output every few
// milliseconds.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QTimer>
#include <QWidget>

#include "runner/console.h"
#include "runner/machine.h"
#include "runner/screen.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace orvane::qt {

// The console between the worker thread (the machine's side) and the window.
class QueueConsole final : public runner::Console {
 public:
  static constexpr size_t kMaxPending = 64 * 1024;  // output the program may run ahead by

  int Read() override;
  bool Ready() override;
  bool Write(const uint8_t* bytes, size_t n) override;
  // The window's side.
  std::string TakeOutput();
  void Type(const std::string& bytes);
  void Stop();
  // Waits for keys again after Stop, with nothing typed ahead.
  void Reset();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string input_, output_;
  bool stopped_ = false;
};

class TerminalView : public QWidget {
 public:
  TerminalView(const runner::Screen& screen, QWidget* parent);
  std::function<void(const std::string& bytes)> onKeys;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool focusNextPrevChild(bool) override { return false; }  // Tab is a key for the program

 private:
  const runner::Screen& screen_;
};

class ConsoleWindow : public QWidget {
  Q_OBJECT

 public:
  // dir is drive A:; lookup names the source lines in the messages.
  ConsoleWindow(std::vector<uint8_t> image, runner::SourceLookup lookup, std::string dir, const QString& title,
                QWidget* parent);
  ~ConsoleWindow() override;

  // Makes this a board run: hex (an Intel HEX file's text) runs on the board
  // chosen in the box beside the console, channel A of its serial device
  // being the console. Before Start.
  void SetBoardProgram(std::string hex);
  bool OnBoard() const { return onBoard_; }
  // The board the box shows: a built-in one's name or a board file's path.
  QString BoardChoice() const;
  // Answers "Board file..." with a path, or empty; the file dialog by
  // default (tests answer instead).
  std::function<QString()> boardFileDialog;

  void Start();
  bool Finished() const { return finished_; }
  QString ScreenText() const { return QString::fromLatin1(screen_.Text()); }
  const runner::Screen& Screen() const { return screen_; }
  QString StatusText() const;
  // A click on the status line of a run that stopped at a source line.
  std::function<void(int line)> onSourceLine;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Poll();
  void StopProgram();
  // The board box's entries: the built-in boards, the board file chosen (when
  // one is), and "Board file...".
  void FillBoards(const QString& chosen);
  void OnBoardChosen(int index);
  // Ends the run and starts the program again from the beginning.
  void Restart();

  std::vector<uint8_t> image_;
  runner::SourceLookup lookup_;
  std::string dir_;
  runner::Screen screen_;
  QueueConsole console_;
  std::atomic<bool> stop_{false}, done_{false};
  bool finished_ = false;
  runner::RunResult result_;
  std::thread worker_;
  QTimer timer_;
  TerminalView* view_;
  QLabel* status_;
  QPushButton* stopButton_;
  QComboBox* terminalBox_;
  bool onBoard_ = false;
  std::string hex_;
  QLabel* boardLabel_;
  QComboBox* boardBox_;
  int boardIndex_ = 0;  // the entry the run is on
};

}  // namespace orvane::qt
