#include "encoder/assembler.h"

#include <array>

#include "front/numbers.h"
#include "front/short_text.h"

namespace orvane {

namespace {

struct Keyword {
  std::string_view text;
  Handler handler;
};

// Keywords in dispatch order. The texts are all different, so the first equal
// keyword is the only one; the table below finds it directly.
constexpr Keyword kKeywords[] = {
    {"=", Handler::kEqu},      {"EQU", Handler::kEqu},    {"DS", Handler::kDs},
    {"DEFS", Handler::kDs},    {"DW", Handler::kDw},      {"DEFW", Handler::kDw},
    {"DB", Handler::kDb},      {"DEFB", Handler::kDb},    {"ORG", Handler::kOrg},
    {"END", Handler::kEnd},
    {"NOP", Handler::kFixed},  {"RLCA", Handler::kFixed}, {"RRCA", Handler::kFixed},
    {"RLA", Handler::kFixed},  {"RRA", Handler::kFixed},  {"DAA", Handler::kFixed},
    {"CPL", Handler::kFixed},  {"SCF", Handler::kFixed},  {"CCF", Handler::kFixed},
    {"HALT", Handler::kFixed}, {"EXX", Handler::kFixed},  {"DI", Handler::kFixed},
    {"EI", Handler::kFixed},   {"NEG", Handler::kFixed},  {"RETN", Handler::kFixed},
    {"RETI", Handler::kFixed}, {"RRD", Handler::kFixed},  {"RLD", Handler::kFixed},
    {"LDI", Handler::kFixed},  {"CPI", Handler::kFixed},  {"INI", Handler::kFixed},
    {"OUTI", Handler::kFixed}, {"LDD", Handler::kFixed},  {"CPD", Handler::kFixed},
    {"IND", Handler::kFixed},  {"OUTD", Handler::kFixed}, {"LDIR", Handler::kFixed},
    {"CPIR", Handler::kFixed}, {"INIR", Handler::kFixed}, {"OTIR", Handler::kFixed},
    {"LDDR", Handler::kFixed}, {"CPDR", Handler::kFixed}, {"INDR", Handler::kFixed},
    {"OTDR", Handler::kFixed},
    {"EX", Handler::kEx},      {"LD", Handler::kLd},
    {"INC", Handler::kIncDec}, {"DEC", Handler::kIncDec}, {"ADD", Handler::kArith},
    {"ADC", Handler::kArith},  {"SUB", Handler::kArith},  {"SBC", Handler::kArith},
    {"AND", Handler::kArith},  {"XOR", Handler::kArith},  {"OR", Handler::kArith},
    {"CP", Handler::kArith},
    {"POP", Handler::kPopPush}, {"PUSH", Handler::kPopPush}, {"DJNZ", Handler::kDjnz},
    {"JR", Handler::kJr},      {"RET", Handler::kRet},    {"JP", Handler::kJp},
    {"CALL", Handler::kCall},  {"RST", Handler::kRst},
    {"IM", Handler::kIm},      {"OUT", Handler::kOut},    {"IN", Handler::kIn},
    {"RLC", Handler::kShift},  {"RRC", Handler::kShift},  {"RL", Handler::kShift},
    {"RR", Handler::kShift},   {"SLA", Handler::kShift},  {"SRA", Handler::kShift},
    {"SRL", Handler::kShift},  {"BIT", Handler::kBit},    {"RES", Handler::kBit},
    {"SET", Handler::kBit},
};

// Every keyword is at most four characters long.
using KeywordTable = ShortTextMap<Handler, 256>;

const KeywordTable& Keywords() {
  static const KeywordTable table = [] {
    KeywordTable t;
    for (const Keyword& k : kKeywords) t.Insert(k.text, k.handler);
    return t;
  }();
  return table;
}

}  // namespace

Assembler::Assembler(FormatSelection* format) : format_(format) {}

Handler Assembler::Dispatch(std::string_view op) {
  if (op.empty()) return Handler::kEmpty;
  const Handler* h = Keywords().Find(op);
  return h ? *h : Handler::kUndefined;
}

void Assembler::AppendWord(std::string_view text) {
  AppendOpcodeHex4(ObjCode, static_cast<uint32_t>(Values.Immed16(text)));
}

void Assembler::DefineLabel() {
  Symbols.AddLabel(Fields.LabelFld, PC, LineNo);
}

// The label is handled before the mnemonic, so its messages come first.
void Assembler::CheckLabelPass2() {
  std::string_view name = SymbolTable::StripLabel(Fields.LabelFld);
  if (name.empty()) return;
  const int slot = Symbols.Find(name);
  if (slot == 0) {
    if (Symbols.Full()) Error(msg::kSymbolTableFull);
    return;
  }
  if (Symbols.Slot(slot).line != LineNo) Error(msg::kDuplicateLabel);
}

// EQU, = and ORG take their value in pass 1; a symbol defined further down was
// still 0 then, so the value used differs from the one listed.
void Assembler::CheckForwardReference(std::string_view operand, bool sameLineIsForward) {
  if (!Pass2()) return;
  std::string_view name = OperandReader::SymbolOperand(operand);
  if (name.empty()) return;
  const int slot = Symbols.Find(name);
  if (slot == 0) return;  // already reported as undefined
  const int64_t line = Symbols.Slot(slot).line;
  if (line > LineNo || (sameLineIsForward && line == LineNo)) Error(msg::kIllegalForwardRef);
}

void Assembler::Assemble(std::string_view ASMLine) {
  ObjCode.clear();
  ByteCount = 0;
  Parse(PrepLineInto(ASMLine, prepared_), Fields);
  Op1Type = RegTyp(Fields.Operand1Fld);
  Op2Type = RegTyp(Fields.Operand2Fld);

  const Handler h = Dispatch(Fields.OpcodeFld);
  if (h != Handler::kEqu) {
    if (!Pass2()) {
      DefineLabel();
    }
  }
  if (Pass2()) CheckLabelPass2();

  switch (h) {
    case Handler::kEqu: EncodeEqu(); break;
    case Handler::kDs: EncodeDs(); break;
    case Handler::kDw: EncodeDw(); break;
    case Handler::kDb: EncodeDb(); break;
    case Handler::kOrg: EncodeOrg(); break;
    case Handler::kEnd: EncodeEnd(); break;
    case Handler::kFixed: EncodeFixed(); break;
    case Handler::kEx: EncodeEx(); break;
    case Handler::kLd: EncodeLd(); break;
    case Handler::kIncDec: EncodeIncDec(); break;
    case Handler::kArith: EncodeArith(); break;
    case Handler::kPopPush: EncodePopPush(); break;
    case Handler::kDjnz: EncodeDjnz(); break;
    case Handler::kJr: EncodeJr(); break;
    case Handler::kRet: EncodeRet(); break;
    case Handler::kJp: EncodeJp(); break;
    case Handler::kCall: EncodeCall(); break;
    case Handler::kRst: EncodeRst(); break;
    case Handler::kIm: EncodeIm(); break;
    case Handler::kOut: EncodeOut(); break;
    case Handler::kIn: EncodeIn(); break;
    case Handler::kShift: EncodeShift(); break;
    case Handler::kBit: EncodeBit(); break;
    case Handler::kEmpty: break;  // nothing encoded, nothing reported
    case Handler::kUndefined: Error(msg::kUndefinedOpcode); break;
  }
}

}  // namespace orvane
