#include "main_window.h"

#include <algorithm>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFile>
#include <QFontDatabase>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QShowEvent>

#include "twips.h"
#if ORVANE_HAVE_RUNNER
#include "board/host_board.h"
#endif

namespace orvane::qt {

namespace {

// Where the settings are kept: ~/.config/Orvane/orvane.conf on Linux.
const QString kSettingsOrganization = QStringLiteral("Orvane");
const QString kSettingsApplication = QStringLiteral("orvane");

// The one local .z80 or .asm file a drag carries, as the bytes of its name
// (the URL's percent-encoding keeps a name that is not UTF-8), or empty.
QByteArray DraggedSource(const QMimeData* data) {
  if (!data || data->urls().size() != 1 || !data->urls().front().isLocalFile()) return {};
  const QByteArray path = QByteArray::fromPercentEncoding(data->urls().front().path(QUrl::FullyEncoded).toLatin1());
  const qsizetype dot = path.lastIndexOf('.');
  const QByteArray suffix = dot < 0 ? QByteArray() : path.mid(dot + 1).toLower();
  const bool source = path.lastIndexOf('/') < dot && (suffix == "z80" || suffix == "asm");
  return source ? path : QByteArray();
}

// The icon the desktop's theme has for the program, as installed with it;
// where there is none (or it cannot be drawn), a chip drawn here.
QIcon WindowIcon() {
  const QIcon themed = QIcon::fromTheme(QStringLiteral("orvane"));
  if (!themed.isNull() && !themed.pixmap(32).isNull()) return themed;
  QIcon drawn;
  for (const int size : {16, 32, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double u = size / 16.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xb8, 0xbe, 0xc6));  // the pins
    for (int i = 0; i < 3; ++i) {
      p.drawRect(QRectF(1 * u, (3 + 4 * i) * u, 14 * u, 1.5 * u));
    }
    p.setBrush(QColor(0x2b, 0x30, 0x38));
    p.drawRoundedRect(QRectF(2.5 * u, 1 * u, 11 * u, 14 * u), u, u);
    QFont font(QStringLiteral("Sans Serif"));
    font.setBold(true);
    font.setPixelSize(std::max(5, static_cast<int>(4.5 * u)));
    p.setFont(font);
    p.setPen(QColor(0xf2, 0xc1, 0x4e));
    p.drawText(QRectF(2.5 * u, 1 * u, 11 * u, 14 * u), Qt::AlignCenter, QStringLiteral("Z80"));
    drawn.addPixmap(pixmap);
  }
  return drawn;
}

bool HasFamily(const QString& family) { return QFontDatabase::families().contains(family, Qt::CaseInsensitive); }

// The window's fonts were drawn for "MS Sans Serif" and "Courier New"; where
// those are missing the nearest sans-serif and fixed-pitch fonts stand in.
QFont SansFont(double points, bool bold) {
  QFont font;
  if (HasFamily(QStringLiteral("MS Sans Serif"))) {
    font.setFamily(QStringLiteral("MS Sans Serif"));
  } else {
    font.setFamily(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

QFont FixedFont(double points) {
  QFont font;
  if (HasFamily(QStringLiteral("Courier New"))) {
    font.setFamily(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
  } else {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  }
  font.setPointSizeF(points);
  font.setBold(false);
  return font;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("frmOrvane"));
  setWindowTitle(QStringLiteral("Orvane"));
  setWindowIcon(WindowIcon());
  BuildControls();

  ops_ = std::make_unique<QtWindowOps>(w_, nullptr);
  logic_ = std::make_unique<WindowLogic>(*ops_, files_);
  SetOpenDialog([this](const QString& filter) { return RealOpenDialog(filter); });
  errorReport_ = [this](const QString& path, const QString& reason) { RealErrorReport(path, reason); };

  connect(w_.cmdSelectFile, &QPushButton::clicked, this, [this] { logic_->OnSelectFile(); });
  connect(w_.cmdAssemble, &QPushButton::clicked, this, [this] { OnAssembleClicked(); });
  connect(w_.optIntelHex, &QRadioButton::clicked, this, [this] { logic_->OnOptIntelHex(); });
  connect(w_.optCPMcom, &QRadioButton::clicked, this, [this] { logic_->OnOptCpm(); });
  connect(w_.chkListing, &QCheckBox::clicked, this, [this] { logic_->OnChkListing(); });

  logic_->OnLoad();
  ops_->SetStatus("");
  RestoreSettings();
  // Saved after each change, once the start state is in place.
  for (QAbstractButton* b : {static_cast<QAbstractButton*>(w_.optIntelHex), static_cast<QAbstractButton*>(w_.optCPMcom),
                             static_cast<QAbstractButton*>(w_.chkListing)}) {
    connect(b, &QAbstractButton::clicked, this, &MainWindow::SaveSettings);
  }
  AddKeys();
  AddMenu();
  setAcceptDrops(true);
  // The path fields would take a dragged file's name as text; the other
  // controls leave drops to the window.
  for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(w_.txtSource),
                     static_cast<QWidget*>(w_.txtList), static_cast<QWidget*>(w_.txtObject),
                     static_cast<QWidget*>(w_.lblStatus)}) {
    w->installEventFilter(this);
  }
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls() {
  const double dpiX = logicalDpiX();
  const double dpiY = logicalDpiY();
  auto place = [&](QWidget* control, const char* name, int left, int top, int width, int height) {
    control->setObjectName(QLatin1String(name));
    control->setGeometry(TwipsToPixels(left, dpiX), TwipsToPixels(top, dpiY), TwipsToPixels(width, dpiX),
                         TwipsToPixels(height, dpiY));
  };

  // Controls without a font of their own use the window's, a sans-serif 8.25 pt.
  setFont(SansFont(8.25, false));
  const QFont buttonFont = SansFont(9.75, true);
  const QFont pathFont = SansFont(12, true);

  w_.window = this;
  w_.cmdSelectFile = new QPushButton(QStringLiteral("Select File"), this);
  place(w_.cmdSelectFile, "cmdSelectFile", 240, 120, 1695, 495);
  w_.cmdSelectFile->setFont(buttonFont);

  w_.txtSource = new QLineEdit(this);
  place(w_.txtSource, "txtSource", 2160, 120, 4695, 495);
  w_.txtList = new QLineEdit(this);
  place(w_.txtList, "txtList", 2160, 720, 4695, 495);
  w_.txtObject = new QLineEdit(this);
  place(w_.txtObject, "txtObject", 2160, 1320, 4695, 495);
  NamePathFields(pathFont);

  w_.cmdAssemble = new QPushButton(QStringLiteral("Assemble"), this);
  place(w_.cmdAssemble, "cmdAssemble", 240, 720, 1695, 495);
  w_.cmdAssemble->setFont(buttonFont);

  w_.chkListing = new QCheckBox(QStringLiteral("Enable Asembly Listing"), this);
  place(w_.chkListing, "chkListing", 180, 2085, 2190, 495);
  // The caption was measured for a narrower font; nothing stands to the right
  // of the box, so it grows rather than cut its text.
  if (w_.chkListing->sizeHint().width() > w_.chkListing->width())
    w_.chkListing->resize(w_.chkListing->sizeHint().width(), w_.chkListing->height());

  w_.txtAsmListing = new QPlainTextEdit(this);
  place(w_.txtAsmListing, "txtAsmListing", 60, 2520, 6780, 3690);
  w_.txtAsmListing->setFont(FixedFont(8.25));
  w_.txtAsmListing->setReadOnly(true);
  w_.txtAsmListing->setUndoRedoEnabled(false);
  // A vertical scroll bar only: long lines wrap at the box's width.
  w_.txtAsmListing->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  w_.txtAsmListing->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  w_.txtAsmListing->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  w_.txtAsmListing->setTabChangesFocus(true);

  w_.optIntelHex = new QRadioButton(QStringLiteral("Intel Hex Output"), this);
  place(w_.optIntelHex, "optIntelHex", 120, 1305, 1905, 510);
  w_.optCPMcom = new QRadioButton(QStringLiteral("CPM Executable"), this);
  place(w_.optCPMcom, "optCPMcom", 120, 1635, 1905, 510);
#if ORVANE_HAVE_RUNNER
  w_.optCPMcom->setToolTip(QStringLiteral(
      "F9 (or Ctrl+F5) runs the CP/M program in a console window; Shift+F9 debugs it (also on the right-click menu)"));
  w_.optIntelHex->setToolTip(QStringLiteral(
      "F9 (or Ctrl+F5) runs the program on a Z80 board, chosen in the console window's Board box"));
#endif
  auto* format = new QButtonGroup(this);
  format->setObjectName(QStringLiteral("formatGroup"));
  format->setExclusive(true);
  format->addButton(w_.optIntelHex);
  format->addButton(w_.optCPMcom);

  // Tab order as designed.
  QWidget* order[] = {w_.cmdSelectFile, w_.txtSource,     w_.txtList,     w_.txtObject, w_.cmdAssemble,
                      w_.chkListing,    w_.txtAsmListing, w_.optIntelHex, w_.optCPMcom};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  // The status line, in the free space right of the check box, between the
  // object path and the listing box. A click on it goes to the next problem.
  w_.lblStatus = new QLabel(this);
  w_.lblStatus->setObjectName(QStringLiteral("lblStatus"));
  const int left = std::max(TwipsToPixels(2160, dpiX), w_.chkListing->geometry().right() + 1 + TwipsToPixels(90, dpiX));
  const int top = TwipsToPixels(1845, dpiY);
  w_.lblStatus->setGeometry(left, top, TwipsToPixels(6855, dpiX) - left, TwipsToPixels(2505, dpiY) - top);
  // Its lines are fitted to its width (file names elided); the whole text is
  // in its tooltip and accessible description.
  w_.lblStatus->setTextFormat(Qt::PlainText);
  w_.lblStatus->setWordWrap(false);
  w_.lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  w_.lblStatus->setCursor(Qt::PointingHandCursor);
  w_.lblStatus->setAccessibleName(QStringLiteral("Status"));
  w_.txtAsmListing->setAccessibleName(QStringLiteral("Assembly listing"));

  resize(TwipsToPixels(kClientWidth, dpiX), TwipsToPixels(kClientHeight, dpiY));
  // Narrower than designed, the path fields and the status line would be cut
  // off; the height has its own rules.
  setMinimumWidth(TwipsToPixels(kClientWidth, dpiX));
}

void MainWindow::NamePathFields(const QFont& font) {
  const std::pair<QLineEdit*, const char*> fields[] = {
      {w_.txtSource, kSourceFieldName}, {w_.txtList, kListFieldName}, {w_.txtObject, kObjectFieldName}};
  for (const auto& [field, name] : fields) {
    field->setFont(font);
    field->setAccessibleName(QString::fromLatin1(name));
    field->setPlaceholderText(QString::fromLatin1(name));
  }
}

void MainWindow::AddKeys() {
  auto key = [this](const QKeySequence& keys, std::function<void()> action) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [this, action] {
      if (!logic_->Running()) action();
    });
  };
  key(QKeySequence(Qt::Key_F5), [this] { OnAssembleClicked(true); });
  key(QKeySequence(Qt::CTRL | Qt::Key_R), [this] { OnAssembleClicked(true); });
  key(QKeySequence(Qt::CTRL | Qt::Key_O), [this] { w_.cmdSelectFile->click(); });
  key(QKeySequence(Qt::Key_F9), [this] { RunProgram(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_F5), [this] { RunProgram(); });
  key(QKeySequence(Qt::SHIFT | Qt::Key_F9), [this] { DebugProgram(); });
  key(QKeySequence(Qt::Key_F8), [this] { logic_->OnGoToProblem(false); });
  key(QKeySequence(Qt::SHIFT | Qt::Key_F8), [this] { logic_->OnGoToProblem(true); });
}

void MainWindow::AddMenu() {
  // Right-click on the window: Run and Debug, with their keys.
  setContextMenuPolicy(Qt::ActionsContextMenu);
  auto action = [this](const QString& text, const char* name, std::function<void()> run) {
    auto* a = new QAction(text, this);
    a->setObjectName(QLatin1String(name));
    connect(a, &QAction::triggered, this, [this, run] {
      if (!logic_->Running()) run();
    });
    addAction(a);
  };
  action(QStringLiteral("Run\tF9"), "actRun", [this] { RunProgram(); });
  action(QStringLiteral("Debug\tShift+F9"), "actDebug", [this] { DebugProgram(); });
}

void MainWindow::SetOpenDialog(QtWindowOps::OpenDialog dialog) {
  ops_->SetOpenDialog([this, dialog = std::move(dialog)](const QString& filter) {
    const QString path = dialog(filter);
    if (!path.isEmpty()) {
      dialogFolder_ = QFileInfo(path).absolutePath();
      SaveSettings();
    }
    return path;
  });
}

void MainWindow::OpenFile(const QByteArray& path) {
  if (logic_->Running()) return;
  dialogFolder_ = QFileInfo(QFile::decodeName(path)).absolutePath();
  SaveSettings();
  logic_->OnSelectFile(path.toStdString());
}

void MainWindow::RestoreSettings() {
  const QSettings settings(kSettingsOrganization, kSettingsApplication);
  dialogFolder_ = settings.value(QStringLiteral("folder")).toString();
  if (settings.value(QStringLiteral("format")).toString() == QLatin1String("cpm")) w_.optCPMcom->click();
  if (settings.value(QStringLiteral("listing")).toBool()) w_.chkListing->click();
}

void MainWindow::SaveSettings() {
  QSettings settings(kSettingsOrganization, kSettingsApplication);
  settings.setValue(QStringLiteral("folder"), dialogFolder_);
  settings.setValue(QStringLiteral("format"), w_.optCPMcom->isChecked() ? "cpm" : "hex");
  settings.setValue(QStringLiteral("listing"), w_.chkListing->isChecked());
}

void MainWindow::SetErrorReport(ErrorReport report) { errorReport_ = std::move(report); }

QString MainWindow::RealOpenDialog(const QString& qtFilter) {
  return QFileDialog::getOpenFileName(this, QStringLiteral("Open"), dialogFolder_, qtFilter);
}

void MainWindow::RealErrorReport(const QString& path, const QString& reason) {
  const QString file = path.isEmpty() ? QString() : QStringLiteral("File: %1\n").arg(path);
  QMessageBox::critical(this, windowTitle(), QStringLiteral("The assembly could not be done.\n\n%1%2").arg(file, reason));
}

void MainWindow::OnAssembleClicked(bool again) {
  Assemble([this, again] { return again ? logic_->OnRunAgain() : logic_->OnAssemble(); });
}

void MainWindow::Assemble(const std::function<RunResult()>& run) {
  try {
    lastRun_ = run();
  } catch (const FileError& e) {
    lastRun_ = RunResult{};
    ops_->FlushListing();
    errorReport_(QString::fromStdString(e.path()), QString::fromStdString(e.reason()));
  }
  ops_->FlushListing();
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    close();
  }
}

void MainWindow::RunProgram() {
#if ORVANE_HAVE_RUNNER
  if (logic_->Running()) return;
  if (console_ && !console_->Finished()) {
    console_->raise();
    console_->activateWindow();
    return;
  }
  QFileInfo info;
  const bool onBoard = w_.optIntelHex->isChecked();
  if (!AssembleForRun(false, info, onBoard)) return;
  delete console_;
  const std::string file = info.fileName().toStdString();
  console_ = new ConsoleWindow(onBoard ? std::vector<uint8_t>() : program_->image(),
                               onBoard ? hexProgram_->Lookup(file) : program_->Lookup(file),
                               QFile::encodeName(info.absolutePath()).toStdString(),
                               QStringLiteral("Run: ") + info.fileName(), this);
  if (onBoard) console_->SetBoardProgram(hexText_);
  console_->setAttribute(Qt::WA_DeleteOnClose);
  console_->onSourceLine = [this](int line) { GoToSourceLine(line); };
  console_->move(frameGeometry().topRight() + QPoint(8, 0));  // beside the listing it points into
  console_->show();
  console_->Start();
#else
  ops_->SetStatus("Run is not available: Orvane was built without libz80ex");
#endif
}

void MainWindow::DebugProgram() {
#if ORVANE_HAVE_RUNNER
  if (logic_->Running()) return;
  QFileInfo info;
  const bool onBoard = w_.optIntelHex->isChecked();
  if (!AssembleForRun(true, info, onBoard)) return;
  // The board the run console's box chose last.
  const std::string board =
      onBoard ? QFile::encodeName(QSettings(kSettingsOrganization, kSettingsApplication)
                                      .value(QStringLiteral("board"), QString::fromLatin1(board::kDefaultBoard))
                                      .toString())
                    .toStdString()
              : std::string();
  // The window open on the program the last run ran is shown again; a new
  // assembly (for Run or Debug, of this file or another) replaces it.
  if (debugger_ && debuggerProgram_ == programCount_ && debuggerBoard_ == board) {
    debugger_->raise();
    debugger_->activateWindow();
    return;
  }
  if (debugger_) {
    debugger_->close();
    delete debugger_;
  }
  debugger_ = new DebugWindow(*program_, rows_, info.fileName().toStdString(),
                              QFile::encodeName(info.absolutePath()).toStdString(),
                              QStringLiteral("Debug: ") + info.fileName() +
                                  (onBoard ? QStringLiteral(" on ") + QFileInfo(QFile::decodeName(QByteArray::fromStdString(board))).fileName() : QString()),
                              this, board);
  debuggerProgram_ = programCount_;
  debuggerBoard_ = board;
  debugger_->setAttribute(Qt::WA_DeleteOnClose);
  // Beside this window on its screen, narrowed to the room there the first
  // time; the size kept from the last time stays.
  const bool kept = debugger_->RestoreGeometry();
  const QRect frame = frameGeometry(), client = geometry();
  const QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                         frame.bottom() - client.bottom());
  const QRect place = PlaceBeside(screen()->availableGeometry(), frame, debugger_->size(), margins, !kept);
  debugger_->resize(place.size());
  debugger_->move(place.topLeft() - QPoint(margins.left(), margins.top()));
  debugger_->show();
  debugger_->raise();
  debugger_->activateWindow();  // its keys work at once
  debugger_->Start();
#else
  ops_->SetStatus("Debug is not available: Orvane was built without libz80ex");
#endif
}

