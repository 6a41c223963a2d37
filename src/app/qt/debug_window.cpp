#include "debug_window.h"

#include <tuple>

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "runner/terminal.h"

namespace orvane::qt {

namespace {

namespace dv = debugview;

const QString kSettingsOrganization = QStringLiteral("Orvane");
const QString kSettingsApplication = QStringLiteral("orvane");

// The source table's columns.
enum SourceColumn { kMargin, kLine, kAddress, kTStates, kRuns, kBytes, kText, kSourceColumns };
// The breakpoint list's.
enum BreakColumn { kBreakLine, kBreakAddress, kBreakCondition, kBreakHits, kBreakStatement };

const QColor kCurrentRow(0xFF, 0xF0, 0x9A);
const QColor kRunRow(0xDD, 0xF4, 0xDD);  // a statement that has run, with the shading on
const QColor kStaleRow(0xE4, 0xE4, 0xE4);  // the current row while the program runs on
const QColor kChanged(0xC0, 0x10, 0x10);
const QColor kStale(0x90, 0x90, 0x90);
// A watch row's "Bytes there": the indexes of the bytes changed since the last stop.
constexpr int kChangedBytesRole = Qt::UserRole + 1;

QFont Fixed() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(9.5);
  return font;
}

// The margin's marks: a red dot for a breakpoint (an orange one when it has a
// condition or a hit count), a yellow arrow for the current statement.
QIcon MarginIcon(bool breakpoint, bool conditional, bool current, bool stale) {
  QPixmap pixmap(32, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  if (breakpoint) {
    p.setPen(QPen(QColor(0x70, 0x00, 0x00), 1));
    p.setBrush(conditional ? QColor(0xF0, 0x80, 0x10) : QColor(0xD0, 0x20, 0x20));
    p.drawEllipse(QRectF(2, 2, 12, 12));
  }
  if (current) {
    p.setPen(QPen(stale ? kStale : QColor(0x60, 0x50, 0x00), 1));
    p.setBrush(stale ? QColor(0xD8, 0xD8, 0xD8) : QColor(0xF8, 0xD0, 0x20));
    const QPointF arrow[] = {{16, 4}, {23, 4}, {23, 1}, {30, 8}, {23, 15}, {23, 12}, {16, 12}};
    p.drawPolygon(arrow, 7);
  }
  return QIcon(pixmap);
}

// Where each of RegisterRows' registers stands in the table (row, pair of
// columns): the main set, IX, IY and PC on the left; the alternate set, SP, I
// and R on the right.
constexpr std::pair<int, int> kRegisterPlace[] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {1, 1}, {2, 1},
                                                   {3, 1}, {4, 0}, {5, 0}, {4, 1}, {6, 0}, {5, 1}, {6, 1}};

QTableWidgetItem* Cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

void MarkChanged(QTableWidgetItem* item, bool changed) {
  QFont font = item->font();
  font.setBold(changed);
  item->setFont(font);
  item->setForeground(changed ? QBrush(kChanged) : QBrush());
  item->setToolTip(changed ? QStringLiteral("Changed since the last stop") : QString());
}

// Draws a watch's bytes ("03 14 ...  ..") with the changed bytes, in hex
// and as characters, red and bold.
class WatchBytesDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QVariantList changed = index.data(kChangedBytesRole).toList();
    if (changed.isEmpty()) return QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem o = option;
    initStyleOption(&o, index);
    const QString text = o.text;
    o.text.clear();
    o.widget->style()->drawControl(QStyle::CE_ItemViewItem, &o, painter, o.widget);
    std::vector<bool> red(static_cast<size_t>(text.size()));
    for (const QVariant& v : changed) {
      const int i = v.toInt();
      for (const int at : {i * 3, i * 3 + 1, dv::kWatchBytes * 3 + 1 + i})
        if (at < text.size()) red[static_cast<size_t>(at)] = true;
    }
    painter->save();
    const QRect r = o.widget->style()->subElementRect(QStyle::SE_ItemViewItemText, &o, o.widget).adjusted(3, 0, 0, 0);
    QFont bold = o.font;
    bold.setBold(true);
    int x = r.left();
    for (qsizetype i = 0; i < text.size(); ++i) {
      const bool mark = red[static_cast<size_t>(i)];
      painter->setFont(mark ? bold : o.font);
      painter->setPen(mark ? kChanged : o.palette.color(QPalette::Text));
      painter->drawText(QRect(x, r.top(), r.right() - x, r.height()), Qt::AlignLeft | Qt::AlignVCenter, text.mid(i, 1));
      x += QFontMetrics(o.font).horizontalAdvance(text.at(i));
    }
    painter->restore();
  }
};

}  // namespace

// The source pane.

SourceTable::SourceTable(int rows, int columns, int fixedColumns)
    : QTableWidget(rows, columns), fixedColumns_(fixedColumns) {
  fixed_ = new QTableView(this);
  fixed_->setObjectName(QStringLiteral("tblSourceFixed"));
  fixed_->setAccessibleName(QStringLiteral("Breakpoints, lines, addresses and T-states"));
  fixed_->setModel(model());
  fixed_->setSelectionModel(selectionModel());
  fixed_->setFocusPolicy(Qt::NoFocus);
  fixed_->verticalHeader()->hide();
  fixed_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  fixed_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  fixed_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  fixed_->setFrameShape(QFrame::NoFrame);
  fixed_->setShowGrid(false);
  fixed_->setWordWrap(false);
  fixed_->setSelectionBehavior(QAbstractItemView::SelectRows);
  fixed_->setSelectionMode(QAbstractItemView::SingleSelection);
  fixed_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  fixed_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  for (int c = fixedColumns_; c < columns; ++c) fixed_->setColumnHidden(c, true);
  viewport()->stackUnder(fixed_);
  connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
    if (column < fixedColumns_) {
      fixed_->setColumnWidth(column, size);
      PlaceFixed();
    }
  });
  connect(verticalHeader(), &QHeaderView::sectionResized, this,
          [this](int row, int, int size) { fixed_->setRowHeight(row, size); });
  connect(fixed_->verticalScrollBar(), &QAbstractSlider::valueChanged, verticalScrollBar(), &QAbstractSlider::setValue);
  connect(verticalScrollBar(), &QAbstractSlider::valueChanged, fixed_->verticalScrollBar(), &QAbstractSlider::setValue);
}

void SourceTable::scrollTo(const QModelIndex& index, ScrollHint hint) {
  // Up and down to the row; sideways stays where the user put it.
  const int across = horizontalScrollBar()->value();
  QTableWidget::scrollTo(index, hint);
  horizontalScrollBar()->setValue(across);
}

void SourceTable::ShowRow(int row) {
  const int top = rowViewportPosition(row);
  if (top >= 0 && top + rowHeight(row) <= viewport()->height()) return;
  scrollTo(model()->index(row, 0), PositionAtCenter);
}

void SourceTable::resizeEvent(QResizeEvent* event) {
  QTableWidget::resizeEvent(event);
  PlaceFixed();
}

