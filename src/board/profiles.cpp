// The built-in boards and the board file.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "board/board.h"

namespace orvane::board {

namespace {

Profile Make(std::string name, std::vector<Region> regions, std::vector<DeviceSpec> devices) {
  Profile p;
  p.name = std::move(name);
  p.regions = std::move(regions);
  p.devices = std::move(devices);
  return p;
}

// A number in hexadecimal, with or without H after it; false when it is not one.
bool ParseHex(const std::string& s, uint32_t& v) {
  std::string t = s;
  if (!t.empty() && (t.back() == 'H' || t.back() == 'h')) t.pop_back();
  if (t.empty() || t.size() > 5) return false;
  v = 0;
  for (char c : t) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    v = v * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10);
  }
  return true;
}

// A frequency: a number of Hz, or with kHz or MHz after it.
bool ParseHz(const std::string& s, uint32_t& hz) {
  size_t used = 0;
  double v;
  try {
    v = std::stod(s, &used);
  } catch (...) {
    return false;
  }
  const std::string unit = s.substr(used);
  const double scale = unit == "" || unit == "Hz" ? 1 : unit == "kHz" ? 1e3 : unit == "MHz" ? 1e6 : 0;
  if (scale == 0 || !(v > 0) || v * scale > 1e9 || v * scale < 1) return false;
  hz = static_cast<uint32_t>(v * scale + 0.5);
  return true;
}

}  // namespace

const std::vector<Profile>& Profiles() {
  static const std::vector<Profile> kProfiles = [] {
    DeviceSpec ctc{DeviceSpec::kCtc, 0x88, {}};
    // CLK/TRG0-2 from the system clock divided by 4; TRG3 not wired.
    ctc.trigger = {1843200, 1843200, 1843200, 0};
    return std::vector<Profile>{
        Make("sbc-acia", {{Kind::kRom, 0x0000, 0x1FFF}, {Kind::kRam, 0x8000, 0xFFFF}},
             {{DeviceSpec::kAcia, 0x80, {}}}),
        Make("sbc-sio", {{Kind::kRom, 0x0000, 0x1FFF}, {Kind::kRam, 0x8000, 0xFFFF}},
             {ctc, {DeviceSpec::kSio, 0x80, {}}}),
        Make("ram64-acia", {{Kind::kRam, 0x0000, 0xFFFF}}, {{DeviceSpec::kAcia, 0x80, {}}}),
    };
  }();
  return kProfiles;
}

std::string Profile::Describe() const {
  std::string s;
  for (const Region& r : regions) {
    if (!s.empty()) s += ", ";
    s += (r.kind == Kind::kRom ? "ROM " : "RAM ") + Hex4(r.first).substr(0, 4) + "H-" + Hex4(r.last);
  }
  for (const DeviceSpec& d : devices) {
    s += ", ";
    if (d.type == DeviceSpec::kAcia) s += "68B50 ACIA at " + Hex2(d.port);
    if (d.type == DeviceSpec::kSio) s += "Z80 SIO/2 at " + Hex2(d.port).substr(0, 2) + "H-" + Hex2(d.port + 3u);
    if (d.type == DeviceSpec::kCtc) s += "Z80 CTC at " + Hex2(d.port).substr(0, 2) + "H-" + Hex2(d.port + 3u);
  }
  return s;
}

