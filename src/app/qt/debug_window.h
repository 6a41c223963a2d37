// The debugger window: the program's source with breakpoints and the current
// statement, the registers and flags, T-states, the call stack, memory,
// watched symbols and the program's console, with buttons and keys that run
// and step it forwards and backwards. The session runs on a worker thread;
// the window takes what it shows after each stop.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>

#include "app/debug_driver.h"
#include "app/debug_view.h"
#include "runner/screen.h"
#include "console_window.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

namespace orvane::qt {

// The 64 KiB as rows of 16 bytes and their characters; a hex cell takes a byte typed over it.
class MemoryModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  static constexpr int kColumns = 16;
  int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 0x10000 / kColumns; }
  int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : kColumns + 1; }
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  // The memory at a stop, and the one before it (changed bytes are marked).
  void Show(const std::vector<uint8_t>& memory);
  std::function<void(uint16_t address, uint8_t value)> onEdit;
  std::function<void(const QString& why)> onRefused;

 private:
  std::vector<uint8_t> memory_ = std::vector<uint8_t>(0x10000), before_ = std::vector<uint8_t>(0x10000);
  bool editable_ = false;
};

// The source pane: the margin and the Line, Address and T-states columns stay in place
// (a second view over the same rows) while the bytes and statements scroll
// sideways; the pane scrolls sideways only when the user scrolls it.
class SourceTable : public QTableWidget {
 public:
  SourceTable(int rows, int columns, int fixedColumns);
  // The view of the columns that stay; it shares the rows and the selection.
  QTableView* Fixed() const { return fixed_; }
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  // Brings a row into sight unless it is in sight: up and down only.
  void ShowRow(int row);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void updateGeometries() override;

 private:
  void PlaceFixed();
  QTableView* fixed_ = nullptr;
  int fixedColumns_;
};

// Where a window of the given size goes beside another window on the same
// screen (room: the screen's free area; frames: the frame around a client
// area). The size shrinks to the room beside when it may and that room is
// wide enough to use; else the window overlaps the other as little as the
// screen allows. The result is the client area.
QRect PlaceBeside(const QRect& room, const QRect& otherFrame, QSize size, const QMargins& frame, bool mayShrink);

class DebugWindow : public QWidget {
  Q_OBJECT

 public:
  // rows: one per source line; name: the source's in messages; dir: drive A:.
  // board: empty for CP/M, else the board the program runs on.
  DebugWindow(debug::ProgramMap program, std::vector<debugview::SourceRow> rows, std::string name, std::string dir,
              const QString& title, QWidget* parent, std::string board = {});
  ~DebugWindow() override;

  void Start();
  // What tests and screen readers see.
  QString StatusText() const;
  int CurrentLine() const { return state_.line; }
  bool Running() const { return state_.running; }
  const DebugState& State() const { return state_; }
  QString ScreenText() const { return QString::fromLatin1(terminal_.Text()); }
  // The source row of a line, -1 when it has none.
  int RowOfLine(int line) const;
  // "Save Profile..." and "Save Coverage...": ask for a file name (beside the
  // source by default) and write the run's profile or coverage there, while
  // the program is stopped; the status line says what came of it.
  void SaveRecord(DebugDriver::Record what);
  // Answers the save dialog with a path, or empty; the file dialog by
  // default (tests answer it themselves).
  std::function<QString(const QString& caption, const QString& suggested, const QString& filter)> saveDialog;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  QWidget* BuildSource();
  QWidget* BuildRegisters();
  QWidget* BuildMemory();
  QWidget* BuildWatch();
  QWidget* BuildBreakpoints();
  void AddButtons(QWidget* bar);
  void Poll();
  void ShowState();
  void ShowRegisters();
  void ShowWatches();
  void ShowMargin(int row);
  // The Runs column, and the rows that have run shaded while the toggle is
  // on; force: the row's colour was reset and is drawn again.
  void ShowRuns(int force = -1);
  // While the program runs what the panes show is from the last stop: greyed.
  void ShowStale();
  void EnableButtons();
  void Command(DebugDriver::Command command, uint16_t address = 0);
  void ToggleBreakpoint(int row);
  void EditCondition(int row);
  void RunToRow(int row);
  void OnBreakpointEdited(QTreeWidgetItem* item, int column);
  void SendBreakpoint(uint16_t address);
  void GoTo(const QString& text);
  void AddWatch(const QString& name);
  void SaveGeometry();

 public:
  // False when no geometry was kept: the caller places the window.
  bool RestoreGeometry();

 private:
  debug::ProgramMap program_;
  std::vector<debugview::SourceRow> rows_;
  std::map<int, int> rowOfAddress_, rowOfLine_;
  debugview::Symbols symbols_;
  std::string name_, dir_, board_;

  runner::Screen terminal_;
  std::unique_ptr<QueueConsole> console_;
  std::unique_ptr<DebugDriver> driver_;
  DebugState state_, before_;
  int currentRow_ = -1;
  uint64_t shownStop_ = ~uint64_t{0};  // the stop the source pane was last brought to

  struct Breakpoint {
    std::string condition;
    uint32_t hitCount = 0;
    QTreeWidgetItem* item = nullptr;
  };
  std::map<uint16_t, Breakpoint> breakpoints_;

  QTimer timer_;
  std::map<DebugDriver::Command, QPushButton*> buttons_;
  QPushButton* pauseButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QPushButton* saveButton_ = nullptr;  // its menu: Save Profile..., Save Coverage...
  std::map<DebugDriver::Record, QAction*> saveActions_;
  SourceTable* source_ = nullptr;
  QTableWidget* registers_ = nullptr;
  QTableWidget* flags_ = nullptr;
  QLabel* tstates_ = nullptr;
  QListWidget* stack_ = nullptr;
  QTableView* memoryView_ = nullptr;
  MemoryModel* memory_ = nullptr;
  QLineEdit* goTo_ = nullptr;
  QLabel* memoryNote_ = nullptr;
  QTreeWidget* watches_ = nullptr;
  QLineEdit* watchField_ = nullptr;
  QTreeWidget* breakpointList_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  TerminalView* view_ = nullptr;
  QComboBox* terminalBox_ = nullptr;
  QLabel* status_ = nullptr;
  QCheckBox* shadeRun_ = nullptr;
  // Per source row: the count shown in the Runs column, and whether it is shaded.
  std::vector<uint32_t> shownRuns_;
  std::vector<char> shaded_;
  std::vector<QSplitter*> splitters_;
};

}  // namespace orvane::qt
