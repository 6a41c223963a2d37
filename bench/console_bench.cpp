// orvane-bench-console: the window's Run while the program prints a megabyte.
//
//   orvane-bench-console
//
// Writes a CP/M program that prints 16384 lines of 64 bytes (1 MiB) through
// BDOS function 9, selects it in the real window (offscreen) with CPM
// Executable, runs it with RunProgram, and measures the event loop meanwhile
// with a 1 ms timer: the longest stretch between two of its ticks is the
// longest time the window could not answer an event.
//
// Prints one line of key=value pairs: ms (Run to the console's end), max_gap_ms,
// ticks, status (the console's status line) and screen_ok (the last line shown
// is the program's).
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "app/qt/main_window.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("mega.z80"));
  const QByteArray line = "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";  // 62 + CR LF
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return std::perror("mega.z80"), 2;
  f.write("        LD HL,16384\nNEXT:   PUSH HL\n        LD DE,LINE\n        LD C,9\n        CALL 5\n"
          "        POP HL\n        DEC HL\n        LD A,H\n        OR L\n        JR NZ,NEXT\n        RET\n"
          "LINE:   DS '" + line + "'\n        DB 13\n        DB 10\n        DB 36\n");
  f.close();
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath(QStringLiteral("settings")));

  orvane::qt::MainWindow window;
  window.show();
  window.findChild<QAbstractButton*>(QStringLiteral("optCPMcom"))->click();
  window.OpenFile(QFile::encodeName(path));
  QApplication::processEvents();

  QElapsedTimer clock, sinceTick;
  qint64 maxGap = 0, ticks = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    maxGap = std::max(maxGap, sinceTick.restart());
    ++ticks;
  });
  clock.start();
  sinceTick.start();
  tick.start(1);
  window.RunProgram();  // assembles first, on the window's thread, as F9 does
  const qint64 assembled = clock.elapsed();
  maxGap = 0;
  sinceTick.restart();
  auto* console = window.findChild<orvane::qt::ConsoleWindow*>();
  if (!console) return std::fprintf(stderr, "not run\n"), 1;
  while (!console->Finished() && clock.elapsed() < 600000) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const qint64 ms = clock.elapsed() - assembled;
  const QString last = console->ScreenText().section('\n', -1);
  std::printf("ms=%lld assemble_ms=%lld max_gap_ms=%lld ticks=%lld screen_ok=%d status=\"%s\"\n",
              static_cast<long long>(ms), static_cast<long long>(assembled), static_cast<long long>(maxGap),
              static_cast<long long>(ticks), last == QString::fromLatin1(line),
              qPrintable(console->StatusText().replace('\n', ' ')));
  return 0;
}