bool ParseBoardFile(const std::string& text, const std::string& name, Profile& profile, std::string& error) {
  Profile p;
  p.name = name;
  std::istringstream in(text);
  std::string line;
  std::vector<int> portLine(256, 0);
  std::vector<int> pageLine(256, 0);
  for (int n = 1; std::getline(in, line); ++n) {
    const auto fail = [&](const std::string& why) {
      error = name + ":" + std::to_string(n) + ": " + why;
      return false;
    };
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.empty()) continue;
    const std::string& key = w[0];
    if (key == "clock") {
      if (w.size() != 2 || !ParseHz(w[1], p.clock) || p.clock < 1000)
        return fail("clock takes one frequency (7372800, 7.3728MHz, 4MHz)");
    } else if (key == "rom" || key == "ram") {
      uint32_t first, last;
      const size_t dash = w.size() == 2 ? w[1].find('-') : std::string::npos;
      if (dash == std::string::npos || !ParseHex(w[1].substr(0, dash), first) ||
          !ParseHex(w[1].substr(dash + 1), last) || first > last || last > 0xFFFF)
        return fail(key + " takes one range of addresses in hexadecimal, FIRST-LAST (0000-1FFF)");
      if ((first & 0xFF) != 0 || (last & 0xFF) != 0xFF)
        return fail("a region starts and ends on 256 bytes (0000-1FFF, 8000-80FF), not " + w[1]);
      for (uint32_t pg = first >> 8; pg <= last >> 8; ++pg)
        if (pageLine[pg])
          return fail(Hex4(pg << 8) + " is already in the region on line " + std::to_string(pageLine[pg]));
      for (uint32_t pg = first >> 8; pg <= last >> 8; ++pg) pageLine[pg] = n;
      p.regions.push_back({key == "rom" ? Kind::kRom : Kind::kRam, first, last});
    } else if (key == "acia" || key == "sio" || key == "ctc") {
      uint32_t port;
      if (w.size() < 2 || !ParseHex(w[1], port) || port > 0xFF)
        return fail(key + " takes its first port in hexadecimal (80)");
      DeviceSpec d;
      d.type = key == "acia" ? DeviceSpec::kAcia : key == "sio" ? DeviceSpec::kSio : DeviceSpec::kCtc;
      d.port = static_cast<uint8_t>(port);
      for (size_t k = 2; k < w.size(); ++k) {
        const std::string& o = w[k];
        const size_t eq = o.find('=');
        if (d.type != DeviceSpec::kCtc || eq != 4 || o.compare(0, 3, "trg") != 0 || o[3] < '0' || o[3] > '3')
          return fail("unknown setting '" + o + "'" +
                      (d.type == DeviceSpec::kCtc ? " (a CTC takes trg0=HZ .. trg3=HZ)" : ""));
        if (!ParseHz(o.substr(5), d.trigger[o[3] - '0']))
          return fail(o.substr(0, 4) + " takes a frequency (1843200, 1.8432MHz)");
      }
      const int count = d.type == DeviceSpec::kAcia ? 2 : 4;
      if (port + count > 0x100) return fail(key + " at " + Hex2(port) + " runs past port FFH");
      for (int k = 0; k < count; ++k)
        if (portLine[port + k])
          return fail("port " + Hex2(port + k) + " is already the device's on line " +
                      std::to_string(portLine[port + k]));
      for (int k = 0; k < count; ++k) portLine[port + k] = n;
      p.devices.push_back(d);
    } else {
      return fail("unknown line '" + key + "' (a board file has clock, rom, ram, acia, sio and ctc lines)");
    }
  }
  if (p.regions.empty()) return error = name + ": the board has no memory (add a rom or ram line)", false;
  bool serial = false;
  for (const DeviceSpec& d : p.devices) serial = serial || d.type != DeviceSpec::kCtc;
  if (!serial) return error = name + ": the board has no console (add an acia or sio line)", false;
  profile = std::move(p);
  return true;
}

bool FindProfile(const std::string& nameOrFile, Profile& profile, std::string& error) {
  for (const Profile& p : Profiles())
    if (p.name == nameOrFile) return profile = p, true;
  std::ifstream f(nameOrFile, std::ios::binary);
  if (!f) {
    std::string names;
    for (const Profile& p : Profiles()) names += (names.empty() ? "" : ", ") + p.name;
    error = "no board named '" + nameOrFile + "' (the boards: " + names + "; or a board file)";
    return false;
  }
  std::ostringstream text;
  text << f.rdbuf();
  return ParseBoardFile(text.str(), nameOrFile, profile, error);
}

}  // namespace orvane::board
