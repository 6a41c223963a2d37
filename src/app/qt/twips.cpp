#include "twips.h"

#include <cmath>

#include <QStringList>

namespace orvane::qt {

int TwipsToPixels(int twips, double dpi) {
  return static_cast<int>(std::ceil(twips * dpi / kTwipsPerInch - 1e-9));
}

int PixelsToTwips(int pixels, double dpi) {
  return static_cast<int>(std::floor(pixels * kTwipsPerInch / dpi + 1e-9));
}

QString QtFilter(std::string_view filter) {
  const QStringList parts = QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split(u'|');
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
    for (QString& p : patterns) {
      if (p == QLatin1String("*.*")) p = QStringLiteral("*");
    }
    entries << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')';
  }
  return entries.join(QStringLiteral(";;"));
}

}  // namespace orvane::qt