void SourceTable::updateGeometries() {
  QTableWidget::updateGeometries();
  PlaceFixed();
}

void SourceTable::PlaceFixed() {
  if (!fixed_) return;
  fixed_->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
  fixed_->setFont(font());
  fixed_->setIconSize(iconSize());
  fixed_->horizontalHeader()->setFixedHeight(horizontalHeader()->height());
  int width = 0;
  for (int c = 0; c < fixedColumns_; ++c) {
    if (fixed_->columnWidth(c) != columnWidth(c)) fixed_->setColumnWidth(c, columnWidth(c));
    width += columnWidth(c);
  }
  fixed_->setGeometry(frameWidth(), frameWidth(), width, viewport()->height() + horizontalHeader()->height());
  fixed_->verticalScrollBar()->setValue(verticalScrollBar()->value());
}

QRect PlaceBeside(const QRect& room, const QRect& otherFrame, QSize size, const QMargins& frame, bool mayShrink) {
  constexpr int kGap = 8, kNarrowest = 640;
  const int across = frame.left() + frame.right(), down = frame.top() + frame.bottom();
  // Client widths that fit right and left of the other window.
  const int right = room.right() - otherFrame.right() - kGap - across;
  const int left = otherFrame.left() - room.left() - kGap - across;
  const bool onRight = right >= left;
  if (mayShrink) {
    const int beside = std::max(right, left);
    const int width = beside >= kNarrowest ? std::min(size.width(), beside)
                                           : std::min(size.width(), std::max(kNarrowest, room.width() - across));
    size = QSize(std::max(1, std::min(width, room.width() - across)), std::max(1, std::min(size.height(), room.height() - down)));
  }
  const int outerWidth = size.width() + across, outerHeight = size.height() + down;
  int x = onRight ? otherFrame.right() + 1 + kGap : otherFrame.left() - kGap - outerWidth;
  x = std::max(room.left(), std::min(x, room.right() + 1 - outerWidth));
  const int y = std::max(room.top(), std::min(otherFrame.top(), room.bottom() + 1 - outerHeight));
  return QRect(QPoint(x + frame.left(), y + frame.top()), size);
}

// The memory model.

QVariant MemoryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int base = index.row() * kColumns;
  if (index.column() == kColumns) {
    if (role != Qt::DisplayRole) return {};
    QString chars;
    for (int i = 0; i < kColumns; ++i) chars += QLatin1Char(dv::MemoryChar(memory_[static_cast<size_t>(base + i)]));
    return chars;
  }
  const auto at = static_cast<size_t>(base + index.column());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return QStringLiteral("%1").arg(memory_[at], 2, 16, QLatin1Char('0')).toUpper();
    case Qt::ForegroundRole:
      return memory_[at] != before_[at] ? QVariant(QBrush(kChanged)) : QVariant();
    case Qt::ToolTipRole:
      return QString::fromStdString(dv::HexAddress(static_cast<uint16_t>(at))) +
             (memory_[at] != before_[at] ? QStringLiteral(": changed since the last stop") : QString());
    case Qt::TextAlignmentRole:
      return int(Qt::AlignCenter);
    default:
      return {};
  }
}

QVariant MemoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical)
    return QStringLiteral("%1").arg(section * kColumns, 4, 16, QLatin1Char('0')).toUpper();
  return section == kColumns ? QStringLiteral("Characters") : QStringLiteral("+%1").arg(section, 1, 16).toUpper();
}

Qt::ItemFlags MemoryModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (editable_ && index.column() < kColumns) f |= Qt::ItemIsEditable;
  return f;
}

bool MemoryModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || index.column() >= kColumns) return false;
  const auto byte = dv::ParseByte(value.toString().toStdString());
  if (!byte) {
    if (onRefused) onRefused(QStringLiteral("\"%1\" is not a byte: type two hex digits").arg(value.toString()));
    return false;
  }
  const auto at = static_cast<uint16_t>(index.row() * kColumns + index.column());
  memory_[at] = *byte;
  if (onEdit) onEdit(at, *byte);
  emit dataChanged(index, this->index(index.row(), kColumns));
  return true;
}

void MemoryModel::Show(const std::vector<uint8_t>& memory) {
  if (memory.size() != 0x10000) {
    editable_ = false;
    return;
  }
  before_.swap(memory_);
  memory_ = memory;
  if (!editable_) before_ = memory_;  // the first stop: nothing changed yet
  editable_ = true;
  emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns));
}

// The window.

DebugWindow::DebugWindow(debug::ProgramMap program, std::vector<dv::SourceRow> rows, std::string name,
                         std::string dir, const QString& title, QWidget* parent, std::string board)
    : QWidget(parent, Qt::Window),
      program_(std::move(program)),
      rows_(std::move(rows)),
      name_(std::move(name)),
      dir_(std::move(dir)),
      board_(std::move(board)) {
  for (const auto& symbol : program_.symbols()) symbols_.emplace(symbol.name, symbol.value);
  setObjectName(QStringLiteral("frmDebug"));
  setWindowTitle(title);
  setAccessibleName(title);
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].address >= 0) rowOfAddress_.emplace(rows_[i].address, static_cast<int>(i));
    rowOfLine_.emplace(rows_[i].line, static_cast<int>(i));
  }
  BuildControls();
  connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
}

DebugWindow::~DebugWindow() {
  SaveGeometry();  // also when it goes with the main window, without a close
  timer_.stop();
  if (console_) console_->Stop();
  driver_.reset();  // joins the worker
}

