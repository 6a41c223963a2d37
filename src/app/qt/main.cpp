// The Orvane window program.
#include <QApplication>
#include <QFileInfo>

#include "main_window.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Orvane"));
  QApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
  orvane::qt::MainWindow window;
  // orvane FILE: the file is selected as when it is dropped on the window.
  if (const QStringList args = QApplication::arguments(); args.size() > 1)
    window.OpenFile(QFileInfo(args.at(1)).absoluteFilePath());
  window.show();
  return QApplication::exec();
}
