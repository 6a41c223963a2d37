// Twips (1/1440 inch) to pixels and back, and the dialog filter in Qt's form.
#pragma once
#include <string_view>

#include <QString>

namespace orvane::qt {

inline constexpr double kTwipsPerInch = 1440.0;

// Rounds up, so that PixelsToTwips(TwipsToPixels(t)) is never below t.
int TwipsToPixels(int twips, double dpi);
// Rounds down.
int PixelsToTwips(int pixels, double dpi);

// "Desc|pattern|Desc|pattern" -> "Desc (pattern);;Desc (pattern)". "*.*" means
// every file, which Qt writes "*" (its "*.*" would need a dot in the name).
QString QtFilter(std::string_view filter);

}  // namespace orvane::qt
