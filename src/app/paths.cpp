#include "app/paths.h"

namespace orvane {

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
  if (source.size() < 4) return std::string(source);
  return std::string(source.substr(0, source.size() - 4));
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
