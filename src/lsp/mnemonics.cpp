#include "lsp/mnemonics.h"

#include "encoder/keywords.h"
#include "front/operands.h"

namespace orvane::lsp {

namespace {

// clang-format off
const std::vector<KeywordForms> kKeywords = {
    {"EQU", true, "NAME EQU nn: NAME stands for the word nn"},
    {"=", true, "NAME = nn: NAME stands for the word nn"},
    {"DB", true, "DB n · DB 'c': one byte, or one character"},
    {"DEFB", true, "DEFB n · DEFB 'c': one byte, or one character"},
    {"DW", true, "DW nn: one word, low byte first"},
    {"DEFW", true, "DEFW nn: one word, low byte first"},
    {"DS", true, "DS 'text' · DS \"text\": the characters between the quotes"},
    {"DEFS", true, "DEFS 'text' · DEFS \"text\": the characters between the quotes"},
    {"ORG", true, "ORG nn: the next statement stands at nn"},
    {"END", true, "END · END nn: the end of the program, with its start address"},
    {"NOP", false, "NOP = 00"},   {"RLCA", false, "RLCA = 07"}, {"RRCA", false, "RRCA = 0F"},
    {"RLA", false, "RLA = 17"},   {"RRA", false, "RRA = 1F"},   {"DAA", false, "DAA = 27"},
    {"CPL", false, "CPL = 2F"},   {"SCF", false, "SCF = 37"},   {"CCF", false, "CCF = 3F"},
    {"HALT", false, "HALT = 76"}, {"EXX", false, "EXX = D9"},   {"DI", false, "DI = F3"},
    {"EI", false, "EI = FB"},     {"NEG", false, "NEG = ED 44"}, {"RETN", false, "RETN = ED 45"},
    {"RETI", false, "RETI = ED 4D"}, {"RRD", false, "RRD = ED 67"}, {"RLD", false, "RLD = ED 6F"},
    {"LDI", false, "LDI = ED A0"},   {"CPI", false, "CPI = ED A1"}, {"INI", false, "INI = ED A2"},
    {"OUTI", false, "OUTI = ED A3"}, {"LDD", false, "LDD = ED A8"}, {"CPD", false, "CPD = ED A9"},
    {"IND", false, "IND = ED AA"},   {"OUTD", false, "OUTD = ED AB"}, {"LDIR", false, "LDIR = ED B0"},
    {"CPIR", false, "CPIR = ED B1"}, {"INIR", false, "INIR = ED B2"}, {"OTIR", false, "OTIR = ED B3"},
    {"LDDR", false, "LDDR = ED B8"}, {"CPDR", false, "CPDR = ED B9"}, {"INDR", false, "INDR = ED BA"},
    {"OTDR", false, "OTDR = ED BB"},
    {"EX", false, "EX DE,HL · EX AF,AF' · EX (SP),HL · EX (SP),IX/IY"},
    {"LD", false, "LD r,r · LD r,n · LD r,(HL) · LD r,(IX/IY+d) · LD (HL),r · LD (HL),n · LD (IX/IY+d),r · "
                  "LD (IX/IY+d),n · LD A,(BC) · LD A,(DE) · LD A,(nn) · LD (BC),A · LD (DE),A · LD (nn),A · "
                  "LD A,I · LD A,R · LD I,A · LD R,A · LD rr,nn · LD IX/IY,nn · LD rr,(nn) · LD IX/IY,(nn) · "
                  "LD (nn),rr · LD (nn),IX/IY · LD SP,HL · LD SP,IX/IY"},
    {"INC", false, "INC r · INC (HL) · INC (IX/IY+d) · INC rr · INC IX/IY"},
    {"DEC", false, "DEC r · DEC (HL) · DEC (IX/IY+d) · DEC rr · DEC IX/IY"},
    {"ADD", false, "ADD A,r · ADD A,n · ADD A,(HL) · ADD A,(IX/IY+d) · ADD HL,rr · ADD IX/IY,rr"},
    {"ADC", false, "ADC A,r · ADC A,n · ADC A,(HL) · ADC A,(IX/IY+d) · ADC HL,rr"},
    {"SUB", false, "SUB r · SUB n · SUB (HL) · SUB (IX/IY+d)"},
    {"SBC", false, "SBC A,r · SBC A,n · SBC A,(HL) · SBC A,(IX/IY+d) · SBC HL,rr"},
    {"AND", false, "AND r · AND n · AND (HL) · AND (IX/IY+d)"},
    {"XOR", false, "XOR r · XOR n · XOR (HL) · XOR (IX/IY+d)"},
    {"OR", false, "OR r · OR n · OR (HL) · OR (IX/IY+d)"},
    {"CP", false, "CP r · CP n · CP (HL) · CP (IX/IY+d)"},
    {"POP", false, "POP BC · POP DE · POP HL · POP AF · POP IX/IY"},
    {"PUSH", false, "PUSH BC · PUSH DE · PUSH HL · PUSH AF · PUSH IX/IY"},
    {"DJNZ", false, "DJNZ e"},
    {"JR", false, "JR e · JR NZ,e · JR Z,e · JR NC,e · JR C,e"},
    {"RET", false, "RET · RET cc"},
    {"JP", false, "JP nn · JP cc,nn · JP (HL) · JP (IX/IY)"},
    {"CALL", false, "CALL nn · CALL cc,nn"},
    {"RST", false, "RST 0 · RST 8 · RST 16 · RST 24 · RST 32 · RST 40 · RST 48 · RST 56"},
    {"IM", false, "IM 0 · IM 1 · IM 2"},
    {"OUT", false, "OUT (n),A · OUT (C),r"},
    {"IN", false, "IN A,(n) · IN r,(C)"},
    {"RLC", false, "RLC r · RLC (HL) · RLC (IX/IY+d)"},
    {"RRC", false, "RRC r · RRC (HL) · RRC (IX/IY+d)"},
    {"RL", false, "RL r · RL (HL) · RL (IX/IY+d)"},
    {"RR", false, "RR r · RR (HL) · RR (IX/IY+d)"},
    {"SLA", false, "SLA r · SLA (HL) · SLA (IX/IY+d)"},
    {"SRA", false, "SRA r · SRA (HL) · SRA (IX/IY+d)"},
    {"SRL", false, "SRL r · SRL (HL) · SRL (IX/IY+d)"},
    {"BIT", false, "BIT b,r · BIT b,(HL) · BIT b,(IX/IY+d)"},
    {"RES", false, "RES b,r · RES b,(HL) · RES b,(IX/IY+d)"},
    {"SET", false, "SET b,r · SET b,(HL) · SET b,(IX/IY+d)"},
};
// clang-format on

}  // namespace

const std::vector<KeywordForms>& AllKeywords() { return kKeywords; }

const KeywordForms* FindKeywordForms(std::string_view keyword) {
  // Only what the assembler itself knows as a keyword has forms.
  if (FindKeyword(Keywords(), keyword) == nullptr) return nullptr;
  for (const KeywordForms& k : kKeywords) {
    if (k.keyword == keyword) return &k;
  }
  return nullptr;
}

const std::vector<std::string_view>& RegisterNames() {
  static const std::vector<std::string_view> names(RegNames.begin(), RegNames.end());
  return names;
}

const std::vector<std::string_view>& ConditionNames() {
  static const std::vector<std::string_view> names = {"NZ", "Z", "NC", "C", "PO", "PE", "P", "M"};
  return names;
}

}  // namespace orvane::lsp