void DebugWindow::BuildControls() {
  auto* bar = new QWidget(this);
  AddButtons(bar);

  auto* left = new QSplitter(Qt::Vertical);
  left->setObjectName(QStringLiteral("splitLeft"));
  left->addWidget(BuildSource());
  // The console: what the program prints, and the keys typed in it go to the program.
  view_ = new TerminalView(terminal_, nullptr);
  view_->onKeys = [this](const std::string& bytes) {
    if (console_) console_->Type(bytes);
  };
  auto* scroll = new QScrollArea;
  scroll->setObjectName(QStringLiteral("consoleArea"));
  scroll->setAccessibleName(QStringLiteral("Program console"));
  scroll->setWidget(view_);
  scroll->setFocusProxy(view_);
  // Above it, its name and the terminal the program was installed for (the
  // run console's setting, kept for both).
  terminalBox_ = new QComboBox;
  terminalBox_->setObjectName(QStringLiteral("cboTerminal"));
  terminalBox_->setAccessibleName(QStringLiteral("Terminal"));
  terminalBox_->setToolTip(QStringLiteral("The terminal the program was installed for"));
  for (auto [caption, type] : {std::pair{"ANSI", runner::TerminalType::kAnsi}, {"VT52", runner::TerminalType::kVt52},
                               {"ADM-3A", runner::TerminalType::kAdm3a}})
    terminalBox_->addItem(QString::fromLatin1(caption), QString::fromLatin1(runner::TerminalTypeName(type)));
  terminalBox_->setFocusPolicy(Qt::ClickFocus);
  runner::TerminalType saved = runner::TerminalType::kAnsi;
  runner::ParseTerminalType(
      QSettings(kSettingsOrganization, kSettingsApplication).value(QStringLiteral("terminal")).toString().toStdString(),
      saved);
  terminalBox_->setCurrentIndex(static_cast<int>(saved));
  terminal_.SetType(saved);
  connect(terminalBox_, &QComboBox::activated, this, [this](int index) {
    const std::string type = terminalBox_->itemData(index).toString().toStdString();
    runner::TerminalType t = runner::TerminalType::kAnsi;
    runner::ParseTerminalType(type, t);
    terminal_.SetType(t);
    QSettings(kSettingsOrganization, kSettingsApplication).setValue(QStringLiteral("terminal"), QString::fromStdString(type));
    view_->update();
    view_->setFocus();  // the keys go back to the program
  });
  auto* consoleLabel = new QLabel(QStringLiteral("&Console (keys typed here go to the program)"));
  consoleLabel->setObjectName(QStringLiteral("lblConsole"));
  consoleLabel->setBuddy(scroll);
  auto* terminalLabel = new QLabel(QStringLiteral("&Terminal:"));
  terminalLabel->setBuddy(terminalBox_);
  auto* consoleBox = new QWidget;
  auto* consoleLayout = new QVBoxLayout(consoleBox);
  consoleLayout->setContentsMargins(0, 0, 0, 0);
  auto* consoleBar = new QHBoxLayout;
  consoleBar->addWidget(consoleLabel, 1);
  consoleBar->addWidget(terminalLabel);
  consoleBar->addWidget(terminalBox_);
  consoleLayout->addLayout(consoleBar);
  consoleLayout->addWidget(scroll, 1);
  left->addWidget(consoleBox);
  left->setStretchFactor(0, 3);
  left->setStretchFactor(1, 2);

  auto* right = new QSplitter(Qt::Vertical);
  right->setObjectName(QStringLiteral("splitRight"));
  right->addWidget(BuildRegisters());
  stack_ = new QListWidget;
  stack_->setObjectName(QStringLiteral("lstCallStack"));
  stack_->setAccessibleName(QStringLiteral("Call stack"));
  stack_->setToolTip(QStringLiteral("The calls not yet returned from, innermost first: click one to see its line"));
  stack_->setFont(Fixed());
  connect(stack_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    const int row = RowOfLine(item->data(Qt::UserRole).toInt());
    if (row < 0) return;
    source_->setCurrentCell(row, kText);
    source_->ShowRow(row);
  });
  auto* stackBox = new QWidget;
  auto* stackLayout = new QVBoxLayout(stackBox);
  stackLayout->setContentsMargins(0, 0, 0, 0);
  auto* stackLabel = new QLabel(QStringLiteral("Call stack"));
  stackLabel->setBuddy(stack_);
  stackLayout->addWidget(stackLabel);
  stackLayout->addWidget(stack_);
  right->addWidget(stackBox);
  tabs_ = new QTabWidget;
  tabs_->setObjectName(QStringLiteral("tabsDebug"));
  tabs_->setAccessibleName(QStringLiteral("Memory, watched symbols and breakpoints"));
  tabs_->addTab(BuildMemory(), QStringLiteral("&Memory"));
  tabs_->addTab(BuildWatch(), QStringLiteral("&Watch"));
  tabs_->addTab(BuildBreakpoints(), QStringLiteral("&Breakpoints"));
  right->addWidget(tabs_);
  right->setStretchFactor(0, 2);
  right->setStretchFactor(1, 1);
  right->setStretchFactor(2, 3);

  auto* main = new QSplitter(Qt::Horizontal);
  main->setObjectName(QStringLiteral("splitMain"));
  main->addWidget(left);
  main->addWidget(right);
  main->setStretchFactor(0, 3);
  main->setStretchFactor(1, 2);
  splitters_ = {main, left, right};
  main->setSizes({680, 580});
  left->setSizes({400, 420});
  right->setSizes({230, 120, 420});

  status_ = new QLabel(QStringLiteral("Starting..."));
  status_->setObjectName(QStringLiteral("lblDebugStatus"));
  status_->setAccessibleName(QStringLiteral("Debugger status"));
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(true);
  QFont bold = status_->font();
  bold.setBold(true);
  status_->setFont(bold);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(bar);
  layout->addWidget(main, 1);
  layout->addWidget(status_);
  resize(1280, 820);
}

void DebugWindow::AddButtons(QWidget* bar) {
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  struct Kind {
    const char* name;
    const char* caption;
    QKeySequence key;
    const char* tip;
  };
  using C = DebugDriver::Command;
  const std::pair<C, Kind> commands[] = {
      {C::kContinue, {"cmdContinue", "Continue", QKeySequence(Qt::Key_F5), "Run until a breakpoint, a fault or the end"}},
      {C::kStepInto, {"cmdStepInto", "Step Into", QKeySequence(Qt::Key_F11), "Run one instruction"}},
      {C::kStepOver,
       {"cmdStepOver", "Step Over", QKeySequence(Qt::Key_F10), "Run one statement; a CALL or RST runs until it returns"}},
      {C::kStepOut, {"cmdStepOut", "Step Out", QKeySequence(Qt::SHIFT | Qt::Key_F11), "Run until this routine returns"}},
      {C::kStepBack, {"cmdStepBack", "Step Back", QKeySequence(Qt::SHIFT | Qt::Key_F10), "Undo the last instruction"}},
      {C::kReverseContinue,
       {"cmdReverse", "Reverse", QKeySequence(Qt::SHIFT | Qt::Key_F5),
        "Run backwards to the previous breakpoint or data breakpoint hit, or to the oldest instruction kept"}},
      {C::kRestart,
       {"cmdRestart", "Restart", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F5),
        "Start the program again, keeping the breakpoints"}},
  };
  auto add = [&](const Kind& kind) {
    auto* b = new QPushButton(QString::fromLatin1(kind.caption), bar);
    b->setObjectName(QLatin1String(kind.name));
    b->setAccessibleName(QString::fromLatin1(kind.caption));
    b->setToolTip(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(kind.tip), kind.key.toString(QKeySequence::NativeText)));
    b->setFocusPolicy(Qt::NoFocus);  // keys stay where they are typed
    row->addWidget(b);
    auto* shortcut = new QShortcut(kind.key, this);
    connect(shortcut, &QShortcut::activated, b, [b] {
      if (b->isEnabled()) b->click();
    });
    return b;
  };
  for (const auto& [command, kind] : commands) {
    QPushButton* b = add(kind);
    buttons_[command] = b;
    connect(b, &QPushButton::clicked, this, [this, command = command] { Command(command); });
    if (command == C::kStepOut) {
      pauseButton_ = add({"cmdPause", "Pause", QKeySequence(Qt::Key_F6), "Stop the running program where it is"});
      connect(pauseButton_, &QPushButton::clicked, this, [this] {
        if (driver_) driver_->Pause();
      });
    }
  }
  stopButton_ = add({"cmdDebugStop", "Stop", QKeySequence(Qt::SHIFT | Qt::Key_F6), "End the program"});
  connect(stopButton_, &QPushButton::clicked, this, [this] {
    if (driver_) driver_->Stop();
  });
  row->addStretch(1);
  // The run so far, for KCachegrind and genhtml: a small menu, so the bar
  // keeps its width.
  saveButton_ = new QPushButton(QStringLiteral("Save"), bar);
  saveButton_->setObjectName(QStringLiteral("cmdSave"));
  saveButton_->setAccessibleName(QStringLiteral("Save"));
  saveButton_->setToolTip(QStringLiteral("Save the run's profile or coverage"));
  saveButton_->setFocusPolicy(Qt::NoFocus);
  auto* saveMenu = new QMenu(saveButton_);
  using R = DebugDriver::Record;
  for (const auto& [what, name, caption, tip] :
       {std::tuple{R::kProfile, "actSaveProfile", "Save Profile...",
                   "Write the times each line ran, its T-states and the calls in callgrind's format"},
        std::tuple{R::kCoverage, "actSaveCoverage", "Save Coverage...",
                   "Write the lines and branches run as an lcov tracefile"}}) {
    QAction* action = saveMenu->addAction(QString::fromLatin1(caption));
    action->setObjectName(QLatin1String(name));
    action->setToolTip(QString::fromLatin1(tip));
    saveActions_[what] = action;
    connect(action, &QAction::triggered, this, [this, what = what] { SaveRecord(what); });
  }
  saveMenu->setToolTipsVisible(true);
  saveButton_->setMenu(saveMenu);
  row->addWidget(saveButton_);
  // The source's own keys.
  connect(new QShortcut(QKeySequence(Qt::Key_F9), this), &QShortcut::activated, this, [this] {
    if (source_->currentRow() >= 0) ToggleBreakpoint(source_->currentRow());
  });
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F10), this), &QShortcut::activated, this, [this] {
    if (source_->currentRow() >= 0) RunToRow(source_->currentRow());
  });
}

