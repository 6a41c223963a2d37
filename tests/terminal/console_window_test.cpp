// The console window's terminals: the Terminal box chooses how the screen
// reads the program's output and what the arrow keys send, and the choice
// is kept for the next run. The programs are this folder's keys.z80 and
// screen.z80, assembled by orvane-asm when the test is built.
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "app/qt/console_window.h"

using orvane::qt::ConsoleWindow;

namespace {

std::vector<uint8_t> Image(const char* path) {
  QFile f(QString::fromLatin1(path));
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = f.readAll();
  return {bytes.begin(), bytes.end()};
}

}  // namespace

class ConsoleWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

  std::unique_ptr<ConsoleWindow> Open(const char* program) {
    auto w = std::make_unique<ConsoleWindow>(Image(program), orvane::runner::SourceLookup(), dir_.path().toStdString(),
                                             QStringLiteral("Run"), nullptr);
    w->show();
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w.get(), 60000)) return nullptr;
    return w;
  }
  static QComboBox* Box(ConsoleWindow& w) { return w.findChild<QComboBox*>(QStringLiteral("cboTerminal")); }
  static QWidget* View(ConsoleWindow& w) { return w.findChild<QWidget*>(QStringLiteral("console")); }
  // The Terminal box set as a user does: a click on it, then arrow keys.
  static void Choose(ConsoleWindow& w, int index) {
    QComboBox* box = Box(w);
    box->setFocus();
    while (box->currentIndex() < index) QTest::keyClick(box, Qt::Key_Down);
    while (box->currentIndex() > index) QTest::keyClick(box, Qt::Key_Up);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("config"))));
    QVERIFY(!Image(KEYS_COM).empty() && !Image(SCREEN_COM).empty());
  }

  void theBoxNamesTheThreeTerminals() {
    auto w = Open(KEYS_COM);
    QVERIFY(w);
    QComboBox* box = Box(*w);
    QVERIFY(box);
    QCOMPARE(box->accessibleName(), QStringLiteral("Terminal"));
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    QCOMPARE(items.join('|'), QStringLiteral("ANSI|VT52|ADM-3A"));
    QCOMPARE(box->currentIndex(), 0);  // nothing chosen yet
    QTest::keyClick(w.get(), Qt::Key_T, Qt::AltModifier);  // its label's key
    QTRY_VERIFY_WITH_TIMEOUT(box->hasFocus(), 60000);
  }

  // The screen a VT52 program draws: AB left of a cleared line, INV in
  // reverse video at row 5, column 10, U and the cursor a row above it.
  void aVt52ScreenDrawnWithItsCursor() {
    auto w = Open(SCREEN_COM);
    QVERIFY(w);
    Choose(*w, 1);
    w->Start();
    QTRY_VERIFY_WITH_TIMEOUT(w->Finished(), 120000);
    QCOMPARE(w->ScreenText(), QStringLiteral("AB\n\n\n\n             U\n          INV"));
    const orvane::runner::Screen& s = w->Screen();
    QCOMPARE(s.Row() * 1000 + s.Column(), 4014);
    QVERIFY(s.Reverse(5, 10) && s.Reverse(5, 12) && !s.Reverse(5, 13) && !s.Reverse(4, 13));
    // Drawn: the cursor's cell is not the background, nor is a reverse
    // cell; an empty cell is.
    QWidget* view = View(*w);
    const QImage image = view->grab().toImage();
    const QFontMetrics m(view->font());
    const int cw = m.horizontalAdvance(QLatin1Char('M')), ch = m.height();
    auto marked = [&](int row, int column) {
      const QRgb background = image.pixel(1, 1);
      int differing = 0;
      for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x)
          differing += image.pixel(6 + column * cw + x, 6 + row * ch + y) != background;
      return differing;
    };
    QVERIFY2(marked(4, 14) > 0, "the cursor is not drawn where it is");
    QVERIFY2(marked(5, 11) > cw * ch / 2, "a reverse cell is not light");
    QCOMPARE(marked(10, 40), 0);
  }

  void arrowKeysAsTheTerminalSendsThem_data() {
    QTest::addColumn<int>("terminal");
    QTest::addColumn<QString>("read");
    QTest::newRow("ANSI") << 0 << "1B 5B 41 1B 5B 44";  // the screen's text ends at its last character
    QTest::newRow("VT52") << 1 << "1B 41 1B 44";
    QTest::newRow("ADM-3A") << 2 << "0B 08";
  }
  void arrowKeysAsTheTerminalSendsThem() {
    QFETCH(int, terminal);
    QFETCH(QString, read);
    auto w = Open(KEYS_COM);
    QVERIFY(w);
    Choose(*w, terminal);
    w->Start();
    QWidget* view = View(*w);
    QTRY_VERIFY_WITH_TIMEOUT(view->hasFocus(), 60000);  // the choice gave the keys back to the program
    QTest::keyClick(view, Qt::Key_Up);
    QTest::keyClick(view, Qt::Key_Left);
    QTest::keyClick(view, Qt::Key_Period);
    QTRY_VERIFY_WITH_TIMEOUT(w->Finished(), 120000);
    QCOMPARE(w->ScreenText(), read);
  }

  // The last choice (ADM-3A, above) is where the next console starts.
  void theChoiceIsKeptForTheNextRun() {
    auto w = Open(KEYS_COM);
    QVERIFY(w);
    QCOMPARE(Box(*w)->currentText(), QStringLiteral("ADM-3A"));
    QCOMPARE(w->Screen().Type(), orvane::runner::TerminalType::kAdm3a);
    QVERIFY(QFile::exists(dir_.filePath(QStringLiteral("config/Orvane/orvane.conf"))));
  }
};

QTEST_MAIN(ConsoleWindowTest)
#include "console_window_test.moc"
