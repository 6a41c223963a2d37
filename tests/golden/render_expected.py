#!/usr/bin/env python3
"""Writes the golden sources and their expected outputs into cases/.

Nothing here runs the assembler. For every source line the statement fields
(label, mnemonic, operands, comment), the address, the object text and the
messages are written out by hand below; this script only lays them out in
the fixed listing columns, adds the CR LF line ends and the Intel HEX
checksums. Run it again after changing a case, then review the diff.

Each case NAME gives:
  NAME.z80                 the source (bytes exactly, line ends included)
  NAME.cpm.LST NAME.cpm.box NAME.com    CP/M run (origin 0100)
  NAME.hex.LST NAME.hex.box NAME.HEX    Intel HEX run (origin 0000)
The listing header is the source path the runner gives: PROG.Z80.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "cases")
SOURCE_NAME = "PROG.Z80"
CRLF = "\r\n"


def pad(text, width):
    return (text + " " * width)[:width]


class E:
    """One listing entry: what the statement left for the listing."""

    def __init__(self, addr, obj="", label="", op="", o1="", o2="", com="", err=""):
        self.addr, self.obj, self.label, self.op = addr, obj, label, op
        self.o1, self.o2, self.com, self.err = o1, o2, com, err

    def operand_column(self):
        if len(self.obj) > 8:  # long layout: first operand only
            return self.o1
        text = self.o1
        if self.o2:
            text = text + "," + self.o2
        return text

    def rest_digits(self):
        """Continuation digit groups: digits 9-16, 17-24, ..."""
        d = self.obj[8:]
        return [d[i:i + 8] for i in range(0, len(d), 8)]

    def file_text(self):
        s = "%04X" % (self.addr & 0xFFFF)
        s += "  " + pad(self.obj, 8) + "  " + pad(self.label, 12) + pad(self.op, 8)
        s += pad(self.operand_column(), 16) + self.com + CRLF
        if self.err:
            s += self.err + CRLF
        for g in self.rest_digits():
            s += "      " + g + CRLF
        return s

    def box_text(self):
        s = "%04X" % (self.addr & 0xFFFF)
        s += " " + pad(self.obj, 8) + " " + pad(self.label, 10) + " " + pad(self.op, 6)
        s += pad(self.operand_column(), 16) + self.com + CRLF
        if self.err:
            s += self.err + CRLF
        for g in self.rest_digits():
            s += "     " + pad(g, 8) + CRLF
        return s


def checksum(hexdigits):
    total = sum(int(hexdigits[i:i + 2], 16) for i in range(0, len(hexdigits), 2))
    return "%02X" % ((256 - total % 256) % 256)


def data_record(addr, data):
    """A 16-byte data record; `data` is the real bytes as hex digits."""
    assert len(data) % 2 == 0 and len(data) <= 32
    body = "10%04X00" % addr + data + "0" * (32 - len(data))
    return ":" + body + checksum(body) + CRLF


def end_record(addr):
    body = "00%04X01" % addr
    return ":" + body + checksum(body) + CRLF


# The examples given for the record layout, as a check of the helpers.
assert data_record(0, "C30001") == ":10000000C30001000000000000000000000000002C\r\n"
assert end_record(0x100) == ":00010001FE\r\n"
assert end_record(0) == ":00000001FF\r\n"

USR = "Undefined Symbol Referenced"
BADQ = "Bad opening and closing quotes"
INV = "Invalid Number"
DUP = "Duplicate Label"
FWD = "Illegal Forward Reference"


def lines_lf(*lines):
    return ("\n".join(lines) + "\n").encode()


CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


# Each case function returns (source bytes, entries(fmt), com hex, HEX text);
# fmt is "cpm" or "hex", org the origin of that format.

@case
def empty():
    return b"", lambda fmt, org: [], "", end_record(0)


@case
def layout():
    src = lines_lf(
        "START: DB 1 ; ONE",
        "LONGLABEL123 DW 4660",
        "  DS 'ABCD'",
        "  DS 'ABCDE'",
        "  DS 'ABCDEFGHIJKLMNOPQRST' ; TWENTY",
        "  DB 300,7",
        "  DS 'AB',IGNORED",
        "  DS 'HELLO',X ; C",
        "  FOO A,B",
        "  ;COMMENT ONLY",
        "",
        "TAB:\tDB\t&H1F\t;T",
        "lower db 'a'",
        "  DS 'ABCDEFGH'",
        "  NOP ; WAIT",
        "  DB 1,2,3",
        "  TOOLONGOP X ; Q",
        "; FIRST COLUMN",
        "LOOP:",
        "LOOP2: ; C",
    )
    twenty = "4142434445464748494A4B4C4D4E4F5051525354"

    def entries(fmt, org):
        return [
            E(org + 0x00, "01", "START:", "DB", "1", com="; ONE "),
            E(org + 0x01, "3412", "LONGLABEL123 ", "DW", "4660"),
            E(org + 0x03, "41424344", "", "DS", "'ABCD'"),
            E(org + 0x07, "4142434445", "", "DS", "'ABCDE'"),
            E(org + 0x0C, twenty, "", "DS", "'ABCDEFGHIJKLMNOPQRST'", com="; TWENTY "),
            E(org + 0x20, "2C", "", "DB", "300", "7"),
            E(org + 0x21, "4142", "", "DS", "'AB'", "IGNORED"),
            E(org + 0x23, "48454C4C4F", "", "DS", "'HELLO'", "X", "; C"),
            E(org + 0x28, "", "", "FOO", "A", "B", err="Undefined Opcode"),
            E(org + 0x28, com=";COMMENT ONLY "),
            E(org + 0x28),
            E(org + 0x28, "1F", "TAB:", "DB", "&H1F", com=";T "),
            E(org + 0x29, "41", "LOWER ", "DB", "'A'"),
            E(org + 0x2A, "4142434445464748", "", "DS", "'ABCDEFGH'"),
            E(org + 0x32, "00", "", "NOP", com="; WAIT "),
            E(org + 0x33, "01", "", "DB", "1", "2,", "3"),
            E(org + 0x34, "", "", "TOOLONGOP", "X", com="; Q ", err="Undefined Opcode"),
            E(org + 0x34, "", "; ", "FIRST", "COLUMN", err="Undefined Opcode"),
            E(org + 0x34, "", "LOOP:"),
            E(org + 0x34, "", "LOOP2:", com="; C "),
        ]

    r0 = "01341241424344414243444541424344"
    r1 = "4546474849" "4A4B4C4D4E4F5051525354"
    r2 = "2C414248454C4C4F1F41414243444546"
    r3 = "47480001"
    com = r0 + r1 + r2 + r3
    hexfile = data_record(0, r0) + data_record(0x10, r1) + data_record(0x20, r2) + \
        data_record(0x30, r3) + end_record(0)
    return src, entries, com, hexfile


@case
def directives():
    src = lines_lf(
        "COUNT EQU 10",
        "TEN = 10",
        "  EQU 5",
        "  DB COUNT",
        "  DW COUNT",
        "  DEFW TEN,5",
        "  DS 10",
        "  DS 'A B'",
        "  DS 'AB",
        "  DS 'AB\"",
        "  DS \"AB\"",
        "  DEFS ''",
        "  DB 'A'",
        "  DB 'AB'",
        "  DB 'A",
        "  DEFB 65",
        "  DB \"A\"",
        "  DB UNDEF",
        "  DW UNDEF",
        "  DB -1",
        "  DW -1",
        "  DW 70000",
        "  DB 300",
        "  DB &O17",
        "  DW (1234)",
        "  DB ( 7 )",
        "  DW &HFFFF",
        "  DB &HFFFF",
        "  DB 12H",
        "  DW 5X",
        "  DW 1+COUNT",
        "  DW 2147483648",
        "  DW -2147483649",
        "  DB 2147483647",
        "  DW 0FFH",
        "  DW 1.5",
        "  DW 2.5",
        "  DB",
        "  DW",
        "  DS",
        "  DS '",
        "  DS 'hi'",
    )

    def entries(fmt, org):
        return [
            E(org + 0x00, "= 000A", "COUNT ", "EQU", "10"),
            E(org + 0x00, "= 000A", "TEN ", "=", "10"),
            E(org + 0x00, "= 0005", "", "EQU", "5"),
            E(org + 0x00, "0A", "", "DB", "COUNT"),
            E(org + 0x01, "0A00", "", "DW", "COUNT"),
            E(org + 0x03, "0A00", "", "DEFW", "TEN", "5"),
            E(org + 0x05, "", "", "DS", "10", err=BADQ),
            E(org + 0x05, "", "", "DS", "'A", "B'", err=BADQ),
            E(org + 0x05, "", "", "DS", "'AB", err=BADQ),
            E(org + 0x05, "", "", "DS", "'AB\"", err=BADQ),
            E(org + 0x05, "4142", "", "DS", "\"AB\""),
            E(org + 0x07, "", "", "DEFS", "''"),
            E(org + 0x07, "41", "", "DB", "'A'"),
            E(org + 0x08, "41", "", "DB", "'AB'"),
            E(org + 0x09, "41", "", "DB", "'A"),
            E(org + 0x0A, "41", "", "DEFB", "65"),
            E(org + 0x0B, "00", "", "DB", "\"A\"", err=USR),
            E(org + 0x0C, "00", "", "DB", "UNDEF", err=USR),
            E(org + 0x0D, "0000", "", "DW", "UNDEF", err=USR),
            E(org + 0x0F, "00", "", "DB", "-1", err=USR),
            E(org + 0x10, "FFFF", "", "DW", "-1"),
            E(org + 0x12, "7011", "", "DW", "70000"),
            E(org + 0x14, "2C", "", "DB", "300"),
            E(org + 0x15, "0F", "", "DB", "&O17"),
            E(org + 0x16, "D204", "", "DW", "(1234)"),
            E(org + 0x18, "07", "", "DB", "( 7 )"),
            E(org + 0x19, "FFFF", "", "DW", "&HFFFF"),
            E(org + 0x1B, "00", "", "DB", "&HFFFF", err=USR),
            E(org + 0x1C, "00", "", "DB", "12H", err=INV),
            E(org + 0x1D, "0000", "", "DW", "5X", err=INV),
            E(org + 0x1F, "0000", "", "DW", "1+COUNT", err=INV),
            E(org + 0x21, "0000", "", "DW", "2147483648", err=INV),
            E(org + 0x23, "0000", "", "DW", "-2147483649", err=INV),
            E(org + 0x25, "FF", "", "DB", "2147483647"),
            E(org + 0x26, "0000", "", "DW", "0FFH", err=USR),
            E(org + 0x28, "0200", "", "DW", "1.5"),
            E(org + 0x2A, "0200", "", "DW", "2.5"),
            E(org + 0x2C, "00", "", "DB", err=USR),
            E(org + 0x2D, "0000", "", "DW", err=USR),
            E(org + 0x2F, "", "", "DS", err=BADQ),
            E(org + 0x2F, "", "", "DS", "'"),
            E(org + 0x2F, "4849", "", "DS", "'HI'"),
        ]

    r0 = "0A0A000A004142414141410000000000"
    r1 = "FFFF70112C0FD20407FFFF0000000000"
    r2 = "0000000000FF00000200020000000048"
    r3 = "49"
    com = r0 + r1 + r2 + r3
    hexfile = data_record(0, r0) + data_record(0x10, r1) + data_record(0x20, r2) + \
        data_record(0x30, r3) + end_record(0)
    return src, entries, com, hexfile


@case
def org_end():
    src = lines_lf(
        "  DB 1",
        "BEFORE ORG 16",
        "HERE: DB 2",
        "  DW BEFORE",
        "  END",
        "  DB 3",
        "  END 256",
        "  DB 4 ; AFTER",
    )

    def entries(fmt, org):
        cpm = fmt == "cpm"
        return [
            E(org + 0x00, "01", "", "DB", "1"),
            E(0x0010, "", "BEFORE ", "ORG", "16"),
            E(0x0010, "02", "HERE:", "DB", "2"),
            E(0x0011, "0101" if cpm else "0100", "", "DW", "BEFORE"),
            E(0x0013, "0000" if cpm else "@ 0000", "", "END"),
            E(0x0013, "03", "", "DB", "3"),
            E(0x0014, "* 0100" if cpm else "@ 0100", "", "END", "256"),
            E(0x0014, "04", "", "DB", "4", com="; AFTER "),
        ]

    com = "01" "02" "0101" "03" "04"
    hexfile = data_record(0, "01") + data_record(0x10, "020100") + data_record(0x13, "03") + \
        data_record(0x14, "04") + end_record(0)
    return src, entries, com, hexfile


@case
def end_start():
    # CR LF line ends throughout.
    src = b"START:  DB 1\r\n  END 256\r\n"

    def entries(fmt, org):
        return [
            E(org, "01", "START:", "DB", "1"),
            E(org + 1, "* 0100" if fmt == "cpm" else "@ 0100", "", "END", "256"),
        ]

    return src, entries, "01", data_record(0, "01") + end_record(0x100)


@case
def end_label():
    src = lines_lf("  NOP", "MAIN: DB 2", "  END MAIN")

    def entries(fmt, org):
        return [
            E(org, "00", "", "NOP"),
            E(org + 1, "02", "MAIN:", "DB", "2"),
            E(org + 2, "* 0101" if fmt == "cpm" else "@ 0001", "", "END", "MAIN"),
        ]

    return src, entries, "0002", data_record(0, "0002") + end_record(1)


@case
def end_only():
    src = lines_lf("  END")

    def entries(fmt, org):
        return [E(org, "0000" if fmt == "cpm" else "@ 0000", "", "END")]

    return src, entries, "", end_record(0)


@case
def hexrec():
    src = lines_lf(
        "  DS 'ABCDEFGHIJKLMNOP'",
        "  DS 'QRSTUVWXYZABCDEFG'",
        "  ORG &H40",
        "  DB 1",
        "  DB 2",
        "  ORG &H48",
        "  DB 3",
    )
    a_p = "4142434445464748494A4B4C4D4E4F50"
    q_g = "5152535455565758595A41424344454647"

    def entries(fmt, org):
        return [
            E(org + 0x00, a_p, "", "DS", "'ABCDEFGHIJKLMNOP'"),
            E(org + 0x10, q_g, "", "DS", "'QRSTUVWXYZABCDEFG'"),
            E(0x40, "", "", "ORG", "&H40"),
            E(0x40, "01", "", "DB", "1"),
            E(0x41, "02", "", "DB", "2"),
            E(0x48, "", "", "ORG", "&H48"),
            E(0x48, "03", "", "DB", "3"),
        ]

    com = a_p + q_g + "010203"
    hexfile = data_record(0, a_p) + data_record(0x10, q_g[:32]) + data_record(0x20, "47") + \
        data_record(0x40, "0102") + data_record(0x48, "03") + end_record(0)
    return src, entries, com, hexfile


@case
def lineends():
    # LF, CR LF, lone CR, CR CR (an empty line), LF CR (an empty line), and
    # a last line without a line end.
    src = b"  DB 1\n  DB 2\r\n  DB 3\r\r  DB 4\n\r  DB 5\r\n\n  DB 6"

    def entries(fmt, org):
        return [
            E(org + 0, "01", "", "DB", "1"),
            E(org + 1, "02", "", "DB", "2"),
            E(org + 2, "03", "", "DB", "3"),
            E(org + 3),
            E(org + 3, "04", "", "DB", "4"),
            E(org + 4),
            E(org + 4, "05", "", "DB", "5"),
            E(org + 5),
            E(org + 5, "06", "", "DB", "6"),
        ]

    return src, entries, "010203040506", data_record(0, "010203040506") + end_record(0)


@case
def decisions():
    src = lines_lf(
        "ONE: DB 1",
        "ONE: DB 2",
        "TWO DB 3",
        "TWO DW UNDEF",
        "THREE",
        "THREE",
        "ONE EQU 5",
        "ONE = LATER",
        ":",
        ":",
        "  DW ONE",
        "  DW THREE",
        "  DB ' '",
        "  DB '",
        "FWD EQU LATER",
        "SELF EQU SELF",
        "  DW FWD",
        "  DW SELF",
        "BACK EQU ONE",
        "TWO DS 'Z'",
        "TWO FOO",
        "TWO: NOP",
        "TWO ORG &H20",
        "TWO END",
        "  ORG NEXT",
        "NEXT: DB 9",
        "LATER: DB 8",
        "  ORG 0",
        "  DB 0",
        "  DW 00",
        "  DW &H0",
        "  DB &O0",
        "  DW +0",
        "  DW -0",
        "  DB 0.0",
        "  DW (0)",
    )

    def entries(fmt, org):
        cpm = fmt == "cpm"
        return [
            E(org + 0x00, "01", "ONE:", "DB", "1"),
            E(org + 0x01, "02", "ONE:", "DB", "2", err=DUP),
            E(org + 0x02, "03", "TWO ", "DB", "3"),
            E(org + 0x03, "0000", "TWO ", "DW", "UNDEF", err=DUP + USR),
            E(org + 0x05, "", "THREE"),
            E(org + 0x05, "", "THREE", err=DUP),
            E(org + 0x05, "= 0005", "ONE ", "EQU", "5", err=DUP),
            E(org + 0x05, "= 0001", "ONE ", "=", "LATER", err=DUP + FWD),
            E(org + 0x05, "", ":"),
            E(org + 0x05, "", ":"),
            E(org + 0x05, "0001" if cpm else "0000", "", "DW", "ONE"),
            E(org + 0x07, "0501" if cpm else "0500", "", "DW", "THREE"),
            E(org + 0x09, "20", "", "DB", "'", "'"),
            E(org + 0x0A, "20", "", "DB", "'"),
            E(org + 0x0B, "= 0001", "FWD ", "EQU", "LATER", err=FWD),
            E(org + 0x0B, "= 0000", "SELF ", "EQU", "SELF", err=FWD),
            E(org + 0x0B, "0000", "", "DW", "FWD"),
            E(org + 0x0D, "0000", "", "DW", "SELF"),
            E(org + 0x0F, "= 0100" if cpm else "= 0000", "BACK ", "EQU", "ONE"),
            E(org + 0x0F, "5A", "TWO ", "DS", "'Z'", err=DUP),
            E(org + 0x10, "", "TWO ", "FOO", err=DUP + "Undefined Opcode"),
            E(org + 0x10, "00", "TWO:", "NOP", err=DUP),
            E(0x0020, "", "TWO ", "ORG", "&H20", err=DUP),
            E(0x0020, "0000" if cpm else "@ 0000", "TWO ", "END", err=DUP),
            E(0x0000, "", "", "ORG", "NEXT", err=FWD),
            E(0x0000, "09", "NEXT:", "DB", "9"),
            E(0x0001, "08", "LATER:", "DB", "8"),
            E(0x0000, "", "", "ORG", "0"),
            E(0x0000, "00", "", "DB", "0"),
            E(0x0001, "0000", "", "DW", "00"),
            E(0x0003, "0000", "", "DW", "&H0"),
            E(0x0005, "00", "", "DB", "&O0"),
            E(0x0006, "0000", "", "DW", "+0"),
            E(0x0008, "0000", "", "DW", "-0"),
            E(0x000A, "00", "", "DB", "0.0"),
            E(0x000B, "0000", "", "DW", "(0)"),
        ]

    first_cpm = "010203" "0000" "0001" "0501" "20" "20" "0000" "0000" "5A"
    first_hex = "010203" "0000" "0000" "0500" "20" "20" "0000" "0000" "5A"
    zeros = "00" * 13
    com = first_cpm + "00" + "0908" + zeros
    hexfile = data_record(0, first_hex) + data_record(0x10, "00") + data_record(0, "0908") + \
        data_record(0, zeros) + end_record(0)
    return src, entries, com, hexfile


@case
def program():
    src = lines_lf(
        "  ; A SHORT PROGRAM",
        "START:  LD SP,STACK",
        "        LD A,5",
        "        LD B,A",
        "LOOP:   DJNZ LOOP",
        "        LD IX,1234",
        "        LD (IX+5),7",
        "\tld a,(ix+5) ; load",
        "        CALL SUB",
        "        JR NEXT",
        "        HALT",
        "NEXT:   JP START",
        "SUB:    RET",
        "        DS 'OK'",
        "STACK   EQU &H8000",
        "        END START",
    )

    def entries(fmt, org):
        cpm = fmt == "cpm"
        return [
            E(org + 0x00, com="; A SHORT PROGRAM "),
            E(org + 0x00, "310080", "START:", "LD", "SP", "STACK"),
            E(org + 0x03, "3E05", "", "LD", "A", "5"),
            E(org + 0x05, "47", "", "LD", "B", "A"),
            E(org + 0x06, "10FE", "LOOP:", "DJNZ", "LOOP"),
            E(org + 0x08, "DD21D204", "", "LD", "IX", "1234"),
            E(org + 0x0C, "DD360507", "", "LD", "(IX+5)", "7"),
            E(org + 0x10, "DD7E05", "", "LD", "A", "(IX+5)", "; LOAD"),
            E(org + 0x13, "CD1C01" if cpm else "CD1C00", "", "CALL", "SUB"),
            E(org + 0x16, "1801", "", "JR", "NEXT"),
            E(org + 0x18, "76", "", "HALT"),
            E(org + 0x19, "C30001" if cpm else "C30000", "NEXT:", "JP", "START"),
            E(org + 0x1C, "C9", "SUB:", "RET"),
            E(org + 0x1D, "4F4B", "", "DS", "'OK'"),
            E(org + 0x1F, "= 8000", "STACK ", "EQU", "&H8000"),
            E(org + 0x1F, "* 0100" if cpm else "@ 0000", "", "END", "START"),
        ]

    first = "3100803E054710FEDD21D204DD360507"
    com = first + "DD7E05" "CD1C01" "1801" "76" "C30001" "C9" "4F4B"
    rest_hex = "DD7E05" "CD1C00" "1801" "76" "C30000" "C9" "4F4B"
    return src, entries, com, data_record(0, first) + data_record(0x10, rest_hex) + end_record(0)


@case
def wrap():
    # Addresses past FFFF show and record their low 16 bits.
    src = lines_lf("  ORG &HFFFE", "  DS 'ABC'", "  DB 1", "  END")

    def entries(fmt, org):
        return [
            E(0xFFFE, "", "", "ORG", "&HFFFE"),
            E(0xFFFE, "414243", "", "DS", "'ABC'"),
            E(0x0001, "01", "", "DB", "1"),
            E(0x0002, "0000" if fmt == "cpm" else "@ 0000", "", "END"),
        ]

    return src, entries, "41424301", data_record(0xFFFE, "41424301") + end_record(0)


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, fn in CASES.items():
        src, entries, com, hexfile = fn()
        write(name + ".z80", src)
        for fmt, org in (("cpm", 0x100), ("hex", 0)):
            es = entries(fmt, org)
            write("%s.%s.LST" % (name, fmt), SOURCE_NAME + CRLF + "".join(e.file_text() for e in es))
            write("%s.%s.box" % (name, fmt), "".join(e.box_text() for e in es))
        write(name + ".com", bytes.fromhex(com))
        write(name + ".HEX", hexfile)
    with open(os.path.join(OUT, "CASES"), "w") as f:
        f.write("\n".join(CASES) + "\n")


if __name__ == "__main__":
    main()
