// The Orvane window program.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

#include "driver/command_line.h"
#include "main_window.h"

namespace {

// --help and --version (before any "--"): they answer without a window, so
// without a display too.
bool AnswersOnly(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--") return false;
    if (a == "-h" || a == "--help" || a == "--help-all" || a == "-v" || a == "--version") return true;
  }
  return false;
}

// The options, for the window and for an answer without one. True when the
// program is to go on to the window.
bool TakeOptions(QCoreApplication& app) {
  QCoreApplication::setApplicationName(QStringLiteral("Orvane"));
  QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Z80 cross-assembler window: select a source file, the object format (Intel HEX or a CP/M .com image)\n"
      "and whether the listing shows in the window, then Assemble."));
  parser.addHelpOption();
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Displays version and licence information."));
  parser.addOption(version);
  parser.addPositionalArgument(QStringLiteral("file"),
                               QStringLiteral("Source file to select at start (put -- before a name starting with -)."),
                               QStringLiteral("[--] [file]"));
  parser.process(app);  // answers --help and rejects an unknown option
  if (parser.isSet(version)) {
    std::fputs(orvane::VersionText("orvane", "The window uses Qt 6, licensed LGPL-3.").c_str(), stdout);
    return false;
  }
  return true;
}

// The file arguments as the bytes the system gave them: what is left in argv
// once Qt has taken its own options, without the program's options; every
// argument after "--" is a file.
std::vector<std::string> FileArguments(int argc, char** argv) {
  std::vector<std::string> files;
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsEnd && arg == "--") {
      optionsEnd = true;
    } else if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      files.push_back(arg);
    }
  }
  return files;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (AnswersOnly(argc, argv)) {
    QCoreApplication answer(argc, argv);
    TakeOptions(answer);
    return 0;
  }
  QApplication app(argc, argv);
  // The desktop entry orvane.desktop: the taskbar finds the icon through it.
  QGuiApplication::setDesktopFileName(QStringLiteral("orvane"));
  if (!TakeOptions(app)) return 0;
  const std::vector<std::string> files = FileArguments(argc, argv);
  if (files.size() > 1) {
    std::fprintf(stderr, "%s: one source file at most\n", qPrintable(QApplication::applicationName().toLower()));
    return 1;
  }

  orvane::qt::MainWindow window;
  // orvane FILE: the file is selected as when it is dropped on the window.
  if (!files.empty()) {
    const std::filesystem::path path = std::filesystem::absolute(files.front()).lexically_normal();
    window.OpenFile(QByteArray::fromStdString(path.native()));
  }
  window.show();
  return QApplication::exec();
}
