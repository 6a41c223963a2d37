// orvane-bench-window: times a run of the real window, offscreen.
//
//   orvane-bench-window SOURCE [--listing on|off] [--cpm|--hex] [--repeat N]
//
// Creates frmOrvane, shows it, picks SOURCE through the open dialog (answered
// here), sets the output format and the listing box with real clicks, then
// clicks Assemble and times the click until it returns. Before each run the
// file is selected again, as a finished run empties the path fields.
//
// Prints one line of key=value pairs:
//   ms            median wall time of the runs, milliseconds
//   runs          number of runs
//   box_lines     lines (blocks) in the listing box after the last run
//   paints        paint events of the listing box during the median run
//   window_paints paint events of the whole window (all widgets) in that run
//   passes        event-processing passes during that run
//   max_gap_ms    longest stretch of that run without an event-processing
//                 pass (click to first pass and last pass to return included)
//   settle_ms     time to process what was left queued after that run
//   object_bytes, lines, errors   from the run's result
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/qt/main_window.h"

namespace {

// Counts paint events of the listing box's viewport and of every widget.
class PaintCounter : public QObject {
 public:
  QObject* box = nullptr;
  int boxPaints = 0;
  int allPaints = 0;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++allPaints;
      if (watched == box) ++boxPaints;
    }
    return false;
  }
};

struct RunFigures {
  double ms = 0;
  int paints = 0;
  int windowPaints = 0;
  int passes = 0;
  double maxGapMs = 0;
  double settleMs = 0;
};

int Usage() {
  std::fprintf(stderr, "usage: orvane-bench-window SOURCE [--listing on|off] [--cpm|--hex] [--repeat N]\n");
  return 2;
}

template <typename T>
T* Control(QWidget& window, const char* name) {
  T* w = window.findChild<T*>(QLatin1String(name));
  if (!w) {
    std::fprintf(stderr, "orvane-bench-window: no control %s\n", name);
    std::exit(1);
  }
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  std::string source;
  bool listing = false;
  bool cpm = true;
  int repeat = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--listing" && i + 1 < argc) {
      const std::string v = argv[++i];
      if (v == "on") {
        listing = true;
      } else if (v == "off") {
        listing = false;
      } else {
        return Usage();
      }
    } else if (arg == "--cpm") {
      cpm = true;
    } else if (arg == "--hex") {
      cpm = false;
    } else if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
      if (repeat < 1) return Usage();
    } else if (!arg.empty() && arg[0] != '-' && source.empty()) {
      source = arg;
    } else {
      return Usage();
    }
  }
  if (source.empty()) return Usage();

  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // The window keeps its settings; a benchmark leaves the user's alone and
  // starts from the window's first state.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());

  orvane::qt::MainWindow window;
  const QString path = QString::fromStdString(source);
  window.SetOpenDialog([&path](const QString&) { return path; });
  bool failed = false;
  window.SetErrorReport([&failed](const QString& p, const QString& reason) {
    std::fprintf(stderr, "orvane-bench-window: %s: %s\n", qPrintable(p), qPrintable(reason));
    failed = true;
  });
  window.show();
  QApplication::processEvents();

  auto* selectFile = Control<QPushButton>(window, "cmdSelectFile");
  auto* assemble = Control<QPushButton>(window, "cmdAssemble");
  auto* chkListing = Control<QCheckBox>(window, "chkListing");
  auto* box = Control<QPlainTextEdit>(window, "txtAsmListing");
  auto* format = cpm ? Control<QRadioButton>(window, "optCPMcom") : Control<QRadioButton>(window, "optIntelHex");

  // click() runs the same handlers a mouse click does.
  if (!format->isChecked()) format->click();
  if (chkListing->isChecked() != listing) chkListing->click();
  QApplication::processEvents();

  PaintCounter counter;
  counter.box = box->viewport();
  app.installEventFilter(&counter);

  // A zero timer fires on every event-processing pass.
  QElapsedTimer clock;
  std::vector<qint64> passTimes;
  QTimer passProbe;
  passProbe.setInterval(0);
  QObject::connect(&passProbe, &QTimer::timeout, [&] { passTimes.push_back(clock.nsecsElapsed()); });

  std::vector<RunFigures> runs;
  for (int r = 0; r < repeat; ++r) {
    selectFile->click();
    if (!assemble->isVisible()) {
      std::fprintf(stderr, "orvane-bench-window: selecting %s did not offer Assemble\n", source.c_str());
      return 1;
    }
    QApplication::processEvents();

    RunFigures f;
    counter.boxPaints = 0;
    counter.allPaints = 0;
    passTimes.clear();
    passProbe.start();
    clock.start();
    assemble->click();
    const qint64 end = clock.nsecsElapsed();
    passProbe.stop();
    f.ms = static_cast<double>(end) / 1e6;
    f.paints = counter.boxPaints;
    f.windowPaints = counter.allPaints;
    f.passes = static_cast<int>(passTimes.size());
    qint64 last = 0;
    qint64 maxGap = 0;
    for (qint64 t : passTimes) {
      maxGap = std::max(maxGap, t - last);
      last = t;
    }
    maxGap = std::max(maxGap, end - last);
    f.maxGapMs = static_cast<double>(maxGap) / 1e6;

    QElapsedTimer settle;
    settle.start();
    QApplication::processEvents();
    f.settleMs = static_cast<double>(settle.nsecsElapsed()) / 1e6;
    runs.push_back(f);

    if (failed || !window.LastRun().completed) {
      std::fprintf(stderr, "orvane-bench-window: the run did not complete\n");
      return 1;
    }
  }
  app.removeEventFilter(&counter);

  std::vector<RunFigures> sorted = runs;
  std::sort(sorted.begin(), sorted.end(), [](const RunFigures& a, const RunFigures& b) { return a.ms < b.ms; });
  const RunFigures& median = sorted[(sorted.size() - 1) / 2];
  const orvane::RunResult& result = window.LastRun();
  std::printf(
      "ms=%.1f runs=%d box_lines=%d paints=%d window_paints=%d passes=%d max_gap_ms=%.1f settle_ms=%.1f "
      "object_bytes=%lld lines=%lld errors=%lld\n",
      median.ms, repeat, static_cast<int>(box->toPlainText().count(u'\n') + 1), median.paints, median.windowPaints, median.passes, median.maxGapMs,
      median.settleMs, static_cast<long long>(result.objectBytes), static_cast<long long>(result.lines),
      static_cast<long long>(result.messages));
  return 0;
}