QWidget* DebugWindow::BuildSource() {
  source_ = new SourceTable(static_cast<int>(rows_.size()), kSourceColumns, kBytes);
  source_->setObjectName(QStringLiteral("tblSource"));
  source_->setAccessibleName(QStringLiteral("Source"));
  source_->setToolTip(QStringLiteral(
      "Click in the margin to set or clear a breakpoint (F9); right-click a line to give it a condition or run to it "
      "(Ctrl+F10)"));
  source_->setHorizontalHeaderLabels({QString(), QStringLiteral("Line"), QStringLiteral("Address"),
                                      QStringLiteral("T-states"), QStringLiteral("Runs"), QStringLiteral("Bytes"),
                                      QStringLiteral("Statement")});
  source_->horizontalHeaderItem(kRuns)->setToolTip(QStringLiteral("How often the statement has run in this session"));
  source_->setFont(Fixed());
  source_->verticalHeader()->hide();
  source_->verticalHeader()->setDefaultSectionSize(QFontMetrics(Fixed()).height() + 4);
  source_->setSelectionBehavior(QAbstractItemView::SelectRows);
  source_->setSelectionMode(QAbstractItemView::SingleSelection);
  source_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  source_->setShowGrid(false);
  source_->setWordWrap(false);
  source_->setIconSize(QSize(32, 16));
  source_->setUpdatesEnabled(false);
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    const dv::SourceRow& r = rows_[static_cast<size_t>(i)];
    source_->setItem(i, kMargin, Cell(QString()));
    auto* line = Cell(QString::number(r.line));
    line->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    source_->setItem(i, kLine, line);
    source_->setItem(i, kAddress, Cell(r.address < 0 ? QString() : QString::fromStdString(dv::HexAddress(
                                                                        static_cast<uint16_t>(r.address))).chopped(1)));
    auto* tstates = Cell(QString::fromStdString(r.tstates));
    tstates->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    source_->setItem(i, kTStates, tstates);
    auto* runs = Cell(QString());
    runs->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    source_->setItem(i, kRuns, runs);
    source_->setItem(i, kBytes, Cell(QString::fromStdString(r.bytes)));
    source_->setItem(i, kText, Cell(QString::fromLatin1(r.text)));
  }
  source_->setUpdatesEnabled(true);
  QHeaderView* h = source_->horizontalHeader();
  h->setSectionResizeMode(kMargin, QHeaderView::Fixed);
  source_->setColumnWidth(kMargin, 40);
  for (int c : {kLine, kAddress, kTStates, kRuns, kBytes, kText}) h->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  shownRuns_.assign(rows_.size(), 0);
  shaded_.assign(rows_.size(), 0);
  connect(source_, &QTableWidget::cellClicked, this, [this](int row, int column) {
    if (column == kMargin) ToggleBreakpoint(row);
  });
  connect(source_->Fixed(), &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
    if (index.column() == kMargin) ToggleBreakpoint(index.row());
  });
  source_->setContextMenuPolicy(Qt::CustomContextMenu);
  source_->Fixed()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(source_->Fixed(), &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    emit source_->customContextMenuRequested(source_->viewport()->mapFromGlobal(source_->Fixed()->viewport()->mapToGlobal(at)));
  });
  connect(source_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const int row = source_->rowAt(at.y());
    if (row < 0) return;
    source_->selectRow(row);
    QMenu menu(this);
    menu.addAction(QStringLiteral("Set or clear breakpoint\tF9"), this, [this, row] { ToggleBreakpoint(row); });
    menu.addAction(QStringLiteral("Condition and hit count..."), this, [this, row] { EditCondition(row); });
    QAction* runTo = menu.addAction(QStringLiteral("Run to this line\tCtrl+F10"), this, [this, row] { RunToRow(row); });
    runTo->setEnabled(!state_.running && !state_.ended && !state_.closed);
    const int address = rows_[static_cast<size_t>(row)].address;
    if (address >= 0)
      menu.addAction(QStringLiteral("Show in memory"), this, [this, address] { GoTo(QString::number(address)); });
    menu.exec(source_->viewport()->mapToGlobal(at));
  });
  // Under the pane: the lines that have run in this session, shaded; the
  // choice is kept.
  auto* pane = new QWidget;
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(source_, 1);
  // The lines that have run in this session, shaded; the choice is kept.
  shadeRun_ = new QCheckBox(QStringLiteral("Shade lines run"));
  shadeRun_->setObjectName(QStringLiteral("chkShadeRun"));
  shadeRun_->setAccessibleName(QStringLiteral("Shade lines run"));
  shadeRun_->setToolTip(QStringLiteral("Shade the statements that have run in this session (the Runs column counts them)"));
  shadeRun_->setFocusPolicy(Qt::NoFocus);
  shadeRun_->setChecked(
      QSettings(kSettingsOrganization, kSettingsApplication).value(QStringLiteral("shadeRun"), true).toBool());
  connect(shadeRun_, &QCheckBox::toggled, this, [this](bool on) {
    QSettings(kSettingsOrganization, kSettingsApplication).setValue(QStringLiteral("shadeRun"), on);
    ShowRuns();
  });
  layout->addWidget(shadeRun_);
  return pane;
}

