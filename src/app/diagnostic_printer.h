// One message of a run as compilers print it: SOURCE:LINE:COL: error: TEXT
// (or warning: TEXT [-WNAME], or note: TEXT), the source line with a caret
// under the column, and the message's note. The whole message is one text,
// so that it goes out in one write and never mixes with another program's
// messages on a shared pipe.
#pragma once
#include <string>
#include <string_view>

#include "front/diagnostics.h"

namespace orvane {

struct DiagnosticStyle {
  bool color = false;
  bool warningsAreErrors = false;  // a warning is printed as an error, [-Werror=NAME]
};

// `sourceLine` is the line the problem is on, as read.
std::string FormatDiagnostic(std::string_view sourceName, const Problem& problem, std::string_view sourceLine,
                             const DiagnosticStyle& style);

// The column, from 1, that the byte column `byteColumn` (from 1) of `line`
// stands in when the line's UTF-8 characters are counted, one column each (a
// byte-order mark none); a byte that is not part of a well-formed character
// counts as one. 0 stays 0.
int CharacterColumn(std::string_view line, int byteColumn);

}  // namespace orvane
