#include "runner/names.h"

#include <cstdio>
#include <cstring>

namespace orvane::runner {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// A character the CCP accepts in a file name (after upper-casing); the host
// adds '/' and '\', which no CP/M name may hold here.
bool NameChar(unsigned char c) {
  return c > ' ' && c < 0x7F && !std::strchr("<>.,;:=?*[]|/\\\"", c);
}

// Fills field (width bytes) from text as the CCP does.
void Field(std::string_view text, char* field, size_t width) {
  size_t i = 0;
  for (char c : text) {
    if (i == width || c == '.') break;
    if (c == '*') {
      while (i < width) field[i++] = '?';
      break;
    }
    field[i++] = Upper(c);
  }
}

}  // namespace

ParsedName ParseArgument(std::string_view arg) {
  ParsedName p;
  if (arg.size() >= 2 && arg[1] == ':') {
    const char d = Upper(arg[0]);
    if (d >= 'A' && d <= 'P') {
      p.drive = static_cast<uint8_t>(d - 'A' + 1);
      arg.remove_prefix(2);
    }
  }
  const size_t dot = arg.find('.');
  Field(arg.substr(0, dot), p.name.data(), 8);
  if (dot != std::string_view::npos) Field(arg.substr(dot + 1), p.name.data() + 8, 3);
  return p;
}

bool CommandTail(const std::vector<std::string>& args, std::string& tail) {
  tail.clear();
  for (const std::string& a : args) {
    tail += ' ';
    for (char c : a) tail += Upper(c);
  }
  return tail.size() <= 127;
}

std::string CheckFcbName(const uint8_t bytes[11], bool wildcards, CpmName& name) {
  name.assign(11, ' ');
  for (int field = 0; field < 2; ++field) {
    const int from = field == 0 ? 0 : 8, width = field == 0 ? 8 : 3;
    bool blank = false;
    for (int i = from; i < from + width; ++i) {
      const unsigned char c = static_cast<unsigned char>(Upper(static_cast<char>(bytes[i] & 0x7F)));
      char hex[48];
      if (c == ' ') {
        if (i == 0) return "the name begins with a blank";
        blank = true;
      } else if (blank) {
        return "a blank inside the " + std::string(field == 0 ? "name" : "type");
      } else if (c == '?' ? !wildcards : !NameChar(c)) {
        std::snprintf(hex, sizeof hex, "byte %d is %02XH, which no file name may hold", i + 1, bytes[i]);
        return hex;
      }
      name[i] = static_cast<char>(c);
    }
  }
  return "";
}

bool HostToCpm(std::string_view host, CpmName& name) {
  const size_t dot = host.find('.');
  const std::string_view base = host.substr(0, dot);
  const std::string_view type = dot == std::string_view::npos ? std::string_view() : host.substr(dot + 1);
  if (base.empty() || base.size() > 8 || type.size() > 3 || (dot != std::string_view::npos && type.empty()))
    return false;
  name.assign(11, ' ');
  for (size_t i = 0; i < base.size(); ++i) {
    if (!NameChar(static_cast<unsigned char>(base[i]))) return false;
    name[i] = Upper(base[i]);
  }
  for (size_t i = 0; i < type.size(); ++i) {
    if (!NameChar(static_cast<unsigned char>(type[i]))) return false;
    name[8 + i] = Upper(type[i]);
  }
  return true;
}

std::string CpmText(const CpmName& name) {
  std::string base = name.substr(0, 8), type = name.substr(8, 3);
  base.erase(base.find_last_not_of(' ') + 1);
  type.erase(type.find_last_not_of(' ') + 1);
  return type.empty() ? base : base + "." + type;
}

std::string NewHostName(const CpmName& name) {
  std::string s = CpmText(name);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

bool Matches(const CpmName& pattern, const CpmName& name) {
  for (size_t i = 0; i < 11; ++i)
    if (pattern[i] != '?' && pattern[i] != name[i]) return false;
  return true;
}

}  // namespace orvane::runner