QWidget* DebugWindow::BuildRegisters() {
  auto* box = new QWidget;
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  registers_ = new QTableWidget(0, 2);
  registers_->setObjectName(QStringLiteral("tblRegisters"));
  registers_->setAccessibleName(QStringLiteral("Registers"));
  registers_->setToolTip(QStringLiteral(
      "Values changed since the last stop are red. Double-click a value to change it (hex digits), a register "
      "pair's name to see memory there"));
  registers_->setHorizontalHeaderLabels({QStringLiteral("Register"), QStringLiteral("Value")});
  registers_->verticalHeader()->hide();
  registers_->setFont(Fixed());
  registers_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  registers_->verticalHeader()->setDefaultSectionSize(QFontMetrics(Fixed()).height() + 2);
  registers_->horizontalHeader()->setStretchLastSection(true);
  const auto names = dv::RegisterRows({}, {});
  registers_->setRowCount(static_cast<int>(names.size()) / 2);
  // Two registers a row: the main set on the left, the alternate set and the rest on the right.
  registers_->setColumnCount(4);
  registers_->setHorizontalHeaderLabels(
      {QStringLiteral("Register"), QStringLiteral("Value"), QStringLiteral("Register"), QStringLiteral("Value")});
  for (size_t i = 0; i < names.size(); ++i) {
    const auto [row, pair] = kRegisterPlace[i];
    registers_->setItem(row, pair * 2, Cell(QString::fromStdString(names[i].name)));
    QTableWidgetItem* value = Cell(QString());
    value->setData(Qt::UserRole, QString::fromStdString(names[i].name));
    value->setFlags(value->flags() | Qt::ItemIsEditable);
    registers_->setItem(row, pair * 2 + 1, value);
  }
  connect(registers_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    const QString name = item->data(Qt::UserRole).toString();
    if (name.isEmpty() || !driver_) return;
    if (state_.running || state_.ended || state_.closed) {
      ShowRegisters();
      if (state_.running) ShowStale();
      return;
    }
    const int bits = name.size() == 1 ? 8 : 16;
    const auto value = dv::ParseValue(item->text().toStdString(), bits, symbols_);
    if (!value) {
      status_->setText(QStringLiteral("\"%1\" is not a value for %2").arg(item->text(), name));
      ShowRegisters();
      return;
    }
    driver_->SetRegister(name.toStdString(), *value);
  });
  registers_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  registers_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  registers_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  registers_->setMinimumHeight(registers_->horizontalHeader()->sizeHint().height() +
                               7 * registers_->verticalHeader()->defaultSectionSize() + 4);
  connect(registers_, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
    const QTableWidgetItem* name = registers_->item(row, column);
    if (column % 2 == 0 && name && name->text().size() >= 2) GoTo(name->text());
  });
  flags_ = new QTableWidget(1, 8);
  flags_->setObjectName(QStringLiteral("tblFlags"));
  flags_->setAccessibleName(QStringLiteral("Flags"));
  flags_->setToolTip(QStringLiteral("The flags in F; those changed since the last stop are red"));
  flags_->setFont(Fixed());
  flags_->verticalHeader()->hide();
  flags_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  flags_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  flags_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QStringList flagNames;
  for (const dv::Shown& f : dv::FlagRows(0, 0)) flagNames << QString::fromStdString(f.name);
  flags_->setHorizontalHeaderLabels(flagNames);
  flags_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  for (int c = 0; c < 8; ++c) {
    flags_->setItem(0, c, Cell(QString()));
    flags_->item(0, c)->setTextAlignment(Qt::AlignCenter);
  }
  flags_->setFixedHeight(flags_->horizontalHeader()->sizeHint().height() + flags_->rowHeight(0) + 4);
  tstates_ = new QLabel;
  tstates_->setObjectName(QStringLiteral("lblTStates"));
  tstates_->setAccessibleName(QStringLiteral("T-states"));
  tstates_->setTextFormat(Qt::PlainText);
  tstates_->setWordWrap(true);
  auto* label = new QLabel(QStringLiteral("Registers"));
  label->setBuddy(registers_);
  layout->addWidget(tstates_);
  layout->addWidget(label);
  layout->addWidget(registers_, 1);
  layout->addWidget(flags_);
  return box;
}

QWidget* DebugWindow::BuildMemory() {
  auto* box = new QWidget;
  auto* layout = new QVBoxLayout(box);
  auto* row = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("&Go to:"));
  goTo_ = new QLineEdit;
  goTo_->setObjectName(QStringLiteral("txtGoTo"));
  goTo_->setAccessibleName(QStringLiteral("Go to address"));
  goTo_->setPlaceholderText(QStringLiteral("address, register or symbol"));
  goTo_->setToolTip(QStringLiteral("An address (0100H, &H100, 256), a register pair (HL, SP, ...) or a symbol, then Enter"));
  label->setBuddy(goTo_);
  connect(goTo_, &QLineEdit::returnPressed, this, [this] { GoTo(goTo_->text()); });
  row->addWidget(label);
  row->addWidget(goTo_, 1);
  layout->addLayout(row);
  memory_ = new MemoryModel(this);
  memory_->onEdit = [this](uint16_t address, uint8_t value) {
    if (driver_) driver_->WriteMemory(address, value);
    if (!state_.memory.empty()) state_.memory[address] = value;
    ShowWatches();
    memoryNote_->clear();
  };
  memory_->onRefused = [this](const QString& why) { memoryNote_->setText(why); };
  memoryView_ = new QTableView;
  memoryView_->setObjectName(QStringLiteral("tblMemory"));
  memoryView_->setAccessibleName(QStringLiteral("Memory"));
  memoryView_->setToolTip(QStringLiteral("Double-click a byte to change it"));
  memoryView_->setModel(memory_);
  memoryView_->setFont(Fixed());
  memoryView_->setShowGrid(false);
  memoryView_->setWordWrap(false);
  const QFontMetrics m(Fixed());
  memoryView_->verticalHeader()->setDefaultSectionSize(m.height() + 2);
  memoryView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  memoryView_->verticalHeader()->setFont(Fixed());
  memoryView_->horizontalHeader()->setMinimumSectionSize(8);
  for (int c = 0; c < MemoryModel::kColumns; ++c) memoryView_->setColumnWidth(c, m.horizontalAdvance(QStringLiteral("00")) + 6);
  memoryView_->setColumnWidth(MemoryModel::kColumns, m.horizontalAdvance(QString(17, QLatin1Char('M'))));
  memoryView_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(memoryView_, 1);
  memoryNote_ = new QLabel;
  memoryNote_->setObjectName(QStringLiteral("lblMemoryNote"));
  memoryNote_->setTextFormat(Qt::PlainText);
  layout->addWidget(memoryNote_);
  return box;
}