#if ORVANE_HAVE_RUNNER
bool MainWindow::AssembleForRun(bool debug, QFileInfo& info, bool hex) {
  // The source's name as bytes, as the run opens it.
  const std::string field = ops_->Text(TextField::kSource);
  const std::string source = field.empty() ? logic_->LastSource() : field;
  info = QFileInfo(QFile::decodeName(QByteArray::fromStdString(source)));
  if (source.empty()) {
    ops_->SetStatus("Nothing to " + std::string(debug ? "debug" : "run") + ": select a file first");
    return false;
  }
  // The last program again while its source is as it was and the format
  // the same; else a new assembly, as a CP/M image or as Intel HEX.
  if (!field.empty() || !program_ || source != programSource_ || info.lastModified() != programTime_ ||
      hex != programHex_) {
    program_.reset();
    auto program = std::make_unique<AssembledProgram>();
    auto hexProgram = std::make_unique<HexProgram>();
    if (hex) program->PlaceAtAddresses();
    std::vector<debugview::SourceRow> rows;
    boxLines_.clear();
    logic_->onStatement = [&](const Statement& s, int64_t boxLine) {
      rows.push_back(hex ? debugview::MakePlacedSourceRow(s) : debugview::MakeSourceRow(s, program->image().size()));
      program->Add(s);
      if (hex) hexProgram->Add(s);
      if (boxLine >= 0) boxLines_.emplace(s.line, boxLine);
    };
    logic_->onSymbols = [&](const SymbolTable& symbols) { program->SetSymbols(symbols); };
    const QDateTime time = info.lastModified();
    Assemble([this, hex] { return logic_->OnAssembleForRun(hex); });
    logic_->onStatement = nullptr;
    logic_->onSymbols = nullptr;
    if (!lastRun_.completed || lastRun_.statementsWithErrors != 0) return false;  // the status says why
    if (hex) {
      // The board loads the file just written, as a ROM programmer would.
      QFile written(QFile::decodeName(QByteArray::fromStdString(lastRun_.objectPath)));
      if (!written.open(QIODevice::ReadOnly)) {
        ops_->SetStatus("Not run: cannot read " + lastRun_.objectPath + ": " + written.errorString().toStdString());
        return false;
      }
      hexText_ = written.readAll().toStdString();
    }
    hexProgram_ = std::move(hexProgram);
    programHex_ = hex;
    program_ = std::move(program);
    rows_ = std::move(rows);
    programSource_ = source;
    programTime_ = time;
    ++programCount_;
  }
  return true;
}
#endif

