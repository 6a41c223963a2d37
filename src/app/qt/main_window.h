// frmOrvane: the assembler's one window.
#pragma once
#include <functional>
#include <map>
#include <memory>

#include <QByteArray>
#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "app/window_files.h"
#include "app/window_logic.h"
#include "qt_window_ops.h"
#if ORVANE_HAVE_RUNNER
#include "app/debug_view.h"
#include "app/hex_program.h"
#include "app/program.h"
#include "console_window.h"
#include "debug_window.h"
#endif

class QFileInfo;
class QFont;

namespace orvane::qt {

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // Tells the user that a file could not be read or written.
  using ErrorReport = std::function<void(const QString& path, const QString& reason)>;

  // Design size of the client area, in twips.
  static constexpr int kClientWidth = 6975;
  static constexpr int kClientHeight = 6270;

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The file dialog and the error report default to the real dialogs; tests
  // answer them instead.
  void SetOpenDialog(QtWindowOps::OpenDialog dialog);
  void SetErrorReport(ErrorReport report);
  // Selects a source as the file dialog would (a file dropped on the window,
  // or named on the command line).
  // The path is the bytes of the file's name, as the system gives them.
  void OpenFile(const QByteArray& path);
  // Where the file dialog opens: the folder of the source last chosen.
  const QString& DialogFolder() const { return dialogFolder_; }

  // Run (F9, Ctrl+F5): assembles when the source changed, as a CP/M image
  // with "CPM Executable" selected and as Intel HEX with "Intel Hex Output",
  // then runs the program in a console window: on CP/M, or on the board
  // chosen in the box beside the console.
  void RunProgram();
  // Debug (Shift+F9): assembles as Run does, then opens the debugger window
  // stopped at the program's first statement: on CP/M, or with "Intel Hex
  // Output" on the board the run console's box chose last.
  void DebugProgram();

  QtWindowOps& Ops() { return *ops_; }
  WindowLogic& Logic() { return *logic_; }
  const RunResult& LastRun() const { return lastRun_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  // Drops of a source on the window or its fields, and clicks on the status line.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  // Font, accessible name and placeholder text of the three path fields.
  void NamePathFields(const QFont& font);
  void AddKeys();
  void AddMenu();
  void OnAssembleClicked(bool again = false);
  // A run of the window logic, its file problem reported, the window closed
  // afterwards when that was asked for during it.
  void Assemble(const std::function<RunResult()>& run);
  // The folder, the listing check box and the format, kept between sessions.
  void RestoreSettings();
  void SaveSettings();
  QString RealOpenDialog(const QString& qtFilter);
  void RealErrorReport(const QString& path, const QString& reason);

  // The console's status line was clicked on a run that stopped at line.
  void GoToSourceLine(int line);
#if ORVANE_HAVE_RUNNER
  // Assembles for Run or Debug unless the last program is still current;
  // false with the status saying why it cannot be run. info: the source.
  // hex: as Intel HEX for a board, else as a CP/M image.
  bool AssembleForRun(bool debug, QFileInfo& info, bool hex = false);
#endif

  WindowWidgets w_;
  WindowFileSystem files_;
  std::unique_ptr<QtWindowOps> ops_;
  std::unique_ptr<WindowLogic> logic_;
  ErrorReport errorReport_;
  RunResult lastRun_;
  bool closeAfterRun_ = false;
  QString dialogFolder_;
#if ORVANE_HAVE_RUNNER
  // The program the last Run assembled, its source and that file's time
  // then, and the listing-box line of each source line.
  std::unique_ptr<AssembledProgram> program_;
  // For a board: the HEX file's text and its statements where their bytes go.
  bool programHex_ = false;
  std::string hexText_;
  std::unique_ptr<HexProgram> hexProgram_;
  std::string programSource_;
  QDateTime programTime_;
  std::map<int64_t, int64_t> boxLines_;
  QPointer<ConsoleWindow> console_;
  std::vector<debugview::SourceRow> rows_;  // the program's lines, for the debugger
  QPointer<DebugWindow> debugger_;
  // Counts the assemblies for Run and Debug; the debugger's is the one it holds.
  uint64_t programCount_ = 0, debuggerProgram_ = 0;
  std::string debuggerBoard_;  // the board the debugger runs on ("" CP/M)
#endif
};

}  // namespace orvane::qt