QWidget* DebugWindow::BuildWatch() {
  auto* box = new QWidget;
  auto* layout = new QVBoxLayout(box);
  watchField_ = new QLineEdit;
  watchField_->setObjectName(QStringLiteral("txtWatch"));
  watchField_->setAccessibleName(QStringLiteral("Symbol to watch"));
  watchField_->setPlaceholderText(QStringLiteral("symbol to watch, then Enter"));
  connect(watchField_, &QLineEdit::returnPressed, this, [this] {
    AddWatch(watchField_->text());
    watchField_->clear();
  });
  watches_ = new QTreeWidget;
  watches_->setObjectName(QStringLiteral("lstWatch"));
  watches_->setAccessibleName(QStringLiteral("Watched symbols"));
  watches_->setToolTip(QStringLiteral(
      "Tick \"Break on write\" to stop right after an instruction writes the symbol's byte; Delete removes a symbol"));
  watches_->setHeaderLabels({QStringLiteral("Symbol"), QStringLiteral("Value"), QStringLiteral("Bytes there"),
                             QStringLiteral("Break on write")});
  watches_->setRootIsDecorated(false);
  watches_->setFont(Fixed());
  watches_->setItemDelegateForColumn(2, new WatchBytesDelegate(watches_));
  connect(watches_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (column != 3 || !driver_) return;
    const auto it = symbols_.find(item->text(0).toStdString());
    if (it != symbols_.end())
      driver_->SetDataBreakpoint(static_cast<uint16_t>(it->second), it->first, item->checkState(3) == Qt::Checked);
  });
  auto* remove = new QShortcut(QKeySequence::Delete, watches_, nullptr, nullptr, Qt::WidgetShortcut);
  connect(remove, &QShortcut::activated, this, [this] {
    QTreeWidgetItem* item = watches_->currentItem();
    if (!item) return;
    if (item->checkState(3) == Qt::Checked) item->setCheckState(3, Qt::Unchecked);
    delete item;
  });
  layout->addWidget(watchField_);
  layout->addWidget(watches_, 1);
  return box;
}

QWidget* DebugWindow::BuildBreakpoints() {
  breakpointList_ = new QTreeWidget;
  breakpointList_->setObjectName(QStringLiteral("lstBreakpoints"));
  breakpointList_->setAccessibleName(QStringLiteral("Breakpoints"));
  breakpointList_->setToolTip(QStringLiteral(
      "Double-click a condition to edit it: NAME OP VALUE, NAME a register, a flag or (X) the byte at X, OP one of "
      "== != < <= > >=, e.g. A == 0 or (COUNT) >= 10. A hit count N stops on the Nth arrival."));
  breakpointList_->setHeaderLabels({QStringLiteral("Line"), QStringLiteral("Address"), QStringLiteral("Condition"),
                                    QStringLiteral("Hit count"), QStringLiteral("Statement")});
  breakpointList_->setRootIsDecorated(false);
  breakpointList_->setFont(Fixed());
  breakpointList_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                   QAbstractItemView::SelectedClicked);
  connect(breakpointList_, &QTreeWidget::itemChanged, this, &DebugWindow::OnBreakpointEdited);
  connect(breakpointList_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    const int row = RowOfLine(item->text(kBreakLine).toInt());
    if (row >= 0) source_->ShowRow(row);
  });
  return breakpointList_;
}

int DebugWindow::RowOfLine(int line) const {
  const auto it = rowOfLine_.find(line);
  return it == rowOfLine_.end() ? -1 : it->second;
}

void DebugWindow::Start() {
  console_ = std::make_unique<QueueConsole>();
  driver_ = std::make_unique<DebugDriver>(program_, *console_, name_, dir_, board_);
  driver_->Start();
  timer_.start(10);
  EnableButtons();
  view_->setFocus();
}

void DebugWindow::Command(DebugDriver::Command command, uint16_t address) {
  if (!driver_ || state_.running || state_.closed) return;
  if (command == DebugDriver::Command::kRestart) {
    // A new screen, and a console that waits for keys again after Stop.
    terminal_ = runner::Screen(terminal_.Type());
    view_->update();
    console_->Reset();
  }
  state_.running = true;
  status_->setText(QStringLiteral("Running..."));
  EnableButtons();
  ShowStale();
  driver_->Post(command, address);
}

void DebugWindow::Poll() {
  if (console_) {
    const std::string out = console_->TakeOutput();
    if (!out.empty()) {
      if (terminal_.Write(out) > 0) QApplication::beep();
      view_->update();
    }
  }
  if (!driver_) return;
  DebugState next;
  if (!driver_->TakeState(next)) return;
  if (next.stops == state_.stops && state_.running) next.running = true;  // a change made while it runs
  if (next.stops != state_.stops) before_ = std::move(state_);
  state_ = std::move(next);
  ShowState();
}

void DebugWindow::ShowState() {
  EnableButtons();
  if (state_.running) {
    status_->setText(QStringLiteral("Running..."));
    ShowStale();
    return;
  }
  // A fault in red, the rest as the window's text.
  QPalette palette = status_->palette();
  palette.setColor(QPalette::WindowText, state_.fault ? kChanged : this->palette().color(QPalette::WindowText));
  status_->setPalette(palette);
  status_->setText(QString::fromStdString(state_.status));
  if (!state_.error.empty()) status_->setText(QString::fromStdString(state_.error) + '\n' + status_->text());
  if (!state_.note.empty()) status_->setText(QString::fromStdString(state_.note) + '\n' + status_->text());
  tstates_->setEnabled(true);
  tstates_->setText(QString::fromStdString(dv::TStatesText(state_.tstates, state_.tstatesSinceStop)));
  ShowRegisters();
  memory_->Show(state_.memory);
  ShowWatches();
  // The current statement: highlighted, with the arrow in the margin, and scrolled to.
  const int old = currentRow_;
  const auto it = rowOfAddress_.find(state_.registers.pc);
  currentRow_ = it == rowOfAddress_.end() ? RowOfLine(state_.line) : it->second;
  if (old >= 0 && old != currentRow_) {
    for (int c = 0; c < kSourceColumns; ++c) source_->item(old, c)->setBackground(QBrush());
    ShowMargin(old);
  }
  ShowRuns(old != currentRow_ ? old : -1);
  if (currentRow_ >= 0) {
    for (int c = 0; c < kSourceColumns; ++c) source_->item(currentRow_, c)->setBackground(kCurrentRow);
    ShowMargin(currentRow_);
    // At a new stop: the current cell (for F9 and Ctrl+F10) without the
    // selection's colour over the highlight, brought into sight. A change
    // made while stopped (a breakpoint, a byte) leaves the pane as it is.
    if (state_.stops != shownStop_) {
      source_->clearSelection();
      source_->selectionModel()->setCurrentIndex(source_->model()->index(currentRow_, kMargin),
                                                 QItemSelectionModel::NoUpdate);
      source_->ShowRow(currentRow_);
    }
  }
  shownStop_ = state_.stops;
  stack_->clear();
  for (const DebugFrame& f : state_.stack) {
    auto* item = new QListWidgetItem(
        QStringLiteral("%1  %2")
            .arg(QString::fromStdString(dv::HexAddress(f.address)),
                 f.line > 0 ? QStringLiteral("line %1: %2").arg(f.line).arg(QString::fromStdString(f.text))
                            : QStringLiteral("(not in the source)")));
    item->setData(Qt::UserRole, f.line);
    stack_->addItem(item);
  }
}

