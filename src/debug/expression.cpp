#include "debug/expression.h"

#include <cctype>
#include <cstdio>

#include "front/numbers.h"

// GCC 12 at -O3 warns -Wrestrict inside std::string's append when a message
// is joined from a string_view (GCC bug 105329, a false alarm); the joins
// below are ordinary ones.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace orvane::debug {

namespace {

using runner::Reg;

struct RegisterInfo {
  const char* name;
  int width;
  Reg pair;   // where it lives
  int shift;  // 8: the high byte, 0: the low byte or the whole pair; -1: a flag
  uint8_t flag;
};

constexpr RegisterInfo kTable[kRegisterCount] = {
    {"A", 8, Reg::AF, 8, 0},     {"F", 8, Reg::AF, 0, 0},      {"B", 8, Reg::BC, 8, 0},
    {"C", 8, Reg::BC, 0, 0},     {"D", 8, Reg::DE, 8, 0},      {"E", 8, Reg::DE, 0, 0},
    {"H", 8, Reg::HL, 8, 0},     {"L", 8, Reg::HL, 0, 0},      {"AF", 16, Reg::AF, 0, 0},
    {"BC", 16, Reg::BC, 0, 0},   {"DE", 16, Reg::DE, 0, 0},    {"HL", 16, Reg::HL, 0, 0},
    {"IX", 16, Reg::IX, 0, 0},   {"IY", 16, Reg::IY, 0, 0},    {"SP", 16, Reg::SP, 0, 0},
    {"PC", 16, Reg::PC, 0, 0},   {"AF'", 16, Reg::AF2, 0, 0},  {"BC'", 16, Reg::BC2, 0, 0},
    {"DE'", 16, Reg::DE2, 0, 0}, {"HL'", 16, Reg::HL2, 0, 0},  {"I", 8, Reg::IR, 8, 0},
    {"R", 8, Reg::IR, 0, 0},     {"SF", 1, Reg::AF, -1, 0x80}, {"ZF", 1, Reg::AF, -1, 0x40},
    {"HF", 1, Reg::AF, -1, 0x10}, {"PVF", 1, Reg::AF, -1, 0x04}, {"NF", 1, Reg::AF, -1, 0x02},
    {"CF", 1, Reg::AF, -1, 0x01},
};

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A symbol or a number as a constant.
std::optional<int64_t> Constant(std::string_view text, const ProgramMap& program) {
  const std::string u = Upper(text);
  if (const ProgramMap::Symbol* s = program.FindSymbol(u)) return static_cast<int64_t>(s->value);
  if (!u.empty() && (u[0] == '&' || u[0] == '-' || u[0] == '+' || std::isdigit(static_cast<unsigned char>(u[0]))))
    if (auto n = StrictNumber(u)) return *n;
  return std::nullopt;
}

// What a constant compared with or set into a quantity of this width may be:
// its values, or below 0 the same bits as a signed number.
int64_t Lowest(int width) { return width == 1 ? 0 : -(int64_t{1} << (width - 1)); }
int64_t Highest(int width) { return (int64_t{1} << width) - 1; }

}  // namespace

const char* RegisterName(int index) { return kTable[index].name; }
int RegisterWidth(int index) { return kTable[index].width; }

int FindRegister(std::string_view name) {
  const std::string u = Upper(Trim(name));
  for (int i = 0; i < kRegisterCount; ++i)
    if (u == kTable[i].name) return i;
  // The older one-letter names of the flags that no register shares.
  static constexpr std::pair<const char*, int> kOlder[] = {
      {"S", kFlagS}, {"Z", kFlagZ}, {"PV", kFlagPV}, {"PF", kFlagPV}, {"N", kFlagN}};
  for (const auto& [n, i] : kOlder)
    if (u == n) return i;
  return -1;
}

uint32_t ReadRegister(const runner::Cpu& cpu, int index) {
  const RegisterInfo& r = kTable[index];
  const uint16_t v = cpu.Get(r.pair);
  if (r.shift < 0) return (v & r.flag) ? 1 : 0;
  return r.width == 16 ? v : (v >> r.shift) & 0xFF;
}

void WriteRegister(runner::Cpu& cpu, int index, uint32_t value) {
  const RegisterInfo& r = kTable[index];
  uint16_t v = cpu.Get(r.pair);
  if (r.shift < 0)
    v = static_cast<uint16_t>((value & 1) ? (v | r.flag) : (v & ~r.flag));
  else if (r.width == 16)
    v = static_cast<uint16_t>(value);
  else
    v = static_cast<uint16_t>((v & ~(0xFF << r.shift)) | ((value & 0xFF) << r.shift));
  cpu.Set(r.pair, v);
}

uint32_t Operand::Eval(const runner::Cpu& cpu, const runner::Memory& memory) const {
  const uint32_t v = kind == kRegister ? ReadRegister(cpu, reg) : constant;
  return deref ? memory.bytes[v & 0xFFFF] : v;
}

