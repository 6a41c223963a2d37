// Listing and object paths derived from the source path.
#pragma once
#include <string>
#include <string_view>

namespace orvane {

// The window's rule: the source path without its last four characters (the
// dot and a three-letter extension); a shorter path is its own stem. The path
// is UTF-8 text; a byte that is not part of a valid character counts as one.
std::string WindowStem(std::string_view source);

// The command line's rule: the extension of the file name (after its last
// dot) replaced by `ext`, which is appended where the name has no dot.
std::string ReplaceExtension(std::string_view path, std::string_view ext);

// A name as a terminal may show it: control characters (an ESC that would
// start a terminal sequence, a line end that would forge a message) written
// as a backslash and three octal digits, as `ls -b` writes them.
std::string PrintableName(std::string_view name);

}  // namespace orvane
