// frmOrvane: the assembler's one window.
#pragma once
#include <functional>
#include <memory>

#include <QByteArray>
#include <QString>
#include <QWidget>

#include "app/window_files.h"
#include "app/window_logic.h"
#include "qt_window_ops.h"

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
  void OnAssembleClicked(bool again = false);
  // The folder, the listing check box and the format, kept between sessions.
  void RestoreSettings();
  void SaveSettings();
  QString RealOpenDialog(const QString& qtFilter);
  void RealErrorReport(const QString& path, const QString& reason);

  WindowWidgets w_;
  WindowFileSystem files_;
  std::unique_ptr<QtWindowOps> ops_;
  std::unique_ptr<WindowLogic> logic_;
  ErrorReport errorReport_;
  RunResult lastRun_;
  bool closeAfterRun_ = false;
  QString dialogFolder_;
};

}  // namespace orvane::qt
