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
constexpr int kBoxMargin = 3090;  // twips
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

 private:
  // ---- Scenes (rows.txt, and scenes.txt with the runner): scripts of actions
  // and checks on the window, the run console and the debugger, one step a row.
  QStringList asked_;
  QString saveAnswer_, markedStatus_;
  template <typename T = QWidget>
  static T* In(QObject* parent, const QString& name) {
    T* w = parent ? parent->findChild<T*>(name) : nullptr;
    if (!w) qFatal("no control %s", qPrintable(name));
    return w;
  }
  static QString YesNo(bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); }
  static QString Settings(const QString& key) {
    return QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")).value(key).toString();
  }
#if ORVANE_HAVE_RUNNER
  orvane::qt::DebugWindow* markedD_ = nullptr;
  orvane::qt::ConsoleWindow* markedC_ = nullptr;
  uint64_t markedVersion_ = 0;
  QPoint point_;  // where pointat aims, in the source pane's viewport
  orvane::qt::DebugWindow* D() { return window_->findChild<orvane::qt::DebugWindow*>(); }
  orvane::qt::ConsoleWindow* C() { return window_->findChild<orvane::qt::ConsoleWindow*>(); }
  QTableWidget* Source() { return In<QTableWidget>(D(), QStringLiteral("tblSource")); }
  QTreeWidgetItem* Watch() { return In<QTreeWidget>(D(), QStringLiteral("lstWatch"))->topLevelItem(0); }
  QWidget* Console() { return In(D() ? static_cast<QWidget*>(D()) : C(), QStringLiteral("console")); }
  // Per line 1..N of the source pane: the Runs column, or "s" (shaded), "-", and
  // for the current line "c" or what current says.
  QString Lines(int n, bool shade, const QString& current) {
    QStringList out;
    for (int line = 1; line <= n; ++line) {
      QTableWidgetItem* item = Source()->item(D()->RowOfLine(line), shade ? 2 : 4);
      out << (!shade ? item->text() : line == D()->CurrentLine() ? (current.isEmpty() ? "c" : current) : item->background().style() == Qt::NoBrush ? "-" : "s");
    }
    return out.join(shade ? ' ' : ',');
  }
