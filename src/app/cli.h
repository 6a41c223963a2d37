// The command-line program: orvane-asm [--hex | --cpm] [-l LISTING]
// [-o OBJECT] [--screen] SOURCE.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

namespace orvane {

// Exit status: 0 no statement reported an error, 1 some did (files written),
// 2 usage error or a file that cannot be read or written (nothing written).
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace orvane