void MainWindow::GoToSourceLine([[maybe_unused]] int line) {
#if ORVANE_HAVE_RUNNER
  const auto it = boxLines_.find(line);
  if (it != boxLines_.end() && w_.txtAsmListing->isVisible()) ops_->SelectBoxLine(it->second);
  const QString why = console_ ? console_->StatusText().section('\n', 0, 0) : QString();
  ops_->SetStatus("Run stopped at line " + std::to_string(line) + ": " + why.toStdString());
  raise();
  activateWindow();
#endif
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The size rules hold for a window in its normal state only.
  if (!logic_ || (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) return;
  logic_->OnResize();
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  ops_->FrameMayHaveChanged();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  ops_->FrameMayHaveChanged();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QByteArray path = DraggedSource(drop->mimeData());
      if (path.isEmpty() || logic_->Running()) break;  // a field takes other drops as it always did
      // Only ever a copy: a drag source that honours a move would delete the
      // user's file.
      if (!(drop->possibleActions() & Qt::CopyAction)) {
        drop->ignore();
        return true;
      }
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      if (event->type() == QEvent::Drop) OpenFile(path);
      return true;
    }
    case QEvent::MouseButtonRelease:
      if (watched == w_.lblStatus && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
          !logic_->Running()) {
        logic_->OnGoToProblem(false);
      }
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (logic_->Running()) {
    // The run stops at its next statement, drops its unfinished outputs, and
    // the window closes once it has returned.
    ops_->RequestStop();
    closeAfterRun_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace orvane::qt