#endif
  // What a check reads: a name, then its arguments.
  QString Probe(const QString& probe) {
    const QString what = probe.section(' ', 0, 0), a = probe.section(' ', 1, 1), b = probe.section(' ', 2);
    if (what == "status") return Status();
    if (what == "status.rest") return Status().section('\n', 1, -1);
    if (what == "fields") return Fields();
    if (what == "window") return window_->objectName() + '|' + window_->windowTitle();
    if (what == "height") return QString::number(HeightTwips());
    if (what == "named") return Get(a)->accessibleName() + '|' + Get<QLineEdit>(a)->placeholderText();
    if (what == "accessible") return Get(a)->accessibleName();
    if (what == "icon") return YesNo(!window_->windowIcon().pixmap(32).isNull());
    if (what == "filters") return dialogFilters_.join(", ");
    if (what == "cutoff") {  // controls that reach past the window's right edge
      QStringList cut;
      for (QWidget* w : window_->findChildren<QWidget*>(QRegularExpression("^(cmd|txt|chk|opt|lbl)")))
        if (w->geometry().right() >= window_->width()) cut << w->objectName();
      return cut.join(' ');
    }
    if (what == "focus") {  // the tab order from the first control named, through those named
      const QStringList names = probe.section(' ', 1).split(' ');
      QStringList seen{a};
      for (QWidget* w = Get(a)->nextInFocusChain(); w != Get(a) && seen.size() < 20; w = w->nextInFocusChain())
        if (names.contains(w->objectName())) seen << w->objectName();
      return seen.join(' ');
    }
    if (what == "font") return QString("%1 %2").arg(Get(a)->font().bold() ? "bold" : "plain").arg(Get(a)->font().pointSizeF());
    if (what == "fixed") {
      const QFontMetrics fixed(Box()->font());
      return YesNo(fixed.horizontalAdvance(QLatin1Char('i')) == fixed.horizontalAdvance(QLatin1Char('W')));
    }
    if (what == "box") return QString("%1 %2 %3").arg(YesNo(Box()->isReadOnly())).arg(int(Box()->verticalScrollBarPolicy()))
                                                 .arg(int(Box()->horizontalScrollBarPolicy()));
    if (what == "marks") {  // per box line: "e" tinted as an error, "w" as a warning, "b" bold, "." plain
      QStringList seen;
      const QStringList lines = Box()->toPlainText().split(u'\n');
      int position = 0;
      for (const QString& line : lines.mid(0, lines.size() - 1)) {
        QTextCursor at(Box()->document());
        at.setPosition(position + 1);  // the format of the line's first character
        position += static_cast<int>(line.size()) + 1;
        const QTextCharFormat f = at.charFormat();
        const QColor tint = f.background().color();
        const QString mark = QString(f.background().style() == Qt::NoBrush ? "" : tint.green() < tint.blue() + 20 ? "e" : "w") +
                             (f.fontWeight() > QFont::Normal ? "b" : "");
        seen << (mark.isEmpty() ? "." : mark);
      }
      return seen.join(' ');
    }
    if (what == "boxtext") return Box()->toPlainText().split(u'\n').value(a.toInt()).mid(b.toInt());
    if (what == "sametail") return YesNo(Probe("boxtext " + a + ' ' + b.section(' ', 1)) == Probe("boxtext " + b));
    if (what == "bigger") return YesNo(QFileInfo(Path(a)).size() > QFileInfo(Path(b)).size());
    // A line of the status as shown, whole, and whether it is shown whole.
    if (what == "shown") return Get<QLabel>(QStringLiteral("lblStatus"))->text().split(u'\n').value(a.toInt());
    if (what == "status.line") return Status().split(u'\n').value(a.toInt());
    if (what == "kept") return YesNo(Probe("shown " + a) == Probe("status.line " + a));
    if (what == "fits") {  // every line shown fits the status line's width and height, and how many are shown
      auto* label = Get<QLabel>(QStringLiteral("lblStatus"));
      const QStringList shown = label->text().split(u'\n');
      const QFontMetrics metrics(label->font());
      bool fits = shown.size() * metrics.lineSpacing() <= label->contentsRect().height();
      for (const QString& line : shown) fits = fits && metrics.horizontalAdvance(line) <= label->contentsRect().width();
      return YesNo(fits) + ' ' + QString::number(shown.size());
    }
    if (what == "described")
      return YesNo(Get<QLabel>(QStringLiteral("lblStatus"))->accessibleDescription() == Get(QStringLiteral("lblStatus"))->toolTip());
    if (what == "boxline") {  // the listing box's selected line, empty for none
      const QTextCursor c = Box()->textCursor();
      return c.hasSelection() ? QString::number(Box()->toPlainText().left(c.selectionStart()).count(u'\n')) : "";
    }
    if (what == "restored")  // format|box|height|dialog folder
      return QStringList{Button(QStringLiteral("optCPMcom"))->isChecked() ? "cpm" : "hex", Box()->isVisible() ? "on" : "off",
                         QString::number(HeightTwips()), window_->DialogFolder()}.join('|');
    if (what == "dropped")  // on "window" or "field", the Qt::DropActions offered: the one taken
      return QString::number(int(Drop(a == "field" ? static_cast<QWidget*>(Field("txtSource")) : window_.get(),
                                      b.section(' ', 1), Qt::DropActions(b.section(' ', 0, 0).toInt()))));
    if (what == "selected") return Box()->textCursor().selectedText();
    if (what == "exists") return YesNo(QFile::exists(Path(a)));
    if (what == "setting") return Settings(a);
    if (what == "hidden") return YesNo(Get(a)->isHidden());
    if (what == "visible") return YesNo(Get(a)->isVisible());
    if (what == "enabled") return YesNo(Get<QObject>(a)->property("enabled").toBool());
    if (what == "checked") return YesNo(Get<QAbstractButton>(a)->isChecked());
    if (what == "hasmenu") return YesNo(Get<QPushButton>(a)->menu());
    if (what == "action") return Get<QAction>(a)->text();
    if (what == "label") return Get<QLabel>(a)->text();
    if (what == "combo") return Get<QComboBox>(a)->currentText();
    if (what == "data") return Get<QComboBox>(a)->currentData().toString();
    if (what == "buddy") {
      for (QLabel* l : window_->findChildren<QLabel*>())
        if (l->buddy() == Get(a)) return l->text();
      return "-";
    }
    if (what == "items") {
      QStringList entries;
      for (int i = 0; i < Get<QComboBox>(a)->count(); ++i) entries << Get<QComboBox>(a)->itemText(i);
      return entries.join('|');
    }
    if (what == "itemtip") return Get<QComboBox>(a)->itemData(b.toInt(), Qt::ToolTipRole).toString();
    if (what == "menu") {
      auto* act = window_->findChild<QAction*>(a);
      return act && window_->actions().contains(act) ? act->text() : "-";
    }
#if ORVANE_HAVE_RUNNER
    auto* d = D();
    auto* c = C();
    if (what == "same") return YesNo(d == markedD_ && c == markedC_);
    if (what == "consoles") return QString::number(window_->findChildren<orvane::qt::ConsoleWindow*>().size());
    if (what == "debuggers") return QString::number(window_->findChildren<orvane::qt::DebugWindow*>().size());
    if (what.startsWith("c.") && !c) return "(no console)";
    if (what == "c.screen") return c->ScreenText();
    if (what == "c.status") return c->StatusText();
    if (what == "c.status1") return c->StatusText().section('\n', 0, 0);
    if (what == "c.finished") return YesNo(c->Finished());
    if (what == "c.choice") return c->BoardChoice();
    if (what == "lines") {
      QFile f(Path(a));
      if (!f.open(QIODevice::ReadOnly)) return "(none)";
      QStringList found;
      for (const QString& l : QString::fromLatin1(f.readAll()).split('\n'))
        if (l.startsWith(b)) found << l;
      return found.join(' ');
    }
    if (what == "asked") return asked_.join(", ");
    if (!d) return "(no debugger)";
    QTableWidget* pane = Source();
    if (what == "tall") return YesNo(pane->viewport()->height() > 100);
    if (what == "scroll") {  // where the pane's bars stand, and whether both can move
      auto at = [](QScrollBar* s) { return s->value() == 0 ? "start" : s->value() == s->maximum() ? "end" : "between"; };
      QScrollBar *down = pane->verticalScrollBar(), *across = pane->horizontalScrollBar();
      return QString("%1 %2 ").arg(at(down), at(across)) + YesNo(down->maximum() > 0 && across->maximum() > 0);
    }
    if (what == "hit") {  // at the point: the column drawn there, its text, and the line of its row
      QPoint local;
      const QModelIndex i = ViewAt(pane, point_, &local)->indexAt(local);
      return QString("%1 %2 %3").arg(i.column()).arg(i.data().toString(), pane->item(pane->rowAt(point_.y()), 1)->text());
    }
    if (what == "pointtip") return pane->item(pane->rowAt(point_.y()), 0)->toolTip();
    if (what == "column") return QString::number(pane->currentColumn());
    if (what == "d.newer") return YesNo(d->State().version > markedVersion_);
    const auto& r = d->State().registers;
    if (what == "d.title") return d->windowTitle();
    if (what == "d.at")
      return d->Running() ? "running" : d->State().ended ? "ended" : "line " + QString::number(d->CurrentLine());
    if (what == "d.statuskept") return YesNo(d->StatusText() == markedStatus_);
    if (what == "d.running") return YesNo(d->Running());
    if (what == "d.ended") return YesNo(d->State().ended);
    if (what == "d.fault") return YesNo(bool(d->State().fault));
    if (what == "d.status") return d->StatusText();
    if (what == "d.screen") return d->ScreenText();
    if (what == "d.size") return QString("%1x%2").arg(d->width()).arg(d->height());
    if (what == "d.row") {  // the line of the source pane's current row
      for (int line = 1; line < 1000; ++line)
        if (d->RowOfLine(line) == Source()->currentRow()) return QString::number(line);
      return "-";
    }
    if (what == "state") return QString("%1").arg(a == "hl" ? r.hl : a == "pc" ? r.pc : r.af >> 8, a == "a" ? 2 : 4, 16, QChar('0')).toUpper();
    if (what == "reg") return RegisterValue(d, a)->text();
    if (what == "bold") return YesNo(RegisterValue(d, a)->font().bold());
    if (what == "grey") {  // neither the text's colour nor the red of a change
      const QTableWidgetItem* item = RegisterValue(d, a);
      const QColor k = item->foreground().color();
      return YesNo(item->foreground().style() != Qt::NoBrush && k.red() == k.green() && k.green() == k.blue() &&
                   k != d->palette().color(QPalette::Text));
    }
    if (what == "cell") return Source()->item(d->RowOfLine(a.toInt()), b.toInt())->text();
    if (what == "current") return Source()->item(Source()->currentRow(), a.toInt())->text();
    if (what == "tip") return Source()->item(d->RowOfLine(a.toInt()), 0)->toolTip();
    if (what == "arrow") return Source()->item(d->RowOfLine(a.toInt()), 0)->data(Qt::AccessibleTextRole).toString();
    if (what == "header") return Source()->horizontalHeaderItem(a.toInt())->text();
    if (what == "runs" || what == "shaded") return Lines(a.toInt(), what == "shaded", b);
    if (what == "watches") return QString::number(Get<QTreeWidget>("lstWatch")->topLevelItemCount());
    if (what == "watch") return Watch()->text(a.toInt());
    if (what == "watchtint") return YesNo(Watch()->foreground(2).color() != d->palette().color(QPalette::Text));
    if (what == "changed") {
      QStringList bytes;
      for (const QVariant& v : Watch()->data(2, Qt::UserRole + 1).toList()) bytes << v.toString();
      return bytes.join(',');
    }
    if (what == "breakpoints") return QString::number(Get<QTreeWidget>("lstBreakpoints")->topLevelItemCount());
    if (what == "stack") return QString::number(Get<QListWidget>("lstCallStack")->count());
    if (what == "frames") {
      QStringList frames;
      for (const orvane::DebugFrame& frame : d->State().stack) frames << QString::fromStdString(frame.text);
      return frames.join('|');
    }
    auto* memory = Get<QTableView>("tblMemory");
    if (what == "mem")
      return QString("%1 ").arg(memory->currentIndex().row() * 16 + memory->currentIndex().column(), 4, 16, QChar('0')) +
             memory->currentIndex().data().toString();
    if (what == "poke") return YesNo(memory->model()->setData(memory->model()->index(a.toInt(), b.section(' ', 0, 0).toInt()), b.section(' ', 1)));
    if (what == "unnamed") {  // controls a screen reader could not name
      QStringList unnamed;
      for (QWidget* w : d->findChildren<QWidget*>())
        if ((qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractItemView*>(w)) &&
            w->accessibleName().isEmpty() && !qobject_cast<QAbstractItemView*>(w->parentWidget()))
          unnamed << w->objectName();
      return unnamed.join(' ');
    }
#endif
    qFatal("no probe %s", qPrintable(what));
  }
  void ActivateItem(QComboBox* box, const QString& index) {
    const int i = index == "last" ? box->count() - 1 : index.toInt();
    box->setCurrentIndex(i);
    emit box->activated(i);
  }
  // One step of a scene: an action (ARG its argument), or a check of a probe
  // (ARG) against EXPECTED: is, starts, has, match; wait and waitstarts until it holds.
  void Step(const QString& verb, const QString& arg, const QString& expected) {
    const QString a = arg.section(' ', 0, 0), b = arg.section(' ', 1);
    if (verb == "is") QCOMPARE(Probe(arg), expected);
    else if (verb == "starts") QVERIFY2(Probe(arg).startsWith(expected), qPrintable(Probe(arg)));
    else if (verb == "has") QVERIFY2(Probe(arg).contains(expected), qPrintable(Probe(arg)));
    else if (verb == "match") QVERIFY2(Probe(arg).contains(QRegularExpression(expected)), qPrintable(Probe(arg)));
    else if (verb == "wait") QTRY_COMPARE_WITH_TIMEOUT(Probe(arg), expected, 30000);
    else if (verb == "waitstarts") QTRY_VERIFY2_WITH_TIMEOUT(Probe(arg).startsWith(expected), qPrintable(Probe(arg)), 30000);
    else if (verb == "write") {
      QFile f(Path(arg));
      QVERIFY(f.open(QIODevice::WriteOnly) && f.write(expected.toLatin1()) == expected.size());
    } else if (verb == "writebytes") {  // escapes resolved here, so that any byte can be written
      QFile f(Path(arg));
      const std::string bytes = rows::Unescape(expected.toStdString());
      QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size()));
    } else if (verb == "append") {  // APPEND NAME N | TEXT: the text N times at the end of the file
      QFile f(Path(a));
      QVERIFY(f.open(QIODevice::Append) && f.write(expected.toLatin1().repeated(b.toInt())) == expected.size() * b.toInt());
    } else if (verb == "remove") QFile::remove(Path(arg));
    else if (verb == "set") QSettings(QStringLiteral("Orvane"), QStringLiteral("orvane")).setValue(arg, expected);
    else if (verb == "do") Do(arg);
    else if (verb == "reopen") Open();
    else if (verb == "narrow") window_->resize(100, window_->height());  // as narrow as it goes
    else if (verb == "front") QApplication::setActiveWindow(window_.get());
    else if (verb == "copy") QVERIFY(QFile::copy(EXAMPLES_DIR "/" + arg, Path(arg)));
    else if (verb == "click") {
      QWidget* w = Get(arg);
      QVERIFY2(w->isEnabled(), qPrintable(arg));
      QTest::mouseClick(w, Qt::LeftButton);
    } else if (verb == "toggle") Get<QAbstractButton>(arg)->click();
    else if (verb == "trigger") Get<QAction>(arg)->trigger();
    else if (verb == "activate") ActivateItem(Get<QComboBox>(a), b);
    else if (verb == "enter") {  // typed into a field, then Return
      QTest::keyClicks(Get(a), b);
      QTest::keyClick(Get(a), Qt::Key_Return);
    }
