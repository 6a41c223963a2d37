// The debugger window: the program's source with breakpoints and the current
// statement, the registers and flags, T-states, the call stack, memory,
// watched symbols and the program's console, with buttons and keys that run
// and step it forwards and backwards. The session runs on a worker thread;
// the window takes what it shows after each stop.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>

#include "app/debug_driver.h"
#include "app/debug_view.h"
#include "runner/screen.h"
#include "console_window.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTableView;
class QTableWidget;
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

class DebugWindow : public QWidget {
  Q_OBJECT

 public:
  // rows: one per source line; name: the source's in messages; dir: drive A:.
  DebugWindow(debug::ProgramMap program, std::vector<debugview::SourceRow> rows, std::string name, std::string dir,
              const QString& title, QWidget* parent);
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
  std::string name_, dir_;

  runner::Screen terminal_;
  std::unique_ptr<QueueConsole> console_;
  std::unique_ptr<DebugDriver> driver_;
  DebugState state_, before_;
  int currentRow_ = -1;

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
  QTableWidget* source_ = nullptr;
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
  QLabel* status_ = nullptr;
  std::vector<QSplitter*> splitters_;
};

}  // namespace orvane::qt