std::optional<Operand> ParseOperand(std::string_view text, const ProgramMap& program, std::string& error) {
  std::string_view t = Trim(text);
  Operand o;
  if (t.size() >= 2 && t.front() == '(' && t.back() == ')') {
    const std::string_view inner = Trim(t.substr(1, t.size() - 2));
    o.deref = true;
    o.width = 8;
    const int r = FindRegister(inner);
    if (r >= 0) {
      if (kTable[r].width != 16) {
        error = "(";
        error.append(inner).append("): only a register pair, a symbol or a number can give an address");
        return std::nullopt;
      }
      o.kind = Operand::kRegister;
      o.reg = r;
      return o;
    }
    if (auto c = Constant(inner, program)) {
      if (*c < 0 || *c > 0xFFFF) {
        error = "(";
        error.append(inner).append("): ").append(std::to_string(*c)).append(" is not an address (0 to 65535)");
        return std::nullopt;
      }
      o.constant = static_cast<uint32_t>(*c);
      return o;
    }
    error = "'" + std::string(inner) + "' is no register pair, symbol or number";
    return std::nullopt;
  }
  if (t.empty()) {
    error = "nothing to evaluate";
    return std::nullopt;
  }
  const int r = FindRegister(t);
  if (r >= 0) {
    o.kind = Operand::kRegister;
    o.reg = r;
    o.width = kTable[r].width;
    return o;
  }
  if (auto c = Constant(t, program)) {
    // A constant is a word (Operand's width), or a negative one's bits.
    if (*c < Lowest(16) || *c > Highest(16)) {
      error = std::to_string(*c) + " does not fit in 16 bits (-32768 to 65535)";
      return std::nullopt;
    }
    o.constant = static_cast<uint32_t>(*c);
    return o;
  }
  error = "'" + std::string(t) + "' is no register, flag, symbol or number";
  return std::nullopt;
}

bool Condition::Holds(const runner::Cpu& cpu, const runner::Memory& memory) const {
  // Each side as the quantity it is (a flag, a byte, a word); a negative
  // number stands for its low bits at the width of the left side.
  auto mask = [](int width) -> uint32_t { return width == 1 ? 1 : width == 8 ? 0xFF : 0xFFFF; };
  const int64_t a = left.Eval(cpu, memory) & mask(left.width);
  int64_t b = right.Eval(cpu, memory);
  if (right.kind == Operand::kConstant && !right.deref)
    b = static_cast<int32_t>(right.constant) < 0 ? (right.constant & mask(left.width)) : right.constant;
  else
    b &= mask(right.width);
  switch (op) {
    case kEq: return a == b;
    case kNe: return a != b;
    case kLt: return a < b;
    case kLe: return a <= b;
    case kGt: return a > b;
    case kGe: return a >= b;
  }
  return false;
}

std::optional<Condition> ParseCondition(std::string_view text, const ProgramMap& program, std::string& error) {
  static constexpr std::pair<const char*, Condition::Op> kOps[] = {
      {"==", Condition::kEq}, {"!=", Condition::kNe}, {"<=", Condition::kLe},
      {">=", Condition::kGe}, {"<", Condition::kLt},  {">", Condition::kGt}};
  size_t at = std::string_view::npos, len = 0;
  Condition c;
  for (const auto& [s, op] : kOps) {
    const size_t p = text.find(s);
    if (p != std::string_view::npos && (at == std::string_view::npos || p < at)) {
      at = p;
      len = std::char_traits<char>::length(s);
      c.op = op;
    }
  }
  if (at == std::string_view::npos) {
    error = "a condition is NAME OP VALUE with OP one of == != < <= > >=";
    return std::nullopt;
  }
  auto left = ParseOperand(text.substr(0, at), program, error);
  if (!left) return std::nullopt;
  auto right = ParseOperand(text.substr(at + len), program, error);
  if (!right) return std::nullopt;
  if (right->kind == Operand::kConstant && !right->deref) {
    // A value the left side can never hold is a mistake, not a condition
    // that is always false.
    const int64_t v = static_cast<int32_t>(right->constant);
    const int w = left->width;
    if (v < Lowest(w) || v > Highest(w)) {
      error = std::to_string(v) + " does not fit in " + std::string(Trim(text.substr(0, at))) + " (" +
              std::to_string(Lowest(w)) + " to " + std::to_string(Highest(w)) + ")";
      return std::nullopt;
    }
  }
  c.left = *left;
  c.right = *right;
  return c;
}

std::string Hex4(uint32_t value) {
  char b[8];
  std::snprintf(b, sizeof b, "%04XH", value & 0xFFFF);
  return b;
}

std::string FormatValue(uint32_t value, int width) {
  if (width == 1) return value ? "1" : "0";
  char b[32];
  if (width == 8)
    std::snprintf(b, sizeof b, "%02XH (%u)", value & 0xFF, value & 0xFF);
  else
    std::snprintf(b, sizeof b, "%04XH (%u)", value & 0xFFFF, value & 0xFFFF);
  return b;
}

}  // namespace orvane::debug
