// What the command lines of every Orvane program share: the version text, and
// long options with a value written either way getopt_long takes them.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// NAME VERSION, the copyright, the licence with the one address of the GPL,
// and the warranty; `uses` (a library and its licence) as a last line.
inline std::string VersionText(std::string_view program, std::string_view uses = {}) {
  std::string text = std::string(program) + " " ORVANE_VERSION "\n"
                     "Copyright (C) 2026 the Orvane developers.\n"
                     "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                     "This is free software: you are free to change and redistribute it.\n"
                     "There is NO WARRANTY, to the extent permitted by law.\n";
  if (!uses.empty()) text += std::string(uses) + "\n";
  return text;
}

// The value of the long option `name` ("--xref") at args[i]: "--xref=FILE",
// or "--xref FILE" (i then moves to FILE). Nothing when args[i] is another
// option; an empty optional inside when the value is missing.
inline std::optional<std::optional<std::string>> LongOptionValue(const std::vector<std::string>& args, size_t& i,
                                                                 std::string_view name) {
  const std::string& a = args[i];
  if (a.size() > name.size() && a.compare(0, name.size(), name) == 0 && a[name.size()] == '=')
    return std::optional<std::string>(a.substr(name.size() + 1));
  if (a != name) return std::nullopt;
  if (i + 1 >= args.size()) return std::optional<std::string>();
  return std::optional<std::string>(args[++i]);
}

}  // namespace orvane
