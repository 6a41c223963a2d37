// The Orvane window program.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "main_window.h"

namespace {

constexpr const char* kVersionText =
    "Orvane " ORVANE_VERSION "\n"
    "Copyright (C) 2026 the Orvane developers.\n"
    "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n"
    "The window uses Qt 6, licensed LGPL-3.\n";

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
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Orvane"));
  QApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
  // The desktop entry orvane.desktop: the taskbar finds the icon through it.
  QGuiApplication::setDesktopFileName(QStringLiteral("orvane"));

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
    std::fputs(kVersionText, stdout);
    return 0;
  }
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