#if ORVANE_HAVE_RUNNER
    else if (RunnerStep(verb, arg, a, b)) {
    }
#endif
    else QFAIL(qPrintable("no step " + verb));
  }
#if ORVANE_HAVE_RUNNER
  bool RunnerStep(const QString& verb, const QString& arg, const QString& a, const QString& b) {
    auto* d = D();
    if (verb == "run") window_->RunProgram();
    else if (verb == "debug") window_->DebugProgram();
    else if (verb == "mark") {
      markedD_ = d, markedC_ = C(), markedStatus_ = d ? d->StatusText() : QString();
      markedVersion_ = d ? d->State().version : 0;
    } else if (verb == "scroll") {  // down|across max|0
      (a == "down" ? Source()->verticalScrollBar() : Source()->horizontalScrollBar())->setValue(b == "max" ? INT_MAX : 0);
    } else if (verb == "pointat") {  // COLUMN ROW: near the column's left edge, on the row (counted from the bottom when negative)
      QTableWidget* pane = Source();
      int x = qMin(pane->columnWidth(a.toInt()) / 2, 8);
      for (int c = 0; c < a.toInt(); ++c) x += pane->columnWidth(c);
      const int row = b.toInt(), height = pane->rowHeight(0);
      point_ = QPoint(x, row >= 0 ? pane->rowViewportPosition(row) + height / 2 : pane->viewport()->height() + row * height);
    } else if (verb == "clickpoint") {
      QPoint local;
      QTest::mouseClick(ViewAt(Source(), point_, &local)->viewport(), Qt::LeftButton, {}, local);
    } else if (verb == "pkey") QTest::keySequence(Source(), QKeySequence(arg));
    else if (verb == "boardfile") C()->boardFileDialog = [arg] { return arg; };
    else if (verb == "type") QTest::keyClicks(Console(), arg);
    else if (verb == "typeline") QTest::keyClicks(Console(), arg), QTest::keyClick(Console(), Qt::Key_Return);
    else if (verb == "dkey") QTest::keySequence(d, QKeySequence(arg));
    else if (verb == "close") a == "d" ? d->close() : C()->close();
    else if (verb == "resize") d->resize(a.toInt(), b.toInt());
    else if (verb == "margin") {
      const QRect cell = Source()->visualItemRect(Source()->item(d->RowOfLine(arg.toInt()), 0));
      QTest::mouseClick(Source()->viewport(), Qt::LeftButton, {}, cell.center());
    } else if (verb == "select") Source()->selectRow(d->RowOfLine(arg.toInt()));
    else if (verb == "frame") {
      auto* stack = Get<QListWidget>("lstCallStack");
      QTest::mouseClick(stack->viewport(), Qt::LeftButton, {}, stack->visualItemRect(stack->item(arg.toInt())).center());
    } else if (verb == "watchbreak") Watch()->setCheckState(3, arg == "on" ? Qt::Checked : Qt::Unchecked);
    else if (verb == "condition") Get<QTreeWidget>("lstBreakpoints")->topLevelItem(0)->setText(2, arg);
    else if (verb == "setreg") RegisterValue(d, a)->setText(b);
    else if (verb == "answer") {
      saveAnswer_ = arg;
      d->saveDialog = [this](const QString& caption, const QString& suggested, const QString&) {
        return asked_ << caption + '|' + suggested, saveAnswer_;
      };
    } else if (verb == "unask") asked_.clear();
    else if (verb == "saveprofile") d->SaveRecord(orvane::DebugDriver::Record::kProfile);
    else return false;
    return true;
  }
