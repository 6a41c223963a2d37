#include "main_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QShowEvent>

#include "twips.h"

namespace orvane::qt {

namespace {

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
  BuildControls();

  ops_ = std::make_unique<QtWindowOps>(w_, [this](const QString& filter) { return RealOpenDialog(filter); });
  logic_ = std::make_unique<WindowLogic>(*ops_, files_);
  errorReport_ = [this](const QString& path, const QString& reason) { RealErrorReport(path, reason); };

  connect(w_.cmdSelectFile, &QPushButton::clicked, this, [this] { logic_->OnSelectFile(); });
  connect(w_.cmdAssemble, &QPushButton::clicked, this, [this] { OnAssembleClicked(); });
  connect(w_.optIntelHex, &QRadioButton::clicked, this, [this] { logic_->OnOptIntelHex(); });
  connect(w_.optCPMcom, &QRadioButton::clicked, this, [this] { logic_->OnOptCpm(); });
  connect(w_.chkListing, &QCheckBox::clicked, this, [this] { logic_->OnChkListing(); });

  logic_->OnLoad();
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
  for (QLineEdit* path : {w_.txtSource, w_.txtList, w_.txtObject}) path->setFont(pathFont);

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
  auto* format = new QButtonGroup(this);
  format->setObjectName(QStringLiteral("formatGroup"));
  format->setExclusive(true);
  format->addButton(w_.optIntelHex);
  format->addButton(w_.optCPMcom);

  // Tab order as designed.
  QWidget* order[] = {w_.cmdSelectFile, w_.txtSource,     w_.txtList,     w_.txtObject, w_.cmdAssemble,
                      w_.chkListing,    w_.txtAsmListing, w_.optIntelHex, w_.optCPMcom};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  resize(TwipsToPixels(kClientWidth, dpiX), TwipsToPixels(kClientHeight, dpiY));
}

void MainWindow::SetOpenDialog(QtWindowOps::OpenDialog dialog) { ops_->SetOpenDialog(std::move(dialog)); }

void MainWindow::SetErrorReport(ErrorReport report) { errorReport_ = std::move(report); }

QString MainWindow::RealOpenDialog(const QString& qtFilter) {
  return QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QString(), qtFilter);
}

void MainWindow::RealErrorReport(const QString& path, const QString& reason) {
  QMessageBox::critical(this, windowTitle(),
                        QStringLiteral("The assembly could not be done.\n\nFile: %1\n%2").arg(path, reason));
}

void MainWindow::OnAssembleClicked() {
  try {
    lastRun_ = logic_->OnAssemble();
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
