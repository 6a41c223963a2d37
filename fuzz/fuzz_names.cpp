// CP/M file names: the CCP's parse of arguments into FCB names and the
// command tail, the check of FCB name bytes and the mapping to host names.
// Invariants: every name is 11 upper-case bytes with no '*'; the tail holds at
// most 127 characters exactly when it is accepted; a name that passes the
// check comes back unchanged from the host name it is given, and a host name
// with a CP/M form maps to the same CP/M name in any case.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "runner/names.h"

using namespace orvane::runner;

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

void CheckName(const CpmName& n) {
  Require(n.size() == 11);
  for (char c : n) Require(!(c >= 'a' && c <= 'z') && c != '*');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  for (size_t from = 0;;) {
    const size_t nul = text.find('\0', from);
    args.push_back(text.substr(from, nul - from));
    if (nul == std::string::npos) break;
    from = nul + 1;
  }
  for (const std::string& a : args) {
    const ParsedName p = ParseArgument(a);
    CheckName(p.name);
    Require(p.drive <= 16);
  }
  std::string tail;
  const bool fits = CommandTail(args, tail);
  Require(fits == (tail.size() <= 127) && tail[0] == ' ');
  for (char c : tail) Require(!(c >= 'a' && c <= 'z'));

  if (size >= 11) {
    CpmName name;
    const bool wild = data[0] & 1;
    if (CheckFcbName(data, wild, name).empty()) {
      CheckName(name);
      CpmName back;
      if (name.find('?') == std::string::npos) {
        Require(HostToCpm(NewHostName(name), back) && back == name && Matches(name, back));
        Require(CpmText(name).size() <= 12);
      }
    }
  }
  CpmName fromHost, again;
  if (HostToCpm(text, fromHost)) {
    CheckName(fromHost);
    std::string lower = text;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    Require(HostToCpm(lower, again) && again == fromHost && NewHostName(fromHost) == lower);
  }
  return 0;
}