#endif

 private slots:
  void scenes_data() {
    QTest::addColumn<QStringList>("steps");  // VERB, ARG and EXPECTED, \x1f between them
    QStringList names;
    QHash<QString, QStringList> steps;
    auto add = [&](const QString& name, const QStringList& f) {
      if (!steps.contains(name)) names << name;
      steps[name] << (f + QStringList{"", ""}).mid(0, 3).join(QChar(0x1f));
    };
    Rows("scene", [&](const char* name, const QStringList& f) { add(name, f); });
#if ORVANE_HAVE_RUNNER
    const std::string error = rows::Read(WINDOW_SCENES, [&](const std::string& row) {
      const std::vector<std::string> f = rows::Fields(row);
      rows::Need(f.size() >= 2 && f.size() <= 4, "a row is SCENE | VERB | ARG | EXPECTED");
      QStringList fields;
      for (size_t i = 1; i < f.size(); ++i) fields << QString::fromStdString(f[i]);
      add(QString::fromStdString(f[0]), fields);
    });
    if (!error.empty()) qFatal("%s", error.c_str());
#endif
    for (const QString& name : names) QTest::newRow(qPrintable(name)) << steps[name];
  }
  void scenes() {
    QFETCH(QStringList, steps);
    asked_.clear();
#if ORVANE_HAVE_RUNNER
    markedD_ = nullptr, markedC_ = nullptr;
#endif
    int n = 0;
    for (QString step : steps) {
      const QStringList f = step.replace("DIR", dir_->path()).split(QChar(0x1f));
      Step(f[0], f[1], f[2]);
      if (++n, QTest::currentTestFailed()) return qWarning("step %d: %s", n, qPrintable(f.join(" | ")));
    }
  }

#if ORVANE_HAVE_RUNNER
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

#endif
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
