// Drives the real frmOrvane window offscreen: the file dialog and the error
// report are answered by the test, and a watchdog fails any test during which
// some other modal dialog shows up. Runs are compared with the hand-reviewed
// golden files, through the window's own controls.
#include <QAction>
#include <QComboBox>
#include <QScrollBar>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QCheckBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTableView>
#include <QTableWidget>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "app/qt/main_window.h"
#include "row_file.h"

using orvane::qt::MainWindow;

namespace {
constexpr int kShort = 3000, kTall = 6780, kBoxMargin = 3090;  // heights in twips
}

class WindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<QTemporaryDir> dir_;
  QTimer watchdog_;
  QStringList unexpectedDialogs_, dialogFilters_, errors_;
  QString dialogAnswer_;

  template <typename T = QWidget>
  T* Get(const QString& name) {
    T* w = window_->findChild<T*>(name);
    if (!w) qFatal("no control %s", qPrintable(name));
    return w;
  }
  QLineEdit* Field(const char* name) { return Get<QLineEdit>(QLatin1String(name)); }
  QPlainTextEdit* Box() { return Get<QPlainTextEdit>(QStringLiteral("txtAsmListing")); }
  QAbstractButton* Button(const QString& name) { return Get<QAbstractButton>(name); }
  // The status line's whole text, as its tooltip gives it before the keys.
  QString Status() {
    const QString tip = Get<QLabel>(QStringLiteral("lblStatus"))->toolTip();
    return tip.left(std::max<qsizetype>(0, tip.lastIndexOf(QStringLiteral("\n\n"))));
  }
  // The three path fields and whether Assemble is shown.
  QString Fields() {
    return Field("txtSource")->text() + '|' + Field("txtList")->text() + '|' + Field("txtObject")->text() + '|' +
           (Button(QStringLiteral("cmdAssemble"))->isVisible() ? "shown" : "hidden");
  }
  int HeightTwips() { return window_->Ops().WindowHeight(); }
  int BoxHeightTwips() { return qRound(Box()->height() * 1440.0 / window_->logicalDpiY()); }
  void Click(const QString& name) {
    QVERIFY2(Button(name)->isVisible(), qPrintable(name));
    QTest::mouseClick(Button(name), Qt::LeftButton);
  }
  void Choose(const QString& answer) {
    dialogAnswer_ = answer;
    Click(QStringLiteral("cmdSelectFile"));
  }
  // A path or a file:// URL dropped, the drag source offering `actions` and
  // proposing the first of them; the action the window took, or
  // Qt::IgnoreAction when it refused the drop.
  Qt::DropAction Drop(QWidget* target, const QString& path, Qt::DropActions actions = Qt::CopyAction) {
    const QUrl url = path.startsWith("file:") ? QUrl::fromEncoded(path.toLatin1()) : QUrl::fromLocalFile(path);
    QMimeData data;
    data.setUrls({url});
    data.setText(url.toString());  // as file managers do
    QDragEnterEvent enter(QPoint(5, 5), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(5, 5), actions, &data, Qt::LeftButton, Qt::NoModifier);
    if (QApplication::sendEvent(target, &enter), !enter.isAccepted()) return Qt::IgnoreAction;
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted() && enter.dropAction() == drop.dropAction() ? drop.dropAction() : Qt::IgnoreAction;
  }
  // One step of a row's script: cpm, hex, listing, choose:PATH, edit:PATH, drag:TWIPS,
  // open:PATH (Ctrl+O), drop:PATH (on the window), dropfield:PATH (on txtSource), key:KEYS, click (the status line).
  void Do(const QString& step) {
    const QString arg = step.section(':', 1);
    if (step == "cpm") Click(QStringLiteral("optCPMcom"));
    if (step == "hex") Click(QStringLiteral("optIntelHex"));
    if (step == "listing") Click(QStringLiteral("chkListing"));
    if (step.startsWith("choose:")) Choose(arg);
    if (step.startsWith("edit:")) Field("txtSource")->setText(arg);
    if (step.startsWith("clear:")) Field(qPrintable(arg))->clear();
    if (step.startsWith("open:")) dialogAnswer_ = arg, QTest::keyClick(window_.get(), Qt::Key_O, Qt::ControlModifier);
    if (step.startsWith("drop")) Drop(step.startsWith("drop:") ? static_cast<QWidget*>(window_.get()) : Field("txtSource"), arg);
    if (step.startsWith("key:")) QTest::keySequence(window_.get(), QKeySequence(arg));
    if (step == "click") QTest::mouseClick(Get(QStringLiteral("lblStatus")), Qt::LeftButton);
    if (step.startsWith("drag:")) {  // what a user's drag to that outer height does
      const int frame = window_->frameGeometry().height() - window_->height();
      window_->resize(window_->width(), qRound(arg.toInt() * window_->logicalDpiY() / 1440.0) - frame);
    }
  }
  static QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  QString Path(const QString& name) const { return dir_->filePath(name); }
  // The rows of rows.txt for one test, each as its name and its fields.
  static void Rows(const char* test, const std::function<void(const char*, const QStringList&)>& add) {
    int n = 0;
    const std::string error = rows::Read(WINDOW_ROWS, [&](const std::string& row) {
      const std::vector<std::string> f = rows::Fields(row);
      rows::Need(f.size() >= 3, "a row is TEST | ROW | FIELDS");
      QStringList fields;
      for (size_t i = 2; i < f.size(); ++i) fields << QString::fromStdString(f[i]);
      if (f[0] == test) ++n, add(f[1].c_str(), fields);
    });
    if (!error.empty() || n == 0) qFatal("%s: %s", test, error.empty() ? "no rows" : error.c_str());
  }
  static QRect Rect(const QString& xywh) {  // "X Y WIDTH HEIGHT"
    const QStringList n = xywh.split(' ');
    return QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt());
  }
  void Open() {
    window_.reset();
    window_ = std::make_unique<MainWindow>();
    window_->SetOpenDialog([this](const QString& filter) { return dialogFilters_ << filter, dialogAnswer_; });
    window_->SetErrorReport([this](const QString& path, const QString& reason) { errors_ << path + ": " + reason; });
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get(), 600000));  // however busy the machine
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    unexpectedDialogs_.clear(), dialogFilters_.clear(), errors_.clear(), dialogAnswer_.clear();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Path(QStringLiteral("settings")));
    Open();
    connect(&watchdog_, &QTimer::timeout, this, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        unexpectedDialogs_ << modal->windowTitle();
        modal->close();
      }
    });
    watchdog_.start(20);
  }
  void cleanup() {
    watchdog_.stop();
    watchdog_.disconnect();
    window_.reset();
    QVERIFY2(unexpectedDialogs_.isEmpty(), qPrintable(unexpectedDialogs_.join(", ")));
  }

  void loadState() {
    QCOMPARE(window_->objectName(), QStringLiteral("frmOrvane"));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Orvane"));
    QCOMPARE(Fields(), QStringLiteral("|||hidden"));
    QVERIFY(Button(QStringLiteral("optIntelHex"))->isChecked() && !Button(QStringLiteral("chkListing"))->isChecked());
    QVERIFY(!Box()->isVisible() && Box()->toPlainText().isEmpty());
    QCOMPARE(HeightTwips(), kShort);
    QCOMPARE(Get(QStringLiteral("lblStatus"))->accessibleName() + '|' + Box()->accessibleName(), "Status|Assembly listing");
    for (const char* name : {"txtSource", "txtList", "txtObject"})
      QCOMPARE(Field(name)->accessibleName() + '|' + Field(name)->placeholderText(), QStringLiteral("%1 file|%1 file").arg(
          QString::fromLatin1(name).mid(3).replace("List", "Listing")));
    QVERIFY(!window_->windowIcon().pixmap(32).isNull());
    window_->resize(100, window_->height());  // as narrow as it goes: nothing cut off
    for (QWidget* w : window_->findChildren<QWidget*>(QRegularExpression("^(cmd|txt|chk|opt|lbl)")))
      QVERIFY2(w->geometry().right() < window_->width(), qPrintable(w->objectName()));
    Choose(QString());
    QCOMPARE(dialogFilters_, QStringList{"z80 Assembly File (*.z80);;Assembly File (*.asm);;All FIles (*)"});
  }

  // Place in the client area, and the caption (rows.txt).
  void controls_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");
    Rows("controls", [](const char* name, const QStringList& f) { QTest::newRow(name) << f[0] << Rect(f[1]); });
  }
  void controls() {
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    const QString name = QTest::currentDataTag();
    if (auto* b = window_->findChild<QAbstractButton*>(name)) QCOMPARE(b->text(), caption);
    const QRect g = Get(name)->geometry();
    const double dx = window_->logicalDpiX() / 1440.0, dy = window_->logicalDpiY() / 1440.0;
    QVERIFY(qAbs(g.x() - twips.x() * dx) <= 1 && qAbs(g.y() - twips.y() * dy) <= 1);
    QVERIFY(qAbs(g.height() - twips.height() * dy) <= 1);
    QVERIFY(!g.intersects(Get(QStringLiteral("lblStatus"))->geometry()));
    QVERIFY(name == "chkListing" ? g.width() >= twips.width() * dx - 1 : qAbs(g.width() - twips.width() * dx) <= 1);
  }

  void tabOrderAndFonts() {
    const QStringList expected{"cmdSelectFile", "txtSource",     "txtList",     "txtObject", "cmdAssemble",
                               "chkListing",    "txtAsmListing", "optIntelHex", "optCPMcom"};
    QStringList seen{expected[0]};
    for (QWidget* w = Get(expected[0])->nextInFocusChain(); w != Get(expected[0]) && seen.size() < 20; w = w->nextInFocusChain())
      if (expected.contains(w->objectName())) seen << w->objectName();
    QCOMPARE(seen, expected);
    for (const QString& name : expected.mid(0, 5)) {
      QVERIFY(Get(name)->font().bold());
      QCOMPARE(Get(name)->font().pointSizeF(), name.startsWith("cmd") ? 9.75 : 12.0);
    }
    const QFontMetrics fixed(Box()->font());
    QCOMPARE(Box()->font().pointSizeF(), 8.25);
    QCOMPARE(fixed.horizontalAdvance(QLatin1Char('i')), fixed.horizontalAdvance(QLatin1Char('W')));
    QVERIFY(Box()->isReadOnly());
    QCOMPARE(Box()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(Box()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  }

  // The path fields and the Assemble button after a script of clicks.
  void paths_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("fields");  // source|list|object|Assemble
    Rows("paths", [](const char* name, const QStringList& f) { QTest::newRow(name) << f[0].split(' ') << f[1]; });
  }
  void paths() {
    QFETCH(QStringList, steps);
    QFETCH(QString, fields);
    Box()->setPlainText(QStringLiteral("earlier listing"));
    for (const QString& s : steps) Do(s);
    QCOMPARE(Fields(), fields);
    QCOMPARE(Button(QStringLiteral("optCPMcom"))->isChecked(), steps.lastIndexOf("cpm") > steps.lastIndexOf("hex"));
    if (steps.last().startsWith("choose:")) QVERIFY(Box()->toPlainText().isEmpty());
  }

  void heights_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("box");
    Rows("heights", [](const char* name, const QStringList& f) {
      QTest::newRow(name) << f[0].split(' ') << f[1].toInt() << (f[2] == "box");
    });
  }
  void heights() {
    QFETCH(QStringList, steps);
    QFETCH(int, height);
    QFETCH(bool, box);
    const int width = window_->width();
    for (const QString& s : steps) Do(s);
    QCOMPARE(HeightTwips(), height);
    QCOMPARE(Box()->isVisible(), box);
    if (box) QCOMPARE(BoxHeightTwips(), height - kBoxMargin);
    QCOMPARE(window_->width(), width);
    window_->setWindowState(Qt::WindowMinimized);  // a minimized window is left alone
    window_->resize(window_->width(), 50);
    QCOMPARE(window_->height(), 50);
  }

  // Golden cases run through the window one after another; each must give
  // its own files, whatever the run before it left, and again when run again.
  void runs_data() {
    QTest::addColumn<QStringList>("cases");
    QTest::addColumn<bool>("cpm");
    QTest::addColumn<bool>("listing");
    QTest::addColumn<QString>("summary");  // the status line's first line after the last case
    Rows("runs", [](const char* name, const QStringList& f) {
      QTest::newRow(name) << f[0].split(' ') << (f[1] == "cpm") << (f[2] == "box") << f[3];
    });
  }
  void runs() {
    QFETCH(QStringList, cases);
    QFETCH(bool, cpm);
    QFETCH(bool, listing);
    QFETCH(QString, summary);
    if (cpm) Do("cpm");
    if (listing) Do("listing");
    const QString golden = QStringLiteral(GOLDEN_DIR "/");
    const QString tag = cpm ? ".cpm" : ".hex";
    for (const QString& name : cases) {
      QVERIFY(QFile::exists(Path(name + ".z80")) || QFile::copy(golden + name + ".z80", Path(name + ".z80")));
      Choose(Path(name + ".z80"));
      Click(QStringLiteral("cmdAssemble"));
      // Then F5 (with CP/M, Ctrl+R after choosing HEX) writes the same again.
      for (const bool again : {false, true}) {
        if (again) {
          QVERIFY(QFile::remove(Path(name + ".LST")) && QFile::remove(Path(name + (cpm ? ".com" : ".HEX"))));
          if (cpm) Do("hex");
          Do(cpm ? "key:Ctrl+R" : "key:F5");
          QCOMPARE(Button(QStringLiteral("optCPMcom"))->isChecked(), cpm);
        }
        QVERIFY(window_->LastRun().completed && errors_.isEmpty());
        QByteArray listingFile = Read(golden + name + tag + ".LST");
        listingFile.replace(0, listingFile.indexOf('\r'), Path(name + ".z80").toUtf8());
        QCOMPARE(Read(Path(name + ".LST")), listingFile);
        QCOMPARE(Read(Path(name + (cpm ? ".com" : ".HEX"))), Read(golden + name + (cpm ? ".com" : ".HEX")));
        const QString box = Box()->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
        QCOMPARE(box, listing ? QString::fromLatin1(Read(golden + name + tag + ".box")) : QString());
        // Done: Assemble hidden, paths empty, every input usable again.
        QCOMPARE(Fields(), QStringLiteral("|||hidden"));
        for (const char* c : {"cmdSelectFile", "txtSource", "chkListing", "optIntelHex", "optCPMcom"}) QVERIFY(Get(c)->isEnabled());
      }
    }
    QCOMPARE(Status().section('\n', 0, 0), summary);
  }

  // A run that cannot be done writes nothing, says why (DIR: the test's
  // folder), keeps the selection, and leaves no earlier listing in the box.
  void fileErrorsAreReported_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("list");  // typed over the derived listing path; "derived": left alone
    QTest::addColumn<QString>("reported");
    Rows("fileErrors", [](const char* name, const QStringList& f) { QTest::newRow(name) << f[0] << f[1] << f[2]; });
  }
  void fileErrorsAreReported() {
    QFETCH(QString, source);
    QFETCH(QString, list);
    QFETCH(QString, reported);
    reported.replace("DIR", dir_->path());
    QVERIFY(QFile::copy(QStringLiteral(GOLDEN_DIR "/program.z80"), Path(QStringLiteral("x.z80"))));
    QVERIFY(QFile::copy(QStringLiteral(GOLDEN_DIR "/end_only.HEX"), Path(QStringLiteral("x.HEX"))));
    QVERIFY(mkfifo(qPrintable(Path(QStringLiteral("fifo.z80"))), 0600) == 0 && mkfifo(qPrintable(Path(QStringLiteral("fifo.LST"))), 0600) == 0);
    // A reader on the listing FIFO, so that a window that opened it would not
    // wait for one forever.
    const int reader = ::open(qPrintable(Path(QStringLiteral("fifo.LST"))), O_RDONLY | O_NONBLOCK);
    Do("listing");
    Choose(Path(source));
    if (list != "derived") Field("txtList")->setText(list.replace("DIR", dir_->path()));
    Box()->setPlainText(QStringLiteral("an earlier listing"));
    const QString before = Fields();
    Click(QStringLiteral("cmdAssemble"));
    ::close(reader);
    QCOMPARE(errors_.size(), 1);
    QVERIFY2(QString(errors_[0]).remove(QRegularExpression("^: ")).startsWith(reported), qPrintable(errors_[0]));
    QVERIFY(!window_->LastRun().completed);
    QCOMPARE(Read(Path(QStringLiteral("x.HEX"))), Read(QStringLiteral(GOLDEN_DIR "/end_only.HEX")));
    QCOMPARE(Fields(), before);  // nothing ran: the selection stands and can be tried again
    QVERIFY2(Status().startsWith("Not assembled: " + reported), qPrintable(Status()));
    QCOMPARE(Box()->toPlainText(), QString());
  }

  // File names are the bytes the system gave; the listing path cuts the last
  // four characters, not bytes.
  void byteNames_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("listing");
    QTest::newRow("not UTF-8, dropped") << QByteArray("bad\xffname.z80") << QByteArray("bad\xffname.LST");
    QTest::newRow("UTF-8, chosen") << QByteArray("prog.\xc3\xa4sm") << QByteArray("prog.LST");
  }
  void byteNames() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, listing);
    const QByteArray dir = QFile::encodeName(dir_->path()) + '/';
    QFile source;
    QVERIFY(source.open(::open((dir + name).constData(), O_WRONLY | O_CREAT, 0600), QIODevice::WriteOnly, QFile::AutoCloseHandle));
    QVERIFY(source.write("  NOP\n") == 6);
    source.close();
    if (name.endsWith("z80")) {
      Drop(window_.get(), QString::fromLatin1(QByteArray("file://") + (dir + name).toPercentEncoding("/")));
    } else {
      Choose(QFile::decodeName(dir + name));
    }
    Click(QStringLiteral("cmdAssemble"));
    QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join(' ')));
    QVERIFY(::access((dir + listing).constData(), F_OK) == 0);
  }

  // A long run, the box on: the inputs stay disabled while it goes on and
  // the window keeps processing events; closing the window stops the run and
  // leaves nothing behind.
  void longRun_data() {
    QTest::addColumn<bool>("close");
    QTest::newRow("inputs disabled") << false;
    QTest::newRow("closed during the run") << true;
  }
  void longRun() {
    QFETCH(bool, close);
    QFile big(Path(QStringLiteral("big.z80")));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.write(QByteArray("        db 1 ; filler\r\n").repeated(100000)) > 0);
    big.close();
    Do("listing");
    Choose(big.fileName());
    QStringList enabled;
    QSet<QString> progress;
    int checks = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
      for (QWidget* w : window_->findChildren<QWidget*>())
        if (w->isEnabled() && w->objectName().contains(QRegularExpression("^(cmd|txt[SLO]|chk|opt)"))) enabled << w->objectName();
      if (Status().startsWith("Assembling: line")) progress << Status();
      if (++checks == 3 && close) window_->close();
    });
    probe.start(0);
    Click(QStringLiteral("cmdAssemble"));
    QVERIFY2(checks >= 3 && enabled.isEmpty(), qPrintable(enabled.join(", ") + " enabled, events " + QString::number(checks)));
    QCOMPARE(window_->LastRun().completed, !close);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files).size(), close ? 1 : 3);
    if (!close) QCOMPARE(Box()->toPlainText().count(u'\n'), 100000);
    QVERIFY2(close || progress.size() >= 2, "the status line did not show the run moving");
  }

  // A source with two errors (one with a note) and a warning, run with the box or without.
  // Each step of the walk: a key (or a click on the status line), the box
  // line then selected ("-": none) and the problem shown below the counts.
  void problems_data() {
    QTest::addColumn<bool>("box");
    QTest::addColumn<QStringList>("walk");
    const QString e1 = "Error 1 of 3, line 1: Undefined Opcode";
    const QString w2 = "Warning 2 of 3, line 2: 300 does not fit in a byte; 44 (2CH) assembled [-Wtruncation]";
    const QString e3 = "Error 3 of 3, line 3: Undefined Symbol Referenced\nnote: hex is written &HFF here";
    QTest::newRow("box, F8 wraps") << true << QStringList{"F8 0 " + e1, "F8 2 " + w2, "F8 3 " + e3, "F8 0 " + e1};
    QTest::newRow("no box, back, click") << false << QStringList{"Shift+F8 - " + e3, "Shift+F8 - " + w2, "click - " + e3};
  }
  void problems() {
    QFETCH(bool, box);
    QFETCH(QStringList, walk);
    QFile source(Path(QStringLiteral("p.z80")));
    QVERIFY(source.open(QIODevice::WriteOnly) && source.write("  FOO\n  DB 300\n  LD A,0FFH\n") > 0);
    source.close();
    if (box) Do("listing");
    Choose(source.fileName());
    Click(QStringLiteral("cmdAssemble"));
    const QString counts = "2 errors, 1 warning; 3 bytes at 0000H-0002H\n";
    QCOMPARE(Status(), counts + "listing p.LST, object p.HEX; F5 assembles again\nline 1: Undefined Opcode");
    for (const QString& step : walk) {
      const QString key = step.section(' ', 0, 0);
      Do(key == "click" ? key : "key:" + key);
      const QTextCursor c = Box()->textCursor();
      const QString line = c.hasSelection() ? QString::number(Box()->toPlainText().left(c.selectionStart()).count(u'\n')) : "-";
      QVERIFY(Status().startsWith(counts));
      QCOMPARE(key + ' ' + line + ' ' + Status().section('\n', 1, -1), step);
    }
  }

  // The status line after a run of a source with an error: every line shown
  // fits the line's width and height, the counts and the first problem stay
  // in view, and long file names are elided in their middles.
  void statusFits_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("elided");
    QTest::newRow("short name") << "p.z80" << false;
    QTest::newRow("50 characters") << QString(46, u'n').replace(10, 1, u'_') + ".z80" << true;
  }
  void statusFits() {
    QFETCH(QString, name);
    QFETCH(bool, elided);
    QFile source(Path(name));
    QVERIFY(source.open(QIODevice::WriteOnly) && source.write("  FOO\n") > 0);
    source.close();
    Choose(source.fileName());
    Click(QStringLiteral("cmdAssemble"));
    auto* label = Get<QLabel>(QStringLiteral("lblStatus"));
    const QStringList shown = label->text().split(u'\n'), full = Status().split(u'\n');
    const QFontMetrics metrics(label->font());
    QCOMPARE(shown.size(), 3);
    QVERIFY(shown.size() * metrics.lineSpacing() <= label->contentsRect().height());
    for (const QString& line : shown) QVERIFY2(metrics.horizontalAdvance(line) <= label->contentsRect().width(), qPrintable(line));
    QCOMPARE(shown[0] + '|' + shown[2], full[0] + '|' + full[2]);
    const QString stem = name.left(name.size() - 4);
    QCOMPARE(full[1], "listing " + stem + ".LST, object " + stem + ".HEX; F5 assembles again");
    QCOMPARE(shown[1] != full[1], elided);
    // Long names keep their extensions; the hint then stays in the tooltip.
    QVERIFY2(shown[1].contains(QRegularExpression(elided ? "^listing [^,]+\\.LST, object [^,]+\\.HEX$"
                                                         : "^listing [^,]+\\.LST, object [^,]+\\.HEX; F5 assembles again$")),
             qPrintable(shown[1]));
    QCOMPARE(label->accessibleDescription(), label->toolTip());
  }

  // The status line after a script of steps ("assemble": the button; "write":
  // p.z80 with an error written; "-": the status is empty). Until F5 or
  // Ctrl+R has been used once, a run's status ends its file names with the
  // hint; picking a file clears what the status said about the last one.
  void statusSteps_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("status");
    Rows("statusSteps", [](const char* name, const QStringList& f) { QTest::newRow(name) << f[0].split(' ') << f[1]; });
  }
  void statusSteps() {
    QFETCH(QStringList, steps);
    QFETCH(QString, status);
    QFile source(Path(QStringLiteral("p.z80")));
    QVERIFY(source.open(QIODevice::WriteOnly) && source.write("  NOP\n") > 0);
    source.close();
    for (QString step : steps) {
      if (step == "assemble") Click(QStringLiteral("cmdAssemble"));
      else Do(step.replace(":P", ":" + source.fileName()));
    }
    QCOMPARE(Status(), status);
  }

  // A drop is taken only as a copy: a source that would delete its file after
  // a move gets a copy, or no drop at all when it offers no copy.
  void dropsAreCopies_data() {
    QTest::addColumn<int>("offered");  // Qt::DropActions, the proposed one first
    QTest::addColumn<int>("taken");
    QTest::addColumn<QString>("fields");
    QTest::newRow("move proposed, copy offered") << int(Qt::MoveAction | Qt::CopyAction) << int(Qt::CopyAction)
                                                 << "/d/a.z80|/d/a.LST|/d/a.HEX|shown";
    QTest::newRow("move only") << int(Qt::MoveAction) << int(Qt::IgnoreAction) << "|||hidden";
    QTest::newRow("link only") << int(Qt::LinkAction) << int(Qt::IgnoreAction) << "|||hidden";
  }
  void dropsAreCopies() {
    QFETCH(int, offered);
    QFETCH(int, taken);
    QFETCH(QString, fields);
    for (const bool onField : {false, true}) {
      Open();
      QWidget* target = onField ? static_cast<QWidget*>(Field("txtSource")) : window_.get();
      QCOMPARE(int(Drop(target, QStringLiteral("/d/a.z80"), Qt::DropActions(offered))), taken);
      QCOMPARE(Fields(), fields);
    }
  }

  // How the box shows an entry ("e": tinted as an error, "w": as a warning,
  // "b": bold, "-": plain; one mark a box line) and, as a pattern, the text of its first line.
  // The listing file keeps every line whole.
  void boxLook_data() {
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("marks");
    QTest::addColumn<QString>("first");
    QTest::newRow("error entry") << QByteArray("  FOO\n  NOP\n") << "e eb -" << "FOO";
    QTest::newRow("warning entry") << QByteArray("  DB 300\n  NOP\n") << "w -" << "DB +300";
    QTest::newRow("error and warning") << QByteArray("  NOP\n  LD A,NOWHERE\n") << "- e eb" << "NOP";
    QTest::newRow("long line") << " DB 1 ;" + QByteArray(100000, 'x') << "-"
                               << "^0000 01 .*;X+ \u2026\\[cut at 240 of \\d+ characters\\]$";
    QTest::newRow("a stray byte on a line of its own")
        << QByteArray("  NOP ; caf\xc3\xa9\n  NOP ; \xff\n  NOP ; caf\xc3\xa9\n") << "- - -" << "; CAF\u00e9 ";
  }
  void boxLook() {
    QFETCH(QByteArray, source);
    QFETCH(QString, marks);
    QFETCH(QString, first);
    QFile file(Path(QStringLiteral("look.z80")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(source) == source.size());
    file.close();
    Do("listing");
    Choose(file.fileName());
    Click(QStringLiteral("cmdAssemble"));
    const QStringList lines = Box()->toPlainText().split(u'\n');
    QStringList seen;
    int position = 0;
    for (const QString& line : lines.mid(0, lines.size() - 1)) {
      QTextCursor at(Box()->document());
      at.setPosition(position + 1);  // the format of the line's first character
      const QTextCharFormat f = at.charFormat();
      const QColor tint = f.background().color();
      const QString mark = QString(f.background().style() == Qt::NoBrush ? "" : tint.green() < tint.blue() + 20 ? "e" : "w") +
                           (f.fontWeight() > QFont::Normal ? "b" : "");
      seen << (mark.isEmpty() ? "-" : mark);
      position += static_cast<int>(line.size()) + 1;
    }
    QCOMPARE(seen.join(' '), marks);
    QVERIFY2(lines[0].contains(QRegularExpression(first)), qPrintable(lines[0].left(300)));
    const QByteArray listing = Read(Path(QStringLiteral("look.LST")));
    QVERIFY(listing.size() > source.size());
    if (source.contains('\xff')) QVERIFY(lines[1].contains(QStringLiteral("; \u00ff ")) && lines[2].mid(4) == lines[0].mid(4));
  }

  // The next session starts with the format, the box and the dialog's folder
  // the last one left; nothing is stored until something is chosen.
#if ORVANE_HAVE_RUNNER
  // Run (F9) with "CPM Executable": a CP/M image; hello's greeting on the
  // console; a key typed to a program that echoes it; a program with errors
  // not run; a fault whose status line, clicked, selects its statement in
  // the listing box; Stop, running and waiting for a key.
  void runInConsole() {
    QVERIFY(QFile::copy(EXAMPLES_DIR "/hello.z80", Path("hello.z80")));
    Do("cpm");
    Do("choose:" + Path("hello.z80"));
    auto run = [this](const QString& source, const char* keys) {
      QFile f(Path("p.z80"));
      QVERIFY(source.isEmpty() || (f.open(QIODevice::WriteOnly) && f.write(source.toLatin1()) > 0));
      f.close();
      if (!source.isEmpty()) Do("choose:" + Path("p.z80"));
      window_->RunProgram();
      auto* console = window_->findChild<orvane::qt::ConsoleWindow*>();
      QVERIFY(console);
      QTest::keyClicks(console->findChild<QWidget*>(QStringLiteral("console")), QLatin1String(keys));
      QTRY_VERIFY_WITH_TIMEOUT(console->Finished(), 30000);
    };
    auto console = [this] { return window_->findChild<orvane::qt::ConsoleWindow*>(); };
    auto write = [this](const char* text) {
      QFile f(Path("p.z80"));
      QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) > 0);
    };
    // F9 makes and runs hello.com, and says so.
    QTest::keyClick(window_.get(), Qt::Key_F9);
    QVERIFY(console());
    QTRY_VERIFY_WITH_TIMEOUT(console()->Finished(), 30000);
    QCOMPARE(console()->ScreenText(), QStringLiteral("HELLO, WORLD!"));
    QVERIFY2(console()->StatusText().startsWith("Ended: "), qPrintable(console()->StatusText()));
    QVERIFY2(Status().contains(QRegularExpression("^No errors; \\d+ bytes at 0100H-01..H\nlisting hello.LST, object "
                                                  "hello.com\nassembled as a CP/M image for Run \\(F9\\)$")),
             qPrintable(Status()));
    QVERIFY(QFile::exists(Path("hello.com")) && !QFile::exists(Path("hello.HEX")));
    QVERIFY(console()->findChild<QComboBox*>(QStringLiteral("cboBoard"))->isHidden());
    // After an Intel HEX assembly, F9 with empty fields and "CPM Executable"
    // assembles that source as a CP/M image beside it.
    write("  LD E,75\n  LD C,2\n  JP 5\n");  // K
    Do("hex");
    Do("choose:" + Path("p.z80"));
    Click(QStringLiteral("cmdAssemble"));
    QVERIFY(QFile::exists(Path("p.HEX")) && !QFile::exists(Path("p.com")));
    Do("cpm");
    run(QString(), "");
    QCOMPARE(console()->ScreenText(), QStringLiteral("K"));
    QVERIFY(QFile::exists(Path("p.com")));
    // Errors: no console, the count and the way to them.
    write("  FOO\n  LD A,NOWHERE\n  NOP\n");
    Do("choose:" + Path("p.z80"));
    const auto* before = console();
    window_->RunProgram();  // F9, with the console window in front
    QCOMPARE(console(), before);
    QCOMPARE(Status(), QStringLiteral("Not run: 2 errors; F8 goes to the first\nlisting p.LST, object p.com"));
    QApplication::setActiveWindow(window_.get());  // the keys go to the window, not the console
    Do("key:F8");
    QVERIFY2(Status().contains("Error 1 of 2, line 1: Undefined Opcode"), qPrintable(Status()));
    run("  LD C,1\n  CALL 5\n  LD E,A\n  LD C,2\n  JP 5\n", "q");
    QCOMPARE(console()->ScreenText(), QStringLiteral("qq"));
    Do("listing");
    run("  NOP\n  LD C,99\n  CALL 5 ; there is no 99\n", "");
    QCOMPARE(console()->StatusText().section('\n', 0, 0),
             QStringLiteral("Unknown BDOS function 99 called from 0103H (p.z80:3: CALL 5)"));
    QTest::mouseClick(console()->findChild<QLabel*>(QStringLiteral("lblRunStatus")), Qt::LeftButton);
    QVERIFY2(Box()->textCursor().selectedText().startsWith("0103 CD0500"), qPrintable(Box()->textCursor().selectedText()));
    // Stop ends a program that would run for ever.
    QFile f(Path("p.z80"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("LOOP:   JR LOOP\n") > 0);
    f.close();
    Do("choose:" + Path("p.z80"));
    window_->RunProgram();
    QVERIFY(console() && !console()->Finished());
    QTest::mouseClick(console()->findChild<QPushButton*>(QStringLiteral("cmdStop")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(console()->Finished(), 30000);
    QVERIFY2(console()->StatusText().startsWith("Stopped by Stop at 0100H (p.z80:1: LOOP:   JR LOOP)\nafter "),
             qPrintable(console()->StatusText()));
    // Stop while the program waits for a key is no normal end either.
    write("  LD C,1\n  CALL 5\n  JP 0\n");
    Do("choose:" + Path("p.z80"));
    window_->RunProgram();
    QVERIFY(console() && !console()->Finished());
    QTest::mouseClick(console()->findChild<QPushButton*>(QStringLiteral("cmdStop")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(console()->Finished(), 30000);
    QVERIFY2(console()->StatusText().startsWith("Stopped by Stop"), qPrintable(console()->StatusText()));
  }

  // Run (F9) with "Intel Hex Output": the HEX file runs on the board the
  // console's box shows (the setting), its 68B50 or SIO/2 channel A the
  // console; keys typed reach the program (rows.txt).
  void runOnBoard_data() {
    QTest::addColumn<QString>("board");  // the setting
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QString>("status");  // how the console's status line starts
    Rows("runOnBoard", [](const char* name, const QStringList& f) {
      QTest::newRow(name) << f[0] << f[1].toLatin1() << f[2].toLatin1() << f[3] << f[4];
    });
  }
  void runOnBoard() {
    QFETCH(QString, board);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, keys);
    QFETCH(QString, screen);
    QFETCH(QString, status);
    if (!board.isEmpty()) QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")).setValue(QStringLiteral("board"), board);
    QFile f(Path("b.z80"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(source) == source.size());
    f.close();
    Do("choose:" + Path("b.z80"));
    QTest::keyClick(window_.get(), Qt::Key_F9);
    auto* console = window_->findChild<orvane::qt::ConsoleWindow*>();
    QVERIFY(console);
    QVERIFY2(Status().endsWith("\nassembled as Intel HEX for Run (F9) on the board"), qPrintable(Status()));
    QVERIFY(QFile::exists(Path("b.HEX")) && !QFile::exists(Path("b.com")));
    auto* box = console->findChild<QComboBox*>(QStringLiteral("cboBoard"));
    QVERIFY(box && !box->isHidden());
    QCOMPARE(box->currentText(), board.isEmpty() ? QStringLiteral("sbc-acia") : board);
    QTest::keyClicks(console->findChild<QWidget*>(QStringLiteral("console")), QString::fromLatin1(keys));
    QTRY_VERIFY_WITH_TIMEOUT(console->Finished(), 30000);
    QCOMPARE(console->ScreenText(), screen);
    QVERIFY2(console->StatusText().startsWith(status), qPrintable(console->StatusText()));
  }

  // The board box: the built-in boards and "Board file...", the choice kept
  // in the settings and the program run again on the board chosen; a board
  // file with a mistake is said and changes nothing.
  void boardBox() {
    // Prints its name's first letter from ROM: on a board without ROM at
    // 0000H, or RAM only, the same program runs.
    QFile f(Path("e.z80"));
    QVERIFY(f.open(QIODevice::WriteOnly) &&
            f.write("        LD A,3\n        OUT (&H80),A\n        LD A,&H16\n        OUT (&H80),A\n"
                    "        LD A,69\n        OUT (&H81),A\n        DI\n        HALT\n") > 0);
    f.close();
    Do("choose:" + Path("e.z80"));
    window_->RunProgram();
    auto* console = window_->findChild<orvane::qt::ConsoleWindow*>();
    QVERIFY(console);
    QTRY_VERIFY_WITH_TIMEOUT(console->Finished(), 30000);
    QCOMPARE(console->ScreenText(), QStringLiteral("E"));
    auto* box = console->findChild<QComboBox*>(QStringLiteral("cboBoard"));
    QStringList entries;
    for (int i = 0; i < box->count(); ++i) entries << box->itemText(i);
    QCOMPARE(entries.join('|'), QStringLiteral("sbc-acia|sbc-sio|ram64-acia|Board file..."));
    QCOMPARE(box->itemData(0, Qt::ToolTipRole).toString(),
             QStringLiteral("sbc-acia: ROM 0000H-1FFFH, RAM 8000H-FFFFH, 68B50 ACIA at 80H"));
    bool labelled = false;
    for (QLabel* l : console->findChildren<QLabel*>()) labelled = labelled || (l->buddy() == box && l->text() == "&Board:");
    QVERIFY(labelled);
    auto settings = [] { return QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")).value(QStringLiteral("board")).toString(); };
    // Another board: kept, and the program runs again on it.
    box->setCurrentIndex(2);
    emit box->activated(2);
    QCOMPARE(settings(), QStringLiteral("ram64-acia"));
    QCOMPARE(console->BoardChoice(), QStringLiteral("ram64-acia"));
    QTRY_VERIFY_WITH_TIMEOUT(console->Finished(), 30000);
    QCOMPARE(console->ScreenText(), QStringLiteral("E"));
    QVERIFY2(console->StatusText().startsWith("HALT at 000DH with interrupts disabled (e.z80:8: HALT)"),
             qPrintable(console->StatusText()));
    // A board file with the ACIA at 40H: the program's OUT to 81H reaches
    // nothing, so nothing is printed.
    QFile bf(Path("mine.board"));
    QVERIFY(bf.open(QIODevice::WriteOnly) && bf.write("rom 0000-0FFF\nram 8000-FFFF\nacia 40\n") > 0);
    bf.close();
    QFile bad(Path("bad.board"));
    QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("rom 0000-0FFF\nacia 40\nacia 41\n") > 0);
    bad.close();
    QString answer = Path("bad.board");
    console->boardFileDialog = [&answer] { return answer; };
    const int file = box->count() - 1;
    box->setCurrentIndex(file);
    emit box->activated(file);
    QVERIFY(console->Finished());  // not run again
    QCOMPARE(console->ScreenText(), QStringLiteral("E"));
    QCOMPARE(console->findChild<QLabel*>(QStringLiteral("lblRunStatus"))->text(),
             Path("bad.board") + ":3: port 41H is already the device's on line 2");
    QCOMPARE(box->currentText(), QStringLiteral("ram64-acia"));
    QCOMPARE(settings(), QStringLiteral("ram64-acia"));
    answer.clear();  // the dialog cancelled: nothing changes
    box->setCurrentIndex(file);
    emit box->activated(file);
    QCOMPARE(box->currentText(), QStringLiteral("ram64-acia"));
    answer = Path("mine.board");
    box->setCurrentIndex(file);
    emit box->activated(file);
    QCOMPARE(settings(), QFileInfo(Path("mine.board")).absoluteFilePath());
    QCOMPARE(box->currentText(), QStringLiteral("mine.board"));
    QTRY_VERIFY_WITH_TIMEOUT(console->Finished(), 30000);
    QCOMPARE(console->ScreenText(), QString());
    // The next run starts on the board file.
    console->close();
    Do("choose:" + Path("e.z80"));
    window_->RunProgram();
    console = window_->findChild<orvane::qt::ConsoleWindow*>();
    QVERIFY(console);
    QCOMPARE(console->findChild<QComboBox*>(QStringLiteral("cboBoard"))->currentText(), QStringLiteral("mine.board"));
    QTRY_VERIFY_WITH_TIMEOUT(console->Finished(), 30000);
  }

  // Debug (Shift+F9) with "Intel Hex Output": on the board the run console
  // chose, at the program's own addresses. A breakpoint inside the receive
  // interrupt's handler stops there when a key is typed, the call stack names
  // the interrupt, and Step Back goes out of the handler to the HALT the
  // interrupt came at.
  void debuggerOnBoard() {
    using orvane::qt::DebugWindow;
    QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")).setValue(QStringLiteral("board"), QStringLiteral("sbc-acia"));
    QFile f(Path("i.z80"));
    QVERIFY(f.open(QIODevice::WriteOnly) &&
            f.write("        JP MAIN\n"               // 1
                    "        ORG &H38\n"              // 2
                    "RXINT:  IN A,(&H81)\n"           // 3
                    "        OUT (&H81),A\n"          // 4
                    "        EI\n"                    // 5
                    "        RETI\n"                  // 6
                    "MAIN:   LD SP,0\n"               // 7
                    "        LD A,3\n"                // 8
                    "        OUT (&H80),A\n"          // 9
                    "        LD A,&H96\n"             // 10
                    "        OUT (&H80),A\n"          // 11
                    "        IM 1\n"                  // 12
                    "        EI\n"                    // 13
                    "IDLE:   HALT\n"                  // 14
                    "        JR IDLE\n") > 0);        // 15
    f.close();
    Do("choose:" + Path("i.z80"));
    window_->DebugProgram();
    DebugWindow* d = window_->findChild<DebugWindow*>();
    QVERIFY(d);
    QCOMPARE(d->windowTitle(), QStringLiteral("Debug: i.z80 on sbc-acia"));
    auto stopped = [d](int line) { return !d->Running() && d->CurrentLine() == line; };
    QTRY_VERIFY_WITH_TIMEOUT(stopped(1), 30000);
    auto source = d->findChild<QTableWidget*>(QStringLiteral("tblSource"));
    QCOMPARE(source->item(d->RowOfLine(3), 2)->text(), QStringLiteral("0038"));
    const QRect cell = source->visualItemRect(source->item(d->RowOfLine(3), 0));
    QTest::mouseClick(source->viewport(), Qt::LeftButton, {}, cell.center());
    auto click = [d](const char* name) {
      auto* b = d->findChild<QPushButton*>(QLatin1String(name));
      QVERIFY2(b && b->isEnabled(), name);
      QTest::mouseClick(b, Qt::LeftButton);
    };
    click("cmdContinue");
    QTRY_VERIFY_WITH_TIMEOUT(d->Running(), 30000);
    QTest::keyClicks(d->findChild<QWidget*>(QStringLiteral("console")), QStringLiteral("z"));
    QTRY_VERIFY_WITH_TIMEOUT(stopped(3), 30000);
    QVERIFY2(d->StatusText().startsWith("Breakpoint at line 3"), qPrintable(d->StatusText()));
    QStringList frames;
    for (const orvane::DebugFrame& frame : d->State().stack) frames << QString::fromStdString(frame.text);
    QVERIFY2(frames.join('|').contains(QStringLiteral("interrupt")), qPrintable(frames.join('|')));
    click("cmdStepBack");
    QTRY_VERIFY_WITH_TIMEOUT(stopped(14), 30000);
    // Forwards again: the key typed comes again, and so does the interrupt.
    click("cmdContinue");
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running(), 30000);
    QVERIFY2(stopped(3), qPrintable(QString::number(d->CurrentLine()) + ": " + d->StatusText()));
    click("cmdStepInto");
    QTRY_VERIFY_WITH_TIMEOUT(stopped(4), 30000);
    click("cmdStepInto");
    QTRY_VERIFY_WITH_TIMEOUT(stopped(5), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(d->ScreenText(), QStringLiteral("z"), 30000);
  }

  // Debug (Shift+F9): the debugger window stops at the first statement; a
  // click in the margin sets a breakpoint that Continue stops at, with the
  // registers and the call stack shown; Step Back undoes the CALL; a
  // condition makes the breakpoint stop on the third arrival only; a line
  // typed into the console reaches the program, which then stops at its fault.
  void debugger() {
    using orvane::qt::DebugWindow;
    const char* program =
        "BDOS    EQU 5\n"
        "START:  LD A,3\n"
        "        LD (COUNT),A\n"
        "LOOP:   CALL SHOW\n"
        "        LD A,(COUNT)\n"
        "        DEC A\n"
        "        LD (COUNT),A\n"
        "        JR NZ,LOOP\n"
        "        LD DE,BUF\n"
        "        LD C,10\n"
        "        CALL BDOS\n"
        "        LD C,99\n"
        "        CALL BDOS\n"
        "        RET\n"
        "SHOW:   LD A,(COUNT)\n"  // line 15
        "        ADD A,48\n"
        "        LD E,A\n"
        "        LD C,2\n"
        "        CALL BDOS\n"
        "        RET\n"
        "COUNT:  DB 0\n"
        "BUF:    DB 20\n";
    QFile f(Path("d.z80"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(program) > 0);
    f.close();
    Do("cpm");
    Do("choose:" + Path("d.z80"));
    QTest::keyClick(window_.get(), Qt::Key_F9, Qt::ShiftModifier);
    DebugWindow* d = window_->findChild<DebugWindow*>();
    QVERIFY(d);
    auto stopped = [d](int line) { return !d->Running() && d->CurrentLine() == line; };
    QTRY_VERIFY_WITH_TIMEOUT(stopped(2), 30000);
    auto source = d->findChild<QTableWidget*>(QStringLiteral("tblSource"));
    auto registers = d->findChild<QTableWidget*>(QStringLiteral("tblRegisters"));
    auto value = [registers](const QString& name) {
      for (int r = 0; r < registers->rowCount(); ++r)
        for (int c = 0; c < registers->columnCount(); c += 2)
          if (registers->item(r, c)->text() == name) return registers->item(r, c + 1);
      qFatal("no register %s", qPrintable(name));
    };
    auto click = [d](const char* name) {
      auto* b = d->findChild<QPushButton*>(QLatin1String(name));
      QVERIFY2(b && b->isEnabled(), name);
      QTest::mouseClick(b, Qt::LeftButton);
    };
    auto margin = [d, source](int line) {
      const QRect cell = source->visualItemRect(source->item(d->RowOfLine(line), 0));
      QTest::mouseClick(source->viewport(), Qt::LeftButton, {}, cell.center());
    };
    QCOMPARE(value("PC")->text(), QStringLiteral("0100"));
    QCOMPARE(source->currentRow(), d->RowOfLine(2));
    QCOMPARE(source->item(source->currentRow(), 6)->text(), QStringLiteral("START:  LD A,3"));
    // Each instruction's T-states, after the address; blank for a directive.
    QCOMPARE(source->horizontalHeaderItem(3)->text(), QStringLiteral("T-states"));
    for (const auto& [line, tstates] : std::vector<std::pair<int, const char*>>{
             {1, ""}, {2, "7"}, {3, "13"}, {4, "17"}, {8, "12/7"}, {14, "10"}, {21, ""}})
      QCOMPARE(source->item(d->RowOfLine(line), 3)->text(), QString::fromLatin1(tstates));
    // Every control can be named by a screen reader.
    for (QWidget* w : d->findChildren<QWidget*>())
      if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractItemView*>(w))
        QVERIFY2(!w->accessibleName().isEmpty() || qobject_cast<QAbstractItemView*>(w->parentWidget()), qPrintable(w->objectName()));

    // A watched symbol, with a data breakpoint: stops right after the write.
    auto watch = d->findChild<QLineEdit*>(QStringLiteral("txtWatch"));
    QTest::keyClicks(watch, QStringLiteral("count"));
    QTest::keyClick(watch, Qt::Key_Return);
    auto watches = d->findChild<QTreeWidget*>(QStringLiteral("lstWatch"));
    QCOMPARE(watches->topLevelItemCount(), 1);
    QCOMPARE(watches->topLevelItem(0)->text(1), QStringLiteral("012BH (299)"));
    watches->topLevelItem(0)->setCheckState(3, Qt::Checked);
    click("cmdContinue");
    QTRY_VERIFY_WITH_TIMEOUT(stopped(4), 30000);
    QCOMPARE(d->StatusText(), QStringLiteral("Data breakpoint: COUNT written at line 3"));
    QVERIFY2(watches->topLevelItem(0)->text(2).startsWith("03 14 "), qPrintable(watches->topLevelItem(0)->text(2)));
    watches->topLevelItem(0)->setCheckState(3, Qt::Unchecked);

    margin(15);
    QCOMPARE(source->item(d->RowOfLine(15), 0)->toolTip(), QStringLiteral("Breakpoint"));
    click("cmdContinue");
    QTRY_VERIFY_WITH_TIMEOUT(stopped(15), 30000);
    QVERIFY2(d->StatusText().contains("line 15"), qPrintable(d->StatusText()));
    QCOMPARE(value("PC")->text(), QStringLiteral("011F"));
    QVERIFY(value("AF")->text().startsWith("03"));
    QVERIFY(value("SP")->font().bold() && !value("IX")->font().bold());  // CALL pushed: changed since the last stop
    auto stack = d->findChild<QListWidget*>(QStringLiteral("lstCallStack"));
    QCOMPARE(stack->count(), 2);
    QTest::mouseClick(stack->viewport(), Qt::LeftButton, {}, stack->visualItemRect(stack->item(1)).center());
    QCOMPARE(source->currentRow(), d->RowOfLine(4));

    click("cmdStepBack");
    QTRY_VERIFY_WITH_TIMEOUT(stopped(4), 30000);
    QCOMPARE(value("PC")->text(), QStringLiteral("0105"));
    // A register typed over: HL takes 1234H, and a bad value is refused.
    value("HL")->setText(QStringLiteral("1234"));
    QTRY_COMPARE_WITH_TIMEOUT(d->State().registers.hl, 0x1234, 30000);
    QCOMPARE(value("HL")->text(), QStringLiteral("1234"));
    value("HL")->setText(QStringLiteral("xyz"));
    QCOMPARE(value("HL")->text(), QStringLiteral("1234"));
    QVERIFY2(d->StatusText().contains("is not a value for HL"), qPrintable(d->StatusText()));

    // Stop only when COUNT has come down to 1: the third arrival.
    auto breakpoints = d->findChild<QTreeWidget*>(QStringLiteral("lstBreakpoints"));
    QCOMPARE(breakpoints->topLevelItemCount(), 1);
    breakpoints->topLevelItem(0)->setText(2, QStringLiteral("(COUNT) == 1"));
    click("cmdContinue");
    QTRY_VERIFY_WITH_TIMEOUT(stopped(15) && value("AF")->text().startsWith("01"), 30000);
    QCOMPARE(d->ScreenText(), QStringLiteral("32"));
    // Out of SHOW to the statement after the CALL, and back to the breakpoint.
    click("cmdStepOut");
    QTRY_VERIFY_WITH_TIMEOUT(stopped(5), 30000);
    QCOMPARE(d->ScreenText(), QStringLiteral("321"));
    click("cmdReverse");
    QTRY_VERIFY_WITH_TIMEOUT(stopped(15), 30000);
    QVERIFY2(d->StatusText().startsWith("Breakpoint at line 15"), qPrintable(d->StatusText()));
    QCOMPARE(d->ScreenText(), QStringLiteral("321"));  // what was printed stays

    // Without the breakpoint it runs on, waits for a line, and faults.
    margin(15);
    QCOMPARE(breakpoints->topLevelItemCount(), 0);
    click("cmdContinue");
    QTRY_COMPARE_WITH_TIMEOUT(d->ScreenText(), QStringLiteral("321"), 30000);
    QWidget* console = d->findChild<QWidget*>(QStringLiteral("console"));
    QTest::keyClicks(console, QStringLiteral("hello"));
    QTest::keyClick(console, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(stopped(13), 30000);
    QVERIFY2(d->StatusText().startsWith("Stopped: unknown BDOS function 99"), qPrintable(d->StatusText()));
    QVERIFY(d->State().fault);
    QCOMPARE(d->ScreenText(), QStringLiteral("321hello"));

    // Its size is kept for the next time.
    d->resize(900, 640);
    d->close();
    QTRY_VERIFY(!window_->findChild<DebugWindow*>());
    auto menu = window_->findChild<QAction*>(QStringLiteral("actDebug"));
    QVERIFY(menu && window_->actions().contains(menu) && menu->text() == "Debug\tShift+F9");
    menu->trigger();  // the right-click menu's Debug
    d = window_->findChild<DebugWindow*>();
    QVERIFY(d);
    QCOMPARE(d->size(), QSize(900, 640));
  }

  // A program that runs for ever: Pause stops it, Stop ends it, Restart
  // starts it again at its first statement.
  void debuggerPauseStopRestart() {
    using orvane::qt::DebugWindow;
    QFile f(Path("spin.z80"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("        LD A,7\nSPIN:   JR SPIN\n") > 0);
    f.close();
    Do("cpm");
    Do("choose:" + Path("spin.z80"));
    window_->DebugProgram();
    DebugWindow* d = window_->findChild<DebugWindow*>();
    QVERIFY(d);
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && d->CurrentLine() == 1, 30000);
    auto button = [d](const char* name) { return d->findChild<QPushButton*>(QLatin1String(name)); };
    QVERIFY(!button("cmdPause")->isEnabled());
    QTest::mouseClick(button("cmdContinue"), Qt::LeftButton);
    QVERIFY(d->Running() && button("cmdPause")->isEnabled() && !button("cmdStepInto")->isEnabled());
    QCOMPARE(d->StatusText(), QStringLiteral("Running..."));
    QTest::keyClick(d, Qt::Key_F6);
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running(), 30000);
    QVERIFY2(d->StatusText().startsWith("Paused at line 2"), qPrintable(d->StatusText()));
    QCOMPARE(d->CurrentLine(), 2);
    QTest::mouseClick(button("cmdContinue"), Qt::LeftButton);
    QTest::mouseClick(button("cmdDebugStop"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && d->State().ended, 30000);
    QVERIFY(!button("cmdContinue")->isEnabled() && !button("cmdStepBack")->isEnabled());
    QVERIFY(button("cmdRestart")->isEnabled());
    QTest::mouseClick(button("cmdRestart"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && !d->State().ended && d->CurrentLine() == 1, 30000);
    QVERIFY(button("cmdStepInto")->isEnabled());
    // A byte changed in the memory view: LD A,7 becomes LD A,9.
    auto memory = d->findChild<QTableView*>(QStringLiteral("tblMemory"));
    auto goTo = d->findChild<QLineEdit*>(QStringLiteral("txtGoTo"));
    QTest::keyClicks(goTo, QStringLiteral("spin"));
    QTest::keyClick(goTo, Qt::Key_Return);
    QCOMPARE(memory->currentIndex().row() * 16 + memory->currentIndex().column(), 0x0102);
    QCOMPARE(memory->currentIndex().data().toString(), QStringLiteral("18"));  // JR
    QVERIFY(!memory->model()->setData(memory->model()->index(0x10, 1), QStringLiteral("xyz")));
    QVERIFY(memory->model()->setData(memory->model()->index(0x10, 1), QStringLiteral("09")));
    QTest::keyClick(d, Qt::Key_F11);
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && d->CurrentLine() == 2, 30000);
    QCOMPARE(d->State().registers.af >> 8, 9);
    // Run to the selected line (Ctrl+F10), from the start again.
    QTest::mouseClick(button("cmdRestart"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && d->CurrentLine() == 1, 30000);
    auto source = d->findChild<QTableWidget*>(QStringLiteral("tblSource"));
    source->selectRow(d->RowOfLine(2));
    QTest::keyClick(d, Qt::Key_F10, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && d->CurrentLine() == 2, 30000);
    QCOMPARE(d->State().registers.pc, 0x0102);
    // Closed while it runs: the worker ends with the window.
    QTest::mouseClick(button("cmdContinue"), Qt::LeftButton);
    d->close();
    QTRY_VERIFY(!window_->findChild<DebugWindow*>());
  }

  // Writes a source into the test's folder and opens the debugger on it.
  orvane::qt::DebugWindow* DebugSource(const QString& name, const QByteArray& text) {
    QFile f(Path(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) return nullptr;
    f.close();
    Do("cpm");
    Do("choose:" + Path(name));
    window_->DebugProgram();
    auto* d = window_->findChild<orvane::qt::DebugWindow*>();
    if (d && !QTest::qWaitFor([d] { return !d->Running(); }, 30000)) return nullptr;
    return d;
  }
  static QTableWidgetItem* RegisterValue(orvane::qt::DebugWindow* d, const QString& name) {
    auto registers = d->findChild<QTableWidget*>(QStringLiteral("tblRegisters"));
    for (int r = 0; r < registers->rowCount(); ++r)
      for (int c = 0; c < registers->columnCount(); c += 2)
        if (registers->item(r, c)->text() == name) return registers->item(r, c + 1);
    qFatal("no register %s", qPrintable(name));
  }
  // A left click where a user would click in the source pane, at a point of
  // its viewport: on whatever is drawn there.
  static QAbstractItemView* ViewAt(QTableWidget* source, QPoint at, QPoint* local) {
    QWidget* w = source->viewport();
    const QPoint inSource = source->viewport()->mapTo(source, at);
    if (QWidget* top = source->childAt(inSource)) w = top;
    *local = w->mapFrom(source, inSource);
    auto* view = qobject_cast<QAbstractItemView*>(w->parentWidget());
    return view ? view : source;
  }
  static int ClickAt(QTableWidget* source, QPoint at) {
    QPoint local;
    QAbstractItemView* view = ViewAt(source, at, &local);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, local);
    return view->indexAt(local).column();
  }

  // The Runs column beside T-states counts how often each statement has run
  // in the session; with "Shade lines run" on (kept in the settings) the
  // statements that have run are shaded. Step Back takes a run off again.
  void debuggerRuns() {
    using orvane::qt::DebugWindow;
    DebugWindow* d = DebugSource("r.z80", "START:  LD B,3\nLOOP:   NOP\n        DJNZ LOOP\n        RET\nNEVER:  NOP\n");
    QVERIFY(d);
    auto source = d->findChild<QTableWidget*>(QStringLiteral("tblSource"));
    QCOMPARE(source->horizontalHeaderItem(3)->text() + '|' + source->horizontalHeaderItem(4)->text(),
             QStringLiteral("T-states|Runs"));
    auto runs = [&] {
      QStringList counts;
      for (int line = 1; line <= 5; ++line) counts << source->item(d->RowOfLine(line), 4)->text();
      return counts.join(' ');
    };
    auto shaded = [&] {
      QStringList marks;
      for (int line = 1; line <= 5; ++line) {
        const QBrush b = source->item(d->RowOfLine(line), 2)->background();
        marks << (line == d->CurrentLine() ? "c" : b.style() == Qt::NoBrush ? "-" : "s");
      }
      return marks.join(' ');
    };
    auto* shade = d->findChild<QCheckBox*>(QStringLiteral("chkShadeRun"));
    QVERIFY(shade && shade->isChecked());
    QCOMPARE(runs(), QStringLiteral("    "));
    auto click = [d](const char* name) {
      auto* b = d->findChild<QPushButton*>(QLatin1String(name));
      QVERIFY2(b && b->isEnabled(), name);
      QTest::mouseClick(b, Qt::LeftButton);
    };
    click("cmdStepInto");
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && d->CurrentLine() == 2, 30000);
    QCOMPARE(runs(), QStringLiteral("1    "));
    QCOMPARE(shaded(), QStringLiteral("s c - - -"));
    click("cmdStepInto");
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && d->CurrentLine() == 3, 30000);
    click("cmdStepBack");
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && d->CurrentLine() == 2, 30000);
    QCOMPARE(runs(), QStringLiteral("1    "));
    QCOMPARE(shaded(), QStringLiteral("s c - - -"));
    click("cmdStepBack");
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && d->CurrentLine() == 1, 30000);
    QCOMPARE(runs(), QStringLiteral("    "));
    QCOMPARE(shaded(), QStringLiteral("c - - - -"));
    click("cmdContinue");
    QTRY_VERIFY_WITH_TIMEOUT(d->State().ended, 30000);
    QCOMPARE(runs(), QStringLiteral("1 3 3 1 "));
    QCOMPARE(shaded().replace('c', 's'), QStringLiteral("s s s s -"));
    // Off: nothing shaded, the counts stay; the choice is kept.
    shade->click();
    QCOMPARE(shaded().replace('c', '-'), QStringLiteral("- - - - -"));
    QCOMPARE(runs(), QStringLiteral("1 3 3 1 "));
    QCOMPARE(QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")).value(QStringLiteral("shadeRun")).toBool(), false);
  }

  // Save Profile... and Save Coverage... write the run so far beside the
  // source by default, while the program is stopped. The figures are counted
  // by hand: LD B,3 7, NOP 4, DJNZ 13 taken / 8 not, RET 10 T-states.
  void debuggerSavesProfileAndCoverage() {
    using orvane::qt::DebugWindow;
    DebugWindow* d = DebugSource("p.z80", "START:  LD B,3\nLOOP:   NOP\n        DJNZ LOOP\n        RET\nNEVER:  NOP\n");
    QVERIFY(d);
    QStringList asked;
    QString answer;
    d->saveDialog = [&](const QString& caption, const QString& suggested, const QString&) {
      asked << caption + '|' + suggested;
      return answer;
    };
    auto* save = d->findChild<QPushButton*>(QStringLiteral("cmdSave"));
    auto* profile = d->findChild<QAction*>(QStringLiteral("actSaveProfile"));
    auto* coverage = d->findChild<QAction*>(QStringLiteral("actSaveCoverage"));
    QVERIFY(save && profile && coverage && save->menu());
    QCOMPARE(profile->text() + '|' + coverage->text(), QStringLiteral("Save Profile...|Save Coverage..."));
    auto step = [d](int line) {
      QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdStepInto")), Qt::LeftButton);
      return QTest::qWaitFor([d, line] { return !d->Running() && d->CurrentLine() == line; }, 30000);
    };
    // LD B,3; NOP; DJNZ taken; NOP: 4 instructions, 7 + 4 + 13 + 4 T-states.
    QVERIFY(step(2) && step(3) && step(2) && step(3));
    auto read = [](const QString& path) {
      QFile f(path);
      return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QStringLiteral("(none)");
    };
    auto lines = [&](const QString& path, const QString& prefix) {
      QStringList found;
      for (const QString& l : read(path).split('\n'))
        if (l.startsWith(prefix)) found << l;
      return found.join(' ');
    };
    auto saved = [&](QAction* action, const QString& path, const QString& note) {
      answer = path;
      action->trigger();
      return QTest::qWaitFor([&] { return d->StatusText().startsWith(note); }, 30000);
    };
    const QString prof = Path("p.prof"), info = Path("p.info");
    QVERIFY2(saved(profile, prof, "Profile written to " + prof + "\n"), qPrintable(d->StatusText()));
    QVERIFY2(saved(coverage, info, "Coverage written to " + info + "\n"), qPrintable(d->StatusText()));
    QCOMPARE(asked, QStringList({"Save Profile|" + prof, "Save Coverage|" + info}));
    QCOMPARE(lines(prof, "totals:"), QStringLiteral("totals: 4 28"));
    // The source by its own path, wherever the window was started.
    QCOMPARE(lines(prof, "fl="), "fl=" + Path("p.z80"));
    QCOMPARE(lines(info, "SF:"), "SF:" + Path("p.z80"));
    QCOMPARE(lines(info, "DA:"), QStringLiteral("DA:1,1 DA:2,2 DA:3,1 DA:4,0 DA:5,0"));
    QCOMPARE(lines(info, "BRDA:"), QStringLiteral("BRDA:3,0,0,1 BRDA:3,0,1,0"));
    QCOMPARE(d->CurrentLine(), 3);  // saving does not move the program

    // Nowhere to write: the reason, and nothing else changes.
    QVERIFY2(saved(profile, Path("none/p.prof"), "Profile not written: cannot write " + Path("none/p.prof")),
             qPrintable(d->StatusText()));
    // Cancelled: nothing written, nothing said.
    const QString before = d->StatusText();
    answer.clear();
    QFile::remove(info);
    coverage->trigger();
    QCOMPARE(d->StatusText(), before);
    QVERIFY(!QFile::exists(info));

    // While the program runs the menu is off, and a save is refused.
    QFile::remove(prof);
    QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdContinue")), Qt::LeftButton);
    QVERIFY(d->Running());
    QVERIFY(!save->isEnabled() && !profile->isEnabled() && !coverage->isEnabled());
    asked.clear();
    answer = prof;
    d->SaveRecord(orvane::DebugDriver::Record::kProfile);
    QCOMPARE(d->StatusText(), QStringLiteral("The program is running: pause it to save the profile"));
    QVERIFY(asked.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(d->State().ended, 30000);
    QVERIFY(!QFile::exists(prof));
    // Ended: the whole run, 8 instructions and 7 + 3 x 4 + 2 x 13 + 8 + 10 T-states.
    QVERIFY(save->isEnabled() && profile->isEnabled());
    QVERIFY2(saved(profile, prof, "Profile written to " + prof + "\n"), qPrintable(d->StatusText()));
    QVERIFY2(saved(coverage, info, "Coverage written to " + info + "\n"), qPrintable(d->StatusText()));
    QCOMPARE(lines(prof, "totals:"), QStringLiteral("totals: 8 63"));
    QCOMPARE(lines(info, "DA:"), QStringLiteral("DA:1,1 DA:2,3 DA:3,3 DA:4,1 DA:5,0"));
    QCOMPARE(lines(info, "BRDA:"), QStringLiteral("BRDA:3,0,0,2 BRDA:3,0,1,1"));
  }

  // Debug after F9 on another file debugs the file the last run ran, not the
  // session left open on the old one; Debug again on the same assembly brings
  // that session back.
  void debuggerFollowsTheLastRun() {
    using orvane::qt::DebugWindow;
    DebugWindow* a = DebugSource("a.z80", "  LD E,65\n  LD C,2\n  JP 5\n");
    QVERIFY(a);
    QCOMPARE(a->windowTitle(), QStringLiteral("Debug: a.z80"));
    QFile f(Path("b.z80"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("  LD E,66\n  LD C,2\n  JP 5\n") > 0);
    f.close();
    Do("choose:" + Path("b.z80"));
    window_->RunProgram();  // F9
    auto* console = window_->findChild<orvane::qt::ConsoleWindow*>();
    QVERIFY(console);
    QTRY_VERIFY_WITH_TIMEOUT(console->Finished(), 30000);
    QCOMPARE(console->ScreenText(), QStringLiteral("B"));
    window_->DebugProgram();  // Shift+F9
    QTRY_VERIFY_WITH_TIMEOUT(window_->findChildren<DebugWindow*>().size() == 1, 30000);
    DebugWindow* b = window_->findChild<DebugWindow*>();
    QCOMPARE(b->windowTitle(), QStringLiteral("Debug: b.z80"));
    QTRY_VERIFY_WITH_TIMEOUT(!b->Running() && b->CurrentLine() == 1, 30000);
    QTest::mouseClick(b->findChild<QPushButton*>(QStringLiteral("cmdContinue")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(b->State().ended, 30000);
    QCOMPARE(b->ScreenText(), QStringLiteral("B"));
    window_->DebugProgram();  // the same assembly: the same session
    QCOMPARE(window_->findChild<DebugWindow*>(), b);
    QVERIFY(b->State().ended);
  }

  // The source pane stays where the user put it: a click in the margin sets
  // the breakpoint on the line clicked and scrolls nothing; moving with the
  // keys never scrolls sideways; scrolled sideways by hand, the margin, line,
  // address and T-states are still where they were.
  void debuggerSourcePaneStays() {
    QByteArray text;
    for (int i = 1; i <= 150; ++i)
      text += "        NOP             ; line " + QByteArray::number(i) + ": " + QByteArray(140, 'x') + "\n";
    text += "        RET\n";
    auto* d = DebugSource("long.z80", text);
    QVERIFY(d);
    QCOMPARE(d->CurrentLine(), 1);
    d->resize(900, 600);
    auto source = d->findChild<QTableWidget*>(QStringLiteral("tblSource"));
    QTRY_VERIFY(source->viewport()->height() > 100);
    QScrollBar* down = source->verticalScrollBar();
    QScrollBar* across = source->horizontalScrollBar();
    QVERIFY(down->maximum() > 0 && across->maximum() > 0);
    down->setValue(down->maximum());
    const int bottom = down->value();
    const int rowHeight = source->rowHeight(0);
    const int margin = source->columnViewportPosition(0) + source->columnWidth(0) / 2;
    for (const int fromBottom : {3, 6}) {
      const int y = source->viewport()->height() - fromBottom * rowHeight;
      const int row = source->rowAt(y);
      const uint64_t version = d->State().version;
      QCOMPARE(ClickAt(source, QPoint(margin, y)), 0);
      QCOMPARE(source->item(row, 0)->toolTip(), QStringLiteral("Breakpoint"));
      QTRY_VERIFY_WITH_TIMEOUT(d->State().version > version, 30000);  // the session's answer is shown
      QCOMPARE(down->value(), bottom);
    }
    // Keys: from a statement's text down four rows and to the end of the line.
    down->setValue(0);
    const int y = source->rowViewportPosition(2) + rowHeight / 2;
    QVERIFY(source->columnViewportPosition(5) >= 0 && source->columnViewportPosition(5) < source->viewport()->width());
    QTest::mouseClick(source->viewport(), Qt::LeftButton, {}, QPoint(source->columnViewportPosition(5) + 4, y));
    QCOMPARE(source->currentColumn(), 5);
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Right, Qt::Key_End})
      QTest::keyClick(source, key);
    QCOMPARE(across->value(), 0);
    // Scrolled to the far right by hand: the margin and the line numbers are
    // at their places, and a click there still sets a breakpoint.
    across->setValue(across->maximum());
    QPoint local;
    const int lineX = source->columnWidth(0) + source->columnWidth(1) / 2;
    QAbstractItemView* view = ViewAt(source, QPoint(lineX, y), &local);
    QCOMPARE(view->indexAt(local).column(), 1);
    QCOMPARE(view->indexAt(local).data().toString(), source->item(source->rowAt(y), 1)->text());
    // The T-states stay in sight beside them.
    const int tstatesX =
        source->columnWidth(0) + source->columnWidth(1) + source->columnWidth(2) + source->columnWidth(3) / 2;
    view = ViewAt(source, QPoint(tstatesX, y), &local);
    QCOMPARE(view->indexAt(local).column(), 3);
    QCOMPARE(view->indexAt(local).data().toString(), QStringLiteral("4"));
    QCOMPARE(ClickAt(source, QPoint(margin, y)), 0);
    QCOMPARE(source->item(source->rowAt(y), 0)->toolTip(), QStringLiteral("Breakpoint"));
    QCOMPARE(across->value(), across->maximum());
  }

  // The debugger's console draws what a VT52 or ADM-3A program prints as the
  // run console does, by the same setting, in a box with a label.
  void debuggerConsoleTerminal_data() {
    QTest::addColumn<QString>("terminal");  // the setting
    QTest::addColumn<QByteArray>("bytes");   // what the program prints, then it ends
    QTest::addColumn<QString>("screen");
    Rows("debuggerConsoleTerminal", [](const char* name, const QStringList& f) {
      QTest::newRow(name) << f[0] << f[1].toLatin1() << f[2];
    });
  }
  void debuggerConsoleTerminal() {
    QFETCH(QString, terminal);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, screen);
    // What the run console's box keeps.
    QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")).setValue(QStringLiteral("terminal"), terminal);
    QByteArray text = "  LD DE,TEXT\n  LD C,9\n  JP 5\nTEXT:\n";
    for (const char c : bytes + '$') text += "  DB " + QByteArray::number(c) + "\n";
    auto* d = DebugSource("t.z80", text);
    QVERIFY(d);
    auto* box = d->findChild<QComboBox*>(QStringLiteral("cboTerminal"));
    QVERIFY(box);
    QCOMPARE(box->currentData().toString(), terminal);
    bool labelled = false;
    for (QLabel* l : d->findChildren<QLabel*>()) labelled = labelled || (l->buddy() == box && l->text() == "&Terminal:");
    QVERIFY(labelled);
    QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdContinue")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(d->State().ended, 30000);
    QCOMPARE(d->ScreenText(), screen);
    // Changed in the box: the next start draws as ANSI, and the run console
    // starts with the same choice.
    box->setCurrentIndex(0);
    emit box->activated(0);
    QCOMPARE(QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")).value(QStringLiteral("terminal")).toString(),
             QStringLiteral("ansi"));
  }

  // Where the debugger opens: beside the main window on its screen (rows.txt).
  void debuggerPlace_data() {
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QRect>("main");  // its frame
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("first");  // no size kept from the last time
    QTest::addColumn<QRect>("place");  // the debugger's frame
    Rows("debuggerPlace", [](const char* name, const QStringList& f) {
      QTest::newRow(name) << Rect(f[0]) << Rect(f[1]) << Rect("0 0 " + f[2]).size() << (f[3] == "first") << Rect(f[4]);
    });
  }
  void debuggerPlace() {
    QFETCH(QRect, screen);
    QFETCH(QRect, main);
    QFETCH(QSize, size);
    QFETCH(bool, first);
    QFETCH(QRect, place);
    const QMargins frame(2, 28, 2, 2);
    const QRect client = orvane::qt::PlaceBeside(screen, main, size, frame, first);
    QCOMPARE(client + frame, place);
    QVERIFY(screen.contains(place));
  }

  // While the program runs the registers and the arrow are greyed (they are
  // the last stop's); a watch marks the bytes that changed and no others;
  // the end that follows a fault keeps the fault's reason.
  void debuggerStaleAndFault() {
    auto* d = DebugSource("f.z80",
                          "START:  LD A,7\n"
                          "        LD (THIRD),A\n"
                          "        NOP\n"
                          "        LD DE,BUF\n"
                          "        LD C,10\n"
                          "        CALL 5\n"
                          "        LD C,99\n"
                          "        CALL 5\n"
                          "        RET\n"
                          "COUNT:  DB 1\n        DB 2\nTHIRD:  DB 3\n        DB 4\n"
                          "        DB 5\n        DB 6\n        DB 7\n        DB 8\n"
                          "BUF:    DB 20\n");
    QVERIFY(d);
    auto watch = d->findChild<QLineEdit*>(QStringLiteral("txtWatch"));
    QTest::keyClicks(watch, QStringLiteral("count"));
    QTest::keyClick(watch, Qt::Key_Return);
    QTreeWidgetItem* w = d->findChild<QTreeWidget*>(QStringLiteral("lstWatch"))->topLevelItem(0);
    auto step = [d](int line) {
      QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdStepInto")), Qt::LeftButton);
      return QTest::qWaitFor([d, line] { return !d->Running() && d->CurrentLine() == line; }, 30000);
    };
    auto changed = [w] {
      QStringList bytes;
      for (const QVariant& v : w->data(2, Qt::UserRole + 1).toList()) bytes << v.toString();
      return bytes.join(',');
    };
    QVERIFY(step(2));
    QVERIFY(step(3));
    QCOMPARE(w->text(2), QStringLiteral("01 02 07 04 05 06 07 08  ........"));
    QCOMPARE(changed(), QStringLiteral("2"));
    QVERIFY(step(4));
    QCOMPARE(changed(), QString());
    // Running, waiting for a line: what is shown is the last stop's.
    // Grey: neither the text's colour nor the red of a change.
    auto greyed = [d](const QTableWidgetItem* item) {
      const QColor c = item->foreground().color();
      return item->foreground().style() != Qt::NoBrush && c.red() == c.green() && c.green() == c.blue() &&
             c != d->palette().color(QPalette::Text);
    };
    QVERIFY(!greyed(RegisterValue(d, "PC")) && !greyed(RegisterValue(d, "IX")));
    QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdContinue")), Qt::LeftButton);
    QVERIFY(d->Running());
    auto source = d->findChild<QTableWidget*>(QStringLiteral("tblSource"));
    QTableWidgetItem* arrow = source->item(d->RowOfLine(4), 0);
    QVERIFY(greyed(RegisterValue(d, "PC")) && greyed(RegisterValue(d, "IX")));
    QVERIFY(w->foreground(2).color() != d->palette().color(QPalette::Text) && changed().isEmpty());
    QVERIFY2(arrow->data(Qt::AccessibleTextRole).toString().contains("running"),
             qPrintable(arrow->data(Qt::AccessibleTextRole).toString()));
    QWidget* console = d->findChild<QWidget*>(QStringLiteral("console"));
    QTest::keyClicks(console, QStringLiteral("hi"));
    QTest::keyClick(console, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!d->Running() && d->CurrentLine() == 8, 30000);
    QVERIFY(d->State().fault);
    QVERIFY(!greyed(RegisterValue(d, "PC")) && !greyed(RegisterValue(d, "IX")));
    QCOMPARE(d->StatusText(), QStringLiteral("Stopped: unknown BDOS function 99 at 0110H, line 8"));
    QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdContinue")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(d->State().ended, 30000);
    QCOMPARE(d->StatusText(), QStringLiteral("Exited with status 3 after: unknown BDOS function 99 at 0110H, line 8"));
  }
#endif

  void settings_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("restored");  // format|box|height|dialog folder
    QTest::newRow("nothing stored") << QStringList{} << "hex|off|3000|";
    QTest::newRow("CP/M, box, folder") << QStringList{"cpm", "listing", "choose:/d/demo.z80"} << "cpm|on|6780|/d";
    QTest::newRow("dropped, box off again") << QStringList{"listing", "listing", "drop:/w/p.asm"} << "hex|off|3000|/w";
  }
  void settings() {
    QFETCH(QStringList, steps);
    QFETCH(QString, restored);
    for (const QString& s : steps) Do(s);
    Open();
    const QStringList state{Button(QStringLiteral("optCPMcom"))->isChecked() ? "cpm" : "hex",
                            Box()->isVisible() ? "on" : "off", QString::number(HeightTwips()), window_->DialogFolder()};
    QCOMPARE(state.join('|'), restored);
    QCOMPARE(QFile::exists(Path(QStringLiteral("settings/Orvane/orvane.conf"))), !steps.isEmpty());
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
