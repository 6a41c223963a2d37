// CP/M file names: the 11 bytes of an FCB (8 of name, 3 of type, blank
// padded, upper case), how the CCP makes them from command-line arguments,
// and how they meet the names of host files.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::runner {

using CpmName = std::string;  // always 11 bytes

// The CCP's parse of one argument into a drive byte (0 for none, 1 for A:, ...)
// and a name: an optional letter and colon, the name up to the first '.', the
// type after it up to the next; each cut to its field, upper-cased, '*'
// filling the rest of its field with '?'.
struct ParsedName {
  uint8_t drive = 0;
  CpmName name = CpmName(11, ' ');
};
ParsedName ParseArgument(std::string_view arg);

// The command tail the CCP leaves at 0080H: a blank, then the arguments
// upper-cased and separated by one blank ("" without arguments). Longer than
// 127 characters gives false.
bool CommandTail(const std::vector<std::string>& args, std::string& tail);

// Checks the 11 name bytes of an FCB (attribute bits 7 ignored). Returns ""
// when they name a file (upper-cased into name), else why not. A '?' is
// allowed only when wildcards is set.
std::string CheckFcbName(const uint8_t bytes[11], bool wildcards, CpmName& name);

// The CP/M name of a host file name of the form NAME[.TYP] (1-8 and 0-3
// characters a CP/M name may hold, any case); false for every other name.
bool HostToCpm(std::string_view host, CpmName& name);

// "NAME.TYP" ("NAME" with a blank type), upper case as the FCB holds it.
std::string CpmText(const CpmName& name);
// The host name a new file gets: CpmText in lower case.
std::string NewHostName(const CpmName& name);
// Whether name matches pattern, where '?' in pattern matches any byte.
bool Matches(const CpmName& pattern, const CpmName& name);

}  // namespace orvane::runner
