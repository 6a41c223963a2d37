// Rows of a test's data file, one a line; a line that is blank or starts
// with '#' is none. A row that cannot be read makes the whole file fail: the
// reader says which line and why, and a file without rows fails too.
#pragma once

#include <cctype>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace rows {

inline void Need(bool ok, const char* what) {
  if (!ok) throw std::invalid_argument(what);
}

// A number as the rows write it: decimal, or hex with a trailing H.
inline uint32_t Num(const std::string& text) {
  const bool hex = !text.empty() && text.back() == 'H';
  size_t used = 0;
  const unsigned long n = std::stoul(hex ? text.substr(0, text.size() - 1) : text, &used, hex ? 16 : 10);
  Need(used + hex == text.size(), "not a number");
  return static_cast<uint32_t>(n);
}

// Escapes resolved: \xHH, \r, \n, \b, \t, \a, \\, and \(N) for N times the
// next character; "-" alone is empty.
inline std::string Unescape(const std::string& text) {
  static const std::map<char, char> kEscapes = {{'r', '\r'}, {'n', '\n'}, {'b', '\b'},
                                                {'t', '\t'}, {'a', '\a'}, {'\\', '\\'}};
  std::string out;
  size_t times = 1, used = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (text.compare(i, 2, "\\(") == 0) {
      Need(std::isdigit(static_cast<unsigned char>(text[i + 2])), "\\( without a number");
      times = std::stoul(text.substr(i + 2), &used);
      Need(times <= (1u << 25) && text.compare(i += 2 + used, 1, ")") == 0, "\\(N) with N too big or without )");
      continue;
    }
    if (text.compare(i, 2, "\\x") == 0) {
      c = static_cast<char>(std::stoi(text.substr(i + 2, 2), &used, 16));
      Need(used == 2 && std::isxdigit(static_cast<unsigned char>(text[i + 2])), "\\x without two hex digits");
      i += 3;
    } else if (c == '\\') {
      Need(i + 1 < text.size() && kEscapes.count(text[++i]), "an unknown escape");
      c = kEscapes.at(text[i]);
    }
    out.append(times, c);
    times = 1;
  }
  Need(times == 1, "\\(N) at the end");
  return out == "-" ? "" : out;
}

// A row's fields, " | " between them, each unescaped; the row may end in
// "  # " and a comment.
inline std::vector<std::string> Fields(const std::string& row) {
  const std::string line = row.substr(0, row.find("  # "));
  std::vector<std::string> fields;
  for (size_t at = 0, bar = 0; bar != std::string::npos; at = bar + 3) {
    bar = line.find(" | ", at);
    fields.push_back(Unescape(line.substr(at, bar - at)));
  }
  return fields;
}

// Hands every row of the file at path to add, which throws for one it
// cannot read. Returns what went wrong first, or "".
inline std::string Read(const std::string& path, const std::function<void(const std::string&)>& add) {
  std::ifstream in(path);
  int n = 0, read = 0;
  for (std::string line; std::getline(in, line);) {
    if (++n, line.empty() || line[0] == '#') continue;
    try {
      add(line);
      ++read;
    } catch (const std::exception& e) {
      return path + ":" + std::to_string(n) + ": " + e.what() + ": " + line;
    }
  }
  return read ? "" : path + ": no rows";
}

// The rows of the file at path whose first field is kind, their fields
// without it; a file that cannot be read or has no such row throws.
inline std::vector<std::vector<std::string>> Table(const std::string& path, const std::string& kind) {
  std::vector<std::vector<std::string>> table;
  const std::string error = Read(path, [&](const std::string& row) {
    std::vector<std::string> f = Fields(row);
    if (f[0] == kind) table.emplace_back(f.begin() + 1, f.end());
  });
  if (!error.empty() || table.empty()) throw std::runtime_error(error.empty() ? path + ": no " + kind + " rows" : error);
  return table;
}

}  // namespace rows