void DebugWindow::ShowRuns(int force) {
  if (state_.runs.size() != 0x10000 || shownRuns_.size() != rows_.size()) return;
  const bool shade = shadeRun_ && shadeRun_->isChecked();
  for (size_t i = 0; i < rows_.size(); ++i) {
    const int address = rows_[i].address;
    if (address < 0) continue;
    const uint32_t runs = state_.runs[static_cast<size_t>(address)];
    const int row = static_cast<int>(i);
    if (runs != shownRuns_[i]) {
      source_->item(row, kRuns)->setText(runs ? QString::number(runs) : QString());
      shownRuns_[i] = runs;
    }
    // The current statement keeps its own colour.
    const bool shaded = shade && runs > 0 && row != currentRow_;
    if (shaded == static_cast<bool>(shaded_[i]) && row != force) continue;
    shaded_[i] = shaded;
    if (row == currentRow_) continue;
    for (int c = 0; c < kSourceColumns; ++c) source_->item(row, c)->setBackground(shaded ? QBrush(kRunRow) : QBrush());
  }
}

void DebugWindow::ShowRegisters() {
  QSignalBlocker block(registers_);
  const bool first = before_.memory.empty();
  const auto rows = dv::RegisterRows(state_.registers, first ? state_.registers : before_.registers);
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto [row, pair] = kRegisterPlace[i];
    QTableWidgetItem* item = registers_->item(row, pair * 2 + 1);
    item->setText(QString::fromStdString(rows[i].value));
    MarkChanged(item, rows[i].changed);
  }
  const auto f = static_cast<uint8_t>(state_.registers.af & 0xFF);
  const auto fBefore = first ? f : static_cast<uint8_t>(before_.registers.af & 0xFF);
  const auto flags = dv::FlagRows(f, fBefore);
  for (size_t i = 0; i < flags.size(); ++i) {
    QTableWidgetItem* item = flags_->item(0, static_cast<int>(i));
    item->setText(QString::fromStdString(flags[i].value));
    MarkChanged(item, flags[i].changed);
  }
}

void DebugWindow::ShowWatches() {
  QSignalBlocker block(watches_);
  for (int i = 0; i < watches_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = watches_->topLevelItem(i);
    const dv::WatchRow w = dv::Watch(item->text(0).toStdString(), symbols_, state_.memory);
    item->setText(1, QString::fromStdString(w.value));
    item->setText(2, QString::fromLatin1(w.bytes));
    for (int c : {1, 2}) item->setForeground(c, QBrush());
    // The bytes that differ from the last stop's.
    QVariantList changed;
    const auto at = symbols_.find(item->text(0).toStdString());
    if (w.known && at != symbols_.end() && before_.memory.size() == 0x10000 && state_.memory.size() == 0x10000)
      for (int b = 0; b < dv::kWatchBytes; ++b) {
        const auto address = static_cast<size_t>((at->second + b) & 0xFFFF);
        if (state_.memory[address] != before_.memory[address]) changed << b;
      }
    item->setData(2, kChangedBytesRole, changed);
    item->setToolTip(2, changed.isEmpty() ? QString() : QStringLiteral("Red: changed since the last stop"));
  }
}

void DebugWindow::ShowMargin(int row) {
  const int address = rows_[static_cast<size_t>(row)].address;
  const auto b = address < 0 ? breakpoints_.end() : breakpoints_.find(static_cast<uint16_t>(address));
  const bool has = b != breakpoints_.end();
  QTableWidgetItem* margin = source_->item(row, kMargin);
  const bool current = row == currentRow_;
  margin->setIcon(MarginIcon(has, has && (!b->second.condition.empty() || b->second.hitCount > 1), current,
                             current && state_.running));
  QString tip;
  if (has) {
    tip = QStringLiteral("Breakpoint");
    if (!b->second.condition.empty()) tip += QStringLiteral(" if ") + QString::fromStdString(b->second.condition);
    if (b->second.hitCount > 1) tip += QStringLiteral(", on arrival %1").arg(b->second.hitCount);
  }
  margin->setToolTip(tip);
  if (current) tip += QString(tip.isEmpty() ? "" : "; ") + (state_.running ? "last stop (running)" : "current statement");
  margin->setData(Qt::AccessibleTextRole, tip);
}

void DebugWindow::ShowStale() {
  for (QTableWidget* table : {registers_, flags_}) {
    QSignalBlocker block(table);
    for (int r = 0; r < table->rowCount(); ++r)
      for (int c = table == flags_ ? 0 : 1; c < table->columnCount(); c += table == flags_ ? 1 : 2)
        if (QTableWidgetItem* item = table->item(r, c)) {
          item->setForeground(kStale);
          item->setToolTip(QStringLiteral("As at the last stop: the program is running"));
        }
  }
  {
    QSignalBlocker block(watches_);
    for (int i = 0; i < watches_->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = watches_->topLevelItem(i);
      item->setData(2, kChangedBytesRole, QVariantList());
      for (int c : {1, 2}) item->setForeground(c, kStale);
    }
  }
  if (currentRow_ >= 0) {
    for (int c = 0; c < kSourceColumns; ++c) source_->item(currentRow_, c)->setBackground(kStaleRow);
    ShowMargin(currentRow_);
  }
  tstates_->setEnabled(false);
}

void DebugWindow::EnableButtons() {
  using C = DebugDriver::Command;
  const bool live = driver_ && !state_.closed;
  const bool stopped = live && !state_.running;
  // Once the program has ended only Restart is left.
  for (const auto& [command, button] : buttons_) button->setEnabled(stopped && (command == C::kRestart || !state_.ended));
  pauseButton_->setEnabled(live && state_.running);
  // Registers are changed while the program is stopped only.
  registers_->setEditTriggers(stopped && !state_.ended ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                                       : QAbstractItemView::NoEditTriggers);
  stopButton_->setEnabled(live && (state_.running || !state_.ended));
  saveButton_->setEnabled(stopped);
  for (const auto& [what, action] : saveActions_) action->setEnabled(stopped);
}

void DebugWindow::SaveRecord(DebugDriver::Record what) {
  const bool profile = what == DebugDriver::Record::kProfile;
  const QString kind = profile ? QStringLiteral("profile") : QStringLiteral("coverage");
  if (!driver_ || state_.closed) return;
  if (state_.running) {
    status_->setText(QStringLiteral("The program is running: pause it to save the %1").arg(kind));
    return;
  }
  const QString name = QString::fromStdString(name_);
  const QString suggested = QDir(QFile::decodeName(QByteArray::fromStdString(dir_)))
                                .filePath(QFileInfo(name).completeBaseName() + (profile ? ".prof" : ".info"));
  const QString caption = profile ? QStringLiteral("Save Profile") : QStringLiteral("Save Coverage");
  const QString filter = profile
                             ? QStringLiteral("Callgrind profile (*.prof *.callgrind callgrind.out.*);;All Files (*)")
                             : QStringLiteral("lcov tracefile (*.info);;All Files (*)");
  const QString path = saveDialog ? saveDialog(caption, suggested, filter)
                                  : QFileDialog::getSaveFileName(this, caption, suggested, filter);
  if (path.isEmpty()) return;
  // The program may have been started while the dialog was open.
  if (state_.running || !driver_->Write(what, QFile::encodeName(path).toStdString()))
    status_->setText(QStringLiteral("The program is running: pause it to save the %1").arg(kind));
}

