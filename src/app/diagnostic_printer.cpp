#include "app/diagnostic_printer.h"

#include <algorithm>

namespace orvane {

namespace {

// The length of the well-formed UTF-8 character at `i`, or 0.
size_t CharacterLength(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  const size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

bool IsByteOrderMark(std::string_view s, size_t i) { return s.substr(i, 3) == "\xEF\xBB\xBF"; }

std::string Paint(const DiagnosticStyle& style, std::string_view code, std::string_view text) {
  return style.color ? std::string(code) + std::string(text) + "\33[m" : std::string(text);
}

// The line as read (control characters shown as '?', a very long line cut
// short at a character's start) and a caret line whose tabs stand where the
// line's do and which has one blank for every character before the column,
// under the span as far as the line is shown.
void Quote(std::string& out, const Problem& p, std::string_view source, const DiagnosticStyle& style) {
  constexpr size_t kShown = 240;
  size_t shown = std::min(source.size(), kShown);
  while (shown < source.size() && shown > 0 && (static_cast<unsigned char>(source[shown]) & 0xC0) == 0x80) --shown;
  std::string text(source.substr(0, shown));
  for (char& c : text)
    if ((static_cast<unsigned char>(c) < 32 && c != '\t') || c == 127) c = '?';
  const std::string number = std::to_string(p.span.line);
  const std::string margin(number.size() < 5 ? 5 - number.size() : 0, ' ');
  out += margin + number + " | " + text + (source.size() > shown ? "..." : "") + '\n';
  const size_t at = static_cast<size_t>(p.span.column) - 1;
  if (p.span.column <= 0 || at >= text.size()) return;
  std::string caret;
  for (size_t i = 0; i < at;) {
    const size_t n = CharacterLength(text, i);
    if (text[i] == '\t') caret += '\t';
    else if (!IsByteOrderMark(text, i)) caret += ' ';
    i += n == 0 ? 1 : n;
  }
  const size_t end = std::min(at + static_cast<size_t>(std::max(p.span.length, 1)), text.size());
  const int width = CharacterColumn(text, static_cast<int>(end) + 1) - CharacterColumn(text, static_cast<int>(at) + 1);
  out += std::string(margin.size() + number.size(), ' ') + " | " + caret +
         Paint(style, "\33[1;32m", std::string("^").append(static_cast<size_t>(std::max(width, 1) - 1), '~')) + '\n';
}

}  // namespace

int CharacterColumn(std::string_view line, int byteColumn) {
  if (byteColumn <= 0) return byteColumn;
  const size_t want = static_cast<size_t>(byteColumn) - 1;
  const size_t stop = std::min(want, line.size());
  int column = 1;
  for (size_t i = 0; i < stop;) {
    const size_t n = CharacterLength(line, i);
    if (!IsByteOrderMark(line, i)) ++column;
    i += n == 0 ? 1 : n;
  }
  // A column past the line's end counts the bytes beyond it.
  return column + static_cast<int>(want - stop);
}

std::string FormatDiagnostic(std::string_view sourceName, const Problem& p, std::string_view source,
                             const DiagnosticStyle& style) {
  const int column = CharacterColumn(source, p.span.column);
  std::string where = std::string(sourceName) + ':' + std::to_string(p.span.line) + ':';
  if (column > 0) where += std::to_string(column) + ':';
  where = Paint(style, "\33[1m", where) + ' ';
  const bool warning = p.severity == Severity::kWarning;
  const bool error = p.severity == Severity::kError || (warning && style.warningsAreErrors);
  std::string out = where;
  if (error) out += Paint(style, "\33[1;31m", "error:");
  else if (warning) out += Paint(style, "\33[1;35m", "warning:");
  else out += Paint(style, "\33[1;36m", "note:");
  out += ' ';
  out += p.text;
  if (warning) {
    const std::string flag = (style.warningsAreErrors ? "-Werror=" : "-W") + std::string(p.name);
    out += " [" + Paint(style, error ? "\33[31m" : "\33[35m", flag) + ']';
  }
  out += '\n';
  Quote(out, p, source, style);
  if (!p.note.empty()) out += where + Paint(style, "\33[1;36m", "note:") + ' ' + std::string(p.note) + '\n';
  return out;
}

}  // namespace orvane
