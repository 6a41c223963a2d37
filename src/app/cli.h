// The command-line program: orvane-asm [options] SOURCE (see its --help).
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

namespace orvane {

// Exit status: 0 no statement reported an error, 1 some did (files written),
// 2 usage error or a file that cannot be read or written (nothing written).
// `errTerminal` tells whether `err` goes to a terminal, where messages are
// coloured unless asked otherwise.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errTerminal);

}  // namespace orvane
