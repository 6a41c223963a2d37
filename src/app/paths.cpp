#include "app/paths.h"

namespace orvane {

namespace {

// Length of the UTF-8 character starting at `at`: its lead byte's length when
// the continuation bytes are all there and the sequence is the shortest form
// of a scalar value; otherwise 1, so that every byte that is not part of a
// valid character counts as a character of its own, as a decoder shows it.
size_t CharLength(std::string_view s, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned lead = byte(at);
  size_t n = 1;
  unsigned min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, min = 0x10000;
  }
  if (n == 1 || at + n > s.size()) return 1;
  unsigned value = lead & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 1;
    value = value << 6 | (byte(at + i) & 0x3F);
  }
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  return value < min || value > 0x10FFFF || surrogate ? 1 : n;
}

}  // namespace

std::string PrintableName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 32 && u != 127) {
      out += c;
    } else {
      out += '\\';
      out += static_cast<char>('0' + (u >> 6));
      out += static_cast<char>('0' + ((u >> 3) & 7));
      out += static_cast<char>('0' + (u & 7));
    }
  }
  return out;
}

std::string WindowStem(std::string_view source) {
  // Where each character starts; the last four are cut.
  size_t starts[4] = {0, 0, 0, 0};
  size_t count = 0;
  for (size_t at = 0; at < source.size(); at += CharLength(source, at)) starts[count++ % 4] = at;
  if (count < 4) return std::string(source);
  return std::string(source.substr(0, starts[count % 4]));
}

std::string ReplaceExtension(std::string_view path, std::string_view ext) {
  const size_t slash = path.find_last_of('/');
  const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t dot = path.find_last_of('.');
  std::string out;
  // A leading dot (".profile") starts a name, not an extension.
  if (dot != std::string_view::npos && dot > nameStart) {
    out.assign(path.substr(0, dot));
  } else {
    out.assign(path);
  }
  out.append(ext);
  return out;
}

}  // namespace orvane