void DebugWindow::ToggleBreakpoint(int row) {
  const int address = rows_[static_cast<size_t>(row)].address;
  if (address < 0) {
    status_->setText(QStringLiteral("Line %1 has no code for a breakpoint").arg(rows_[static_cast<size_t>(row)].line));
    return;
  }
  const auto at = static_cast<uint16_t>(address);
  QSignalBlocker block(breakpointList_);
  if (const auto it = breakpoints_.find(at); it != breakpoints_.end()) {
    delete it->second.item;
    breakpoints_.erase(it);
    if (driver_) driver_->ClearBreakpoint(at);
  } else {
    Breakpoint& b = breakpoints_[at];
    b.item = new QTreeWidgetItem;
    const dv::SourceRow& r = rows_[static_cast<size_t>(row)];
    b.item->setText(kBreakLine, QString::number(r.line));
    b.item->setText(kBreakAddress, QString::fromStdString(dv::HexAddress(at)));
    b.item->setText(kBreakStatement, QString::fromLatin1(r.text).trimmed());
    b.item->setData(kBreakAddress, Qt::UserRole, address);
    b.item->setFlags(b.item->flags() | Qt::ItemIsEditable);
    // The list in address order.
    int i = 0;
    while (i < breakpointList_->topLevelItemCount() &&
           breakpointList_->topLevelItem(i)->data(kBreakAddress, Qt::UserRole).toInt() < address)
      ++i;
    breakpointList_->insertTopLevelItem(i, b.item);
    SendBreakpoint(at);
  }
  ShowMargin(row);
}

void DebugWindow::EditCondition(int row) {
  const int address = rows_[static_cast<size_t>(row)].address;
  if (address < 0) return ToggleBreakpoint(row);  // says why there is none
  if (!breakpoints_.count(static_cast<uint16_t>(address))) ToggleBreakpoint(row);
  tabs_->setCurrentWidget(breakpointList_);
  QTreeWidgetItem* item = breakpoints_[static_cast<uint16_t>(address)].item;
  breakpointList_->setCurrentItem(item, kBreakCondition);
  breakpointList_->editItem(item, kBreakCondition);
}

void DebugWindow::OnBreakpointEdited(QTreeWidgetItem* item, int column) {
  if (column != kBreakCondition && column != kBreakHits) return;
  const auto at = static_cast<uint16_t>(item->data(kBreakAddress, Qt::UserRole).toInt());
  const auto it = breakpoints_.find(at);
  if (it == breakpoints_.end()) return;
  Breakpoint& b = it->second;
  if (column == kBreakCondition) {
    b.condition = item->text(kBreakCondition).trimmed().toStdString();
  } else {
    bool ok = false;
    const QString text = item->text(kBreakHits).trimmed();
    const uint n = text.toUInt(&ok);
    QSignalBlocker block(breakpointList_);
    if (text.isEmpty() || (ok && n <= 1)) {
      b.hitCount = 0;
      item->setText(kBreakHits, QString());
    } else if (ok) {
      b.hitCount = n;
    } else {
      item->setText(kBreakHits, b.hitCount > 1 ? QString::number(b.hitCount) : QString());
      status_->setText(QStringLiteral("A hit count is a number: stop on that arrival"));
      return;
    }
  }
  SendBreakpoint(at);
  const auto row = rowOfAddress_.find(at);
  if (row != rowOfAddress_.end()) ShowMargin(row->second);
}

void DebugWindow::SendBreakpoint(uint16_t address) {
  const Breakpoint& b = breakpoints_[address];
  if (driver_) driver_->SetBreakpoint({address, b.condition, b.hitCount});
}

void DebugWindow::RunToRow(int row) {
  const int address = rows_[static_cast<size_t>(row)].address;
  if (address < 0) {
    status_->setText(QStringLiteral("Line %1 has no code to run to").arg(rows_[static_cast<size_t>(row)].line));
    return;
  }
  Command(DebugDriver::Command::kRunTo, static_cast<uint16_t>(address));
}

void DebugWindow::GoTo(const QString& text) {
  std::string why;
  const auto address = dv::ResolveAddress(text.toStdString(), state_.registers, symbols_, why);
  tabs_->setCurrentIndex(0);
  if (!address) {
    memoryNote_->setText(QString::fromStdString(why));
    return;
  }
  memoryNote_->setText(QStringLiteral("%1 is %2").arg(text.trimmed(), QString::fromStdString(dv::HexAddress(*address))));
  const QModelIndex index = memory_->index(*address / MemoryModel::kColumns, *address % MemoryModel::kColumns);
  memoryView_->setCurrentIndex(index);
  memoryView_->scrollTo(index, QAbstractItemView::PositionAtTop);
}

void DebugWindow::AddWatch(const QString& name) {
  const QString n = name.trimmed().toUpper();
  if (n.isEmpty()) return;
  if (!symbols_.count(n.toStdString())) {
    status_->setText(QStringLiteral("%1 is not a symbol of the program").arg(n));
    return;
  }
  for (int i = 0; i < watches_->topLevelItemCount(); ++i)
    if (watches_->topLevelItem(i)->text(0) == n) return;
  {
    QSignalBlocker block(watches_);
    auto* item = new QTreeWidgetItem(watches_, {n});
    item->setCheckState(3, Qt::Unchecked);
  }
  ShowWatches();
  for (int c = 0; c < 3; ++c) watches_->resizeColumnToContents(c);
}

void DebugWindow::SaveGeometry() {
  QSettings settings(kSettingsOrganization, kSettingsApplication);
  settings.setValue(QStringLiteral("debugger/geometry"), saveGeometry());
  for (QSplitter* s : splitters_) settings.setValue(QStringLiteral("debugger/") + s->objectName(), s->saveState());
}

bool DebugWindow::RestoreGeometry() {
  const QSettings settings(kSettingsOrganization, kSettingsApplication);
  for (QSplitter* s : splitters_) s->restoreState(settings.value(QStringLiteral("debugger/") + s->objectName()).toByteArray());
  return restoreGeometry(settings.value(QStringLiteral("debugger/geometry")).toByteArray());
}

QString DebugWindow::StatusText() const { return status_->text(); }

void DebugWindow::closeEvent(QCloseEvent* event) {
  SaveGeometry();
  timer_.stop();
  if (console_) console_->Stop();
  if (driver_) driver_->Stop();
  QWidget::closeEvent(event);
}

}  // namespace orvane::qt
