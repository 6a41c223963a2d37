// Drives the real frmOrvane window offscreen: the file dialog and the error
// report are answered by the test, and a watchdog fails any test during which
// some other modal dialog shows up.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "app/qt/main_window.h"

using orvane::qt::MainWindow;

namespace {

// Window heights in twips.
constexpr int kShort = 3000;
constexpr int kTall = 6780;
constexpr int kBoxMargin = 3090;

// A small program of directives only. Its listing, hand-laid in the box's
// columns: address(4) ' ' object(8) ' ' label(10) ' ' mnemonic(6) operand(16)
// comment, every line ended by CR LF.
const char kSmallSource[] =
    "  ; demo\r\n"
    "        org 16\r\n"
    "start:  db 65 ; a\r\n"
    "\tdw 4660\r\n"
    "msg     ds 'hi'\r\n"
    "count   equ 10\r\n"
    "        ds 'abcde'\r\n"
    "        db undef\r\n"
    "        end start\r\n";

const char kSmallBoxBody[] =
    "0000                                           ; DEMO \r\n"
    "0010                     ORG   16              \r\n"
    "0010 41       START:     DB    65              ; A \r\n"
    "0011 3412                DW    4660            \r\n"
    "0013 4849     MSG        DS    'HI'            \r\n"
    "0015 = 000A   COUNT      EQU   10              \r\n"
    "0015 41424344            DS    'ABCDE'         \r\n"
    "     45      \r\n"
    "001A 00                  DB    UNDEF           \r\n"
    "Undefined Symbol Referenced\r\n";

// The same program in the listing file's wider columns (after its header).
const char kSmallFileBody[] =
    "0000                                                ; DEMO \r\n"
    "0010                        ORG     16              \r\n"
    "0010  41        START:      DB      65              ; A \r\n"
    "0011  3412                  DW      4660            \r\n"
    "0013  4849      MSG         DS      'HI'            \r\n"
    "0015  = 000A    COUNT       EQU     10              \r\n"
    "0015  41424344              DS      'ABCDE'         \r\n"
    "      45\r\n"
    "001A  00                    DB      UNDEF           \r\n"
    "Undefined Symbol Referenced\r\n";

// 11 bytes from 0010: 41 3412 4849 4142434445 00, then the end record with
// START (0010) as its address.
const char kSmallHex[] =
    ":100010004134124849414243444500000000000079\r\n"
    ":00001001EF\r\n";

QString BoxText(QPlainTextEdit* box) {
  // The box shows the listing's CR LF as line breaks.
  return box->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<QTemporaryDir> dir_;
  QTimer watchdog_;
  QStringList unexpectedDialogs_;
  QString dialogAnswer_;
  QStringList dialogFilters_;
  QStringList errorPaths_;
  QStringList errorReasons_;

  template <typename T>
  T* Control(const char* name) {
    T* w = window_->findChild<T*>(QLatin1String(name));
    if (!w) qFatal("no control %s", name);
    return w;
  }
  QPushButton* SelectFile() { return Control<QPushButton>("cmdSelectFile"); }
  QPushButton* Assemble() { return Control<QPushButton>("cmdAssemble"); }
  QLineEdit* Source() { return Control<QLineEdit>("txtSource"); }
  QLineEdit* List() { return Control<QLineEdit>("txtList"); }
  QLineEdit* Object() { return Control<QLineEdit>("txtObject"); }
  QCheckBox* Listing() { return Control<QCheckBox>("chkListing"); }
  QPlainTextEdit* Box() { return Control<QPlainTextEdit>("txtAsmListing"); }
  QRadioButton* Hex() { return Control<QRadioButton>("optIntelHex"); }
  QRadioButton* Cpm() { return Control<QRadioButton>("optCPMcom"); }

  int HeightTwips() { return window_->Ops().WindowHeight(); }
  int BoxHeightTwips() {
    return static_cast<int>(Box()->height() * 1440.0 / window_->logicalDpiY() + 0.5);
  }
  // What a user's drag to an outer height of `twips` does.
  void DragToHeight(int twips) {
    const int frame = window_->frameGeometry().height() - window_->height();
    const int outer = static_cast<int>(twips * window_->logicalDpiY() / 1440.0 + 0.5);
    window_->resize(window_->width(), outer - frame);
  }

  QString Path(const QString& name) const { return dir_->filePath(name); }
  void Write(const QString& name, const QByteArray& bytes) {
    QFile f(Path(name));
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
  }
  QByteArray Read(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return f.readAll();
  }
  void Click(QAbstractButton* button) {
    QVERIFY(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void Choose(const QString& answer) {
    dialogAnswer_ = answer;
    Click(SelectFile());
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    unexpectedDialogs_.clear();
    dialogFilters_.clear();
    errorPaths_.clear();
    errorReasons_.clear();
    dialogAnswer_.clear();

    window_ = std::make_unique<MainWindow>();
    window_->SetOpenDialog([this](const QString& filter) {
      dialogFilters_ << filter;
      return dialogAnswer_;
    });
    window_->SetErrorReport([this](const QString& path, const QString& reason) {
      errorPaths_ << path;
      errorReasons_ << reason;
    });
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));

    connect(&watchdog_, &QTimer::timeout, this, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      unexpectedDialogs_ << modal->windowTitle();
      if (auto* d = qobject_cast<QDialog*>(modal)) d->reject(); else modal->close();
    });
    watchdog_.start(20);
  }

