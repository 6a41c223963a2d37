// The symbol cross-reference and the symbol file, written from the symbol
// table and the uses pass 2 recorded.
#pragma once
#include "front/cross_reference.h"
#include "front/symbols.h"
#include "output/sink.h"

namespace orvane {

// One line per symbol, sorted by name: its value, the line that defines it and
// every line that refers to it. Then the names referred to but never defined,
// the symbols never referred to, and the names defined more than once.
void WriteCrossReference(const SymbolTable& symbols, const CrossReference& xref, OutputSink& out);

// One "NAME EQU &Hxxxx" line per symbol, sorted by value: a source this
// assembler reads back, so that another program can use the addresses.
void WriteSymbolFile(const SymbolTable& symbols, OutputSink& out);

}  // namespace orvane