  void cleanup() {
    watchdog_.stop();
    watchdog_.disconnect();
    window_.reset();
    dir_.reset();
    QVERIFY2(unexpectedDialogs_.isEmpty(), qPrintable(unexpectedDialogs_.join(", ")));
  }

  void loadState() {
    QCOMPARE(window_->objectName(), QStringLiteral("frmOrvane"));
    QCOMPARE(window_->windowTitle(), QStringLiteral("Orvane"));
    QVERIFY(!Assemble()->isVisible());
    QVERIFY(Hex()->isChecked());
    QVERIFY(!Cpm()->isChecked());
    QVERIFY(!Listing()->isChecked());
    QVERIFY(Source()->text().isEmpty());
    QVERIFY(List()->text().isEmpty());
    QVERIFY(Object()->text().isEmpty());
    QVERIFY(Box()->toPlainText().isEmpty());
    QVERIFY(!Box()->isVisible());
    QCOMPARE(HeightTwips(), kShort);
  }

  void captions_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("cmdSelectFile") << "cmdSelectFile" << "Select File";
    QTest::newRow("cmdAssemble") << "cmdAssemble" << "Assemble";
    QTest::newRow("chkListing") << "chkListing" << "Enable Asembly Listing";
    QTest::newRow("optIntelHex") << "optIntelHex" << "Intel Hex Output";
    QTest::newRow("optCPMcom") << "optCPMcom" << "CPM Executable";
  }
  void captions() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    auto* button = window_->findChild<QAbstractButton*>(name);
    QVERIFY(button);
    QCOMPARE(button->text(), caption);
  }

  // Place in the client area, twips at the screen's resolution. Widths are
  // checked apart, as the check box may grow to fit its caption.
  void placement_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("cmdSelectFile") << "cmdSelectFile" << 240 << 120 << 1695 << 495;
    QTest::newRow("txtSource") << "txtSource" << 2160 << 120 << 4695 << 495;
    QTest::newRow("txtList") << "txtList" << 2160 << 720 << 4695 << 495;
    QTest::newRow("txtObject") << "txtObject" << 2160 << 1320 << 4695 << 495;
    QTest::newRow("cmdAssemble") << "cmdAssemble" << 240 << 720 << 1695 << 495;
    QTest::newRow("chkListing") << "chkListing" << 180 << 2085 << 2190 << 495;
    QTest::newRow("txtAsmListing") << "txtAsmListing" << 60 << 2520 << 6780 << 3690;
    QTest::newRow("optIntelHex") << "optIntelHex" << 120 << 1305 << 1905 << 510;
    QTest::newRow("optCPMcom") << "optCPMcom" << 120 << 1635 << 1905 << 510;
  }
  void placement() {
    QFETCH(QString, name);
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, width);
    QFETCH(int, height);
    auto* w = window_->findChild<QWidget*>(name);
    QVERIFY(w);
    const double dx = window_->logicalDpiX() / 1440.0;
    const double dy = window_->logicalDpiY() / 1440.0;
    const QRect g = w->geometry();
    QVERIFY2(qAbs(g.x() - left * dx) <= 1, qPrintable(QString::number(g.x())));
    QVERIFY2(qAbs(g.y() - top * dy) <= 1, qPrintable(QString::number(g.y())));
    QVERIFY2(qAbs(g.height() - height * dy) <= 1, qPrintable(QString::number(g.height())));
    if (name == QLatin1String("chkListing")) {
      QVERIFY(g.width() >= width * dx - 1);
    } else {
      QVERIFY2(qAbs(g.width() - width * dx) <= 1, qPrintable(QString::number(g.width())));
    }
  }

  void tabOrder() {
    const QStringList expected{"cmdSelectFile", "txtSource",     "txtList",     "txtObject", "cmdAssemble",
                               "chkListing",    "txtAsmListing", "optIntelHex", "optCPMcom"};
    QStringList seen;
    QWidget* w = SelectFile();
    do {
      if (expected.contains(w->objectName())) seen << w->objectName();
      w = w->nextInFocusChain();
    } while (w != SelectFile() && seen.size() < 20);
    QCOMPARE(seen, expected);
  }

  void fonts() {
    for (const char* name : {"cmdSelectFile", "cmdAssemble"}) {
      const QFont f = Control<QWidget>(name)->font();
      QVERIFY(f.bold());
      QCOMPARE(f.pointSizeF(), 9.75);
    }
    for (const char* name : {"txtSource", "txtList", "txtObject"}) {
      const QFont f = Control<QWidget>(name)->font();
      QVERIFY(f.bold());
      QCOMPARE(f.pointSizeF(), 12.0);
    }
    const QFont fixed = Box()->font();
    QVERIFY(!fixed.bold());
    QCOMPARE(fixed.pointSizeF(), 8.25);
    const QFontMetrics metrics(fixed);
    QCOMPARE(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('W')));
    QCOMPARE(metrics.horizontalAdvance(QLatin1Char(' ')), metrics.horizontalAdvance(QLatin1Char('0')));
    QVERIFY(Box()->isReadOnly());
    QCOMPARE(Box()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(Box()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  }

  void optionsFormOneGroup() {
    Click(Cpm());
    QVERIFY(Cpm()->isChecked());
    QVERIFY(!Hex()->isChecked());
    Click(Hex());
    QVERIFY(Hex()->isChecked());
    QVERIFY(!Cpm()->isChecked());
  }

  void dialogFilter() {
    Choose(QString());
    QCOMPARE(dialogFilters_,
             QStringList{"z80 Assembly File (*.z80);;Assembly File (*.asm);;All FIles (*)"});
  }

  void pathDerivation_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<bool>("cpm");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("object");
    QTest::newRow("z80 with Intel HEX") << "/data/demo.z80" << false << "/data/demo.LST" << "/data/demo.HEX";
    QTest::newRow("z80 with CP/M") << "/data/demo.z80" << true << "/data/demo.LST" << "/data/demo.com";
    QTest::newRow("asm") << "/data/prog.asm" << false << "/data/prog.LST" << "/data/prog.HEX";
    QTest::newRow("two-letter extension") << "/data/demo.as" << false << "/data/dem.LST" << "/data/dem.HEX";
    QTest::newRow("no extension") << "/data/program" << true << "/data/pro.LST" << "/data/pro.com";
    QTest::newRow("exactly four characters") << "a.z8" << false << ".LST" << ".HEX";
    QTest::newRow("shorter than four") << "ab" << false << "ab.LST" << "ab.HEX";
    QTest::newRow("one character, CP/M") << "x" << true << "x.LST" << "x.com";
  }
  void pathDerivation() {
    QFETCH(QString, chosen);
    QFETCH(bool, cpm);
    QFETCH(QString, list);
    QFETCH(QString, object);
    if (cpm) Click(Cpm());
    QVERIFY(Source()->text().isEmpty());
    Choose(chosen);
    QCOMPARE(Source()->text(), chosen);
    QCOMPARE(List()->text(), list);
    QCOMPARE(Object()->text(), object);
    QVERIFY(Assemble()->isVisible());
  }

  void switchingFormatChangesOnlyObject() {
    Choose(QStringLiteral("/data/demo.z80"));
    QCOMPARE(Object()->text(), QStringLiteral("/data/demo.HEX"));
    Click(Cpm());
    QCOMPARE(Source()->text(), QStringLiteral("/data/demo.z80"));
    QCOMPARE(List()->text(), QStringLiteral("/data/demo.LST"));
    QCOMPARE(Object()->text(), QStringLiteral("/data/demo.com"));
    Click(Hex());
    QCOMPARE(List()->text(), QStringLiteral("/data/demo.LST"));
    QCOMPARE(Object()->text(), QStringLiteral("/data/demo.HEX"));
  }

  void formatFollowsEditedSource() {
    Choose(QStringLiteral("/data/demo.z80"));
    Source()->setText(QStringLiteral("/other/x.asm"));
    Click(Cpm());
    QCOMPARE(Object()->text(), QStringLiteral("/other/x.com"));
    QCOMPARE(List()->text(), QStringLiteral("/data/demo.LST"));  // untouched
  }

  void optionsBeforeSelection_data() {
    QTest::addColumn<bool>("cpm");
    QTest::newRow("CP/M") << true;
    QTest::newRow("Intel HEX") << false;
  }
  void optionsBeforeSelection() {
    QFETCH(bool, cpm);
    Click(Cpm());
    if (!cpm) Click(Hex());
    QVERIFY(Source()->text().isEmpty());
    QVERIFY(List()->text().isEmpty());
    QVERIFY(Object()->text().isEmpty());
    QVERIFY(!Assemble()->isVisible());
  }

  void emptyDialogAnswer_data() {
    QTest::addColumn<bool>("selectedBefore");
    QTest::newRow("after a selection") << true;
    QTest::newRow("before any selection") << false;
  }
  void emptyDialogAnswer() {
    QFETCH(bool, selectedBefore);
    if (selectedBefore) Choose(QStringLiteral("/data/demo.z80"));
    Box()->setPlainText(QStringLiteral("earlier listing"));
    const QString source = Source()->text(), list = List()->text(), object = Object()->text();
    Choose(QString());
    QCOMPARE(Source()->text(), source);
    QCOMPARE(List()->text(), list);
    QCOMPARE(Object()->text(), object);
    QCOMPARE(Assemble()->isVisible(), selectedBefore);
    QVERIFY(Box()->toPlainText().isEmpty());
  }

  void listingCheckBox() {
    Click(Listing());
    QCOMPARE(HeightTwips(), kTall);
    QVERIFY(Box()->isVisible());
    QCOMPARE(BoxHeightTwips(), kTall - kBoxMargin);
    Click(Listing());
    QCOMPARE(HeightTwips(), kShort);
    QVERIFY(!Box()->isVisible());
    Click(Listing());
    QCOMPARE(HeightTwips(), kTall);
    QVERIFY(Box()->isVisible());
  }

  void resizeRules_data() {
    QTest::addColumn<bool>("listing");
    QTest::addColumn<int>("dragTo");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("boxHeight");  // -1: not checked
    QTest::newRow("off, far too low") << false << 900 << kShort << -1;
    QTest::newRow("off, just too low") << false << 2985 << kShort << -1;
    QTest::newRow("off, taller") << false << 4500 << 4500 << -1;
    QTest::newRow("on, far too low") << true << 3000 << kTall << kTall - kBoxMargin;
    QTest::newRow("on, just too low") << true << 6765 << kTall << kTall - kBoxMargin;
    QTest::newRow("on, taller") << true << 8280 << 8280 << 8280 - kBoxMargin;
    QTest::newRow("on, much taller") << true << 10500 << 10500 << 10500 - kBoxMargin;
  }
  void resizeRules() {
    QFETCH(bool, listing);
    QFETCH(int, dragTo);
    QFETCH(int, height);
    QFETCH(int, boxHeight);
    if (listing) Click(Listing());
    const int width = window_->width();
    const int boxWidth = Box()->width();
    DragToHeight(dragTo);
    QCOMPARE(HeightTwips(), height);
    if (boxHeight >= 0) QCOMPARE(BoxHeightTwips(), boxHeight);
    QCOMPARE(window_->width(), width);
    QCOMPARE(Box()->width(), boxWidth);
  }

  void minimizedWindowIsLeftAlone() {
    Click(Listing());
    window_->setWindowState(Qt::WindowMinimized);
    window_->resize(window_->width(), 50);
    QCOMPARE(window_->height(), 50);
    window_->setWindowState(Qt::WindowNoState);
  }

  void run_data() {
    QTest::addColumn<bool>("cpm");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<QByteArray>("endBox");
    QTest::addColumn<QByteArray>("endFile");
    QTest::addColumn<QByteArray>("object");
    QTest::newRow("Intel HEX") << false << "small.HEX" << QByteArray("0000")
                               << QByteArray("001B @ 0010              END   START           \r\n")
                               << QByteArray("001B  @ 0010                END     START           \r\n")
                               << QByteArray(kSmallHex);
    QTest::newRow("CP/M") << true << "small.com" << QByteArray("0100")
                          << QByteArray("001B * 0010              END   START           \r\n")
                          << QByteArray("001B  * 0010                END     START           \r\n")
                          << QByteArray::fromHex("4134124849414243444500");
  }
  void run() {
    QFETCH(bool, cpm);
    QFETCH(QString, objectName);
    QFETCH(QByteArray, origin);
    QFETCH(QByteArray, endBox);
    QFETCH(QByteArray, endFile);
    QFETCH(QByteArray, object);
    Write(QStringLiteral("small.z80"), kSmallSource);
    if (cpm) Click(Cpm());
    Click(Listing());
    const QString source = Path(QStringLiteral("small.z80"));
    Choose(source);
    QCOMPARE(Object()->text(), Path(objectName));
    Click(Assemble());
    QVERIFY(errorPaths_.isEmpty());
    QVERIFY(window_->LastRun().completed);

    // The comment line before the ORG lists at the format's origin.
    const QByteArray fileBody = QByteArray(kSmallFileBody).replace(0, 4, origin);
    const QByteArray boxBody = QByteArray(kSmallBoxBody).replace(0, 4, origin);
    QCOMPARE(Read(Path(QStringLiteral("small.LST"))), source.toUtf8() + "\r\n" + fileBody + endFile);
    QCOMPARE(Read(Path(objectName)), object);
    QCOMPARE(BoxText(Box()), QString::fromLatin1(boxBody + endBox));

    // After the run: Assemble hidden, paths empty, the box keeps the listing,
    // every input usable again.
    QVERIFY(!Assemble()->isVisible());
    QVERIFY(Source()->text().isEmpty());
    QVERIFY(List()->text().isEmpty());
    QVERIFY(Object()->text().isEmpty());
    QVERIFY(Box()->isVisible());
    for (const char* name : {"cmdSelectFile", "txtSource", "txtList", "txtObject", "chkListing", "optIntelHex",
                             "optCPMcom"}) {
      QVERIFY2(Control<QWidget>(name)->isEnabled(), name);
    }
  }

  void runWithoutListingBox() {
    Write(QStringLiteral("small.z80"), kSmallSource);
    Choose(Path(QStringLiteral("small.z80")));
    Click(Assemble());
    QVERIFY(Box()->toPlainText().isEmpty());
    QVERIFY(Read(Path(QStringLiteral("small.LST"))).endsWith(kSmallFileBody +
        QByteArray("001B  @ 0010                END     START           \r\n")));
    QCOMPARE(Read(Path(QStringLiteral("small.HEX"))), QByteArray(kSmallHex));
  }

  void secondRunIsIdentical() {
    Write(QStringLiteral("small.z80"), kSmallSource);
    Click(Listing());
    const QString source = Path(QStringLiteral("small.z80"));
    Choose(source);
    Click(Assemble());
    const QByteArray list1 = Read(Path(QStringLiteral("small.LST")));
    const QByteArray hex1 = Read(Path(QStringLiteral("small.HEX")));
    const QString box1 = BoxText(Box());
    QVERIFY(!Assemble()->isVisible());

    Choose(source);
    QVERIFY(Box()->toPlainText().isEmpty());  // a new selection empties the box
    Click(Assemble());
    QCOMPARE(Read(Path(QStringLiteral("small.LST"))), list1);
    QCOMPARE(Read(Path(QStringLiteral("small.HEX"))), hex1);
    QCOMPARE(BoxText(Box()), box1);
    QCOMPARE(hex1, QByteArray(kSmallHex));
  }

  void emptySource() {
    Write(QStringLiteral("empty.z80"), QByteArray());
    Click(Listing());
    Click(Cpm());
    const QString source = Path(QStringLiteral("empty.z80"));
    Choose(source);
    Click(Assemble());
    QCOMPARE(Read(Path(QStringLiteral("empty.LST"))), source.toUtf8() + "\r\n");
    QCOMPARE(Read(Path(QStringLiteral("empty.com"))), QByteArray());
    QVERIFY(Box()->toPlainText().isEmpty());
  }

  void fileErrorIsReported() {
    Write(QStringLiteral("missing.LST"), "earlier listing\r\n");
    Write(QStringLiteral("missing.HEX"), ":00000001FF\r\n");
    const QString source = Path(QStringLiteral("missing.z80"));
    Choose(source);
    Click(Assemble());
    QCOMPARE(errorPaths_, QStringList{source});
    QCOMPARE(errorReasons_.size(), 1);
    QVERIFY2(errorReasons_[0].contains(QStringLiteral("cannot open")), qPrintable(errorReasons_[0]));
    QVERIFY(!window_->LastRun().completed);
    QCOMPARE(Read(Path(QStringLiteral("missing.LST"))), QByteArray("earlier listing\r\n"));
    QCOMPARE(Read(Path(QStringLiteral("missing.HEX"))), QByteArray(":00000001FF\r\n"));
    // Nothing was run, so the selection stands and can be tried again.
    QCOMPARE(Source()->text(), source);
    QVERIFY(Assemble()->isVisible());
    QVERIFY(SelectFile()->isEnabled());
    QVERIFY(Assemble()->isEnabled());
  }

  void unwritableOutputIsReported() {
    Write(QStringLiteral("small.z80"), kSmallSource);
    Choose(Path(QStringLiteral("small.z80")));
    const QString list = Path(QStringLiteral("no/such/dir/small.LST"));
    List()->setText(list);
    Click(Assemble());
    QCOMPARE(errorPaths_, QStringList{list});
    QVERIFY(!QFile::exists(Path(QStringLiteral("small.HEX"))));
  }

  void inputsDisabledDuringRun() {
    QByteArray big;
    for (int i = 0; i < 60000; ++i) big += "        db 1 ; filler\r\n";
    Write(QStringLiteral("big.z80"), big);
    Click(Listing());
    Choose(Path(QStringLiteral("big.z80")));
    QStringList enabledDuringRun;
    int checks = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
      ++checks;
      for (const char* name : {"cmdSelectFile", "cmdAssemble", "txtSource", "txtList", "txtObject", "chkListing",
                               "optIntelHex", "optCPMcom"}) {
        if (Control<QWidget>(name)->isEnabled()) enabledDuringRun << name;
      }
    });
    probe.start(0);
    Click(Assemble());
    probe.stop();
    QVERIFY(window_->LastRun().completed);
    QVERIFY2(checks > 0, "the window processed no events during the run");
    QVERIFY2(enabledDuringRun.isEmpty(), qPrintable(enabledDuringRun.join(", ")));
    // One line per statement, then the empty last line.
    QCOMPARE(Box()->toPlainText().count(u'\n') + 1, 60000 + 1);
    QVERIFY(SelectFile()->isEnabled());
  }

  void closingDuringRunStopsIt() {
    QByteArray big;
    for (int i = 0; i < 200000; ++i) big += "        dw 4660\r\n";
    Write(QStringLiteral("big.z80"), big);
    Write(QStringLiteral("big.LST"), "earlier\r\n");
    Click(Listing());
    Choose(Path(QStringLiteral("big.z80")));
    QPointer<MainWindow> w(window_.get());
    QTimer::singleShot(0, window_.get(), [w] {
      if (w) w->close();
    });
    Click(Assemble());
    QVERIFY(!window_->LastRun().completed);
    QVERIFY(!window_->isVisible());
    QCOMPARE(Read(Path(QStringLiteral("big.LST"))), QByteArray("earlier\r\n"));
    QVERIFY(!QFile::exists(Path(QStringLiteral("big.HEX"))));
    // Nothing but the two files written before the run is left behind.
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files).size(), 2);
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
