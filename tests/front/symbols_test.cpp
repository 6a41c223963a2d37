// The symbol table: earliest definition wins, the compare-before-strip
// repetition rule, capacity.
#include <gtest/gtest.h>

#include <string>

#include "front/symbols.h"

namespace orvane {
namespace {

TEST(SymbolTableTest, StoresNamesWithoutEndingAndFindsThem) {
  SymbolTable t;
  EXPECT_EQ(t.LabelCount(), 1);
  EXPECT_EQ(t.AddLabel("LOOP:", 0x105), SymbolTable::AddResult::kStored);
  EXPECT_EQ(t.AddLabel("START ", 0x100), SymbolTable::AddResult::kStored);
  EXPECT_EQ(t.LabelCount(), 3);
  ASSERT_NE(t.Find("LOOP"), 0);
  EXPECT_EQ(t.Slot(t.Find("LOOP")).address, 0x105);
  EXPECT_EQ(t.Slot(t.Find("START")).address, 0x100);
  EXPECT_EQ(t.Find("LOOP:"), 0);
  EXPECT_EQ(t.Find("START "), 0);
  EXPECT_EQ(t.Find(""), 0);
  EXPECT_EQ(t.Find("loop"), 0);  // exact, case-sensitive comparison
}

TEST(SymbolTableTest, LabelWithEndingRepeatedTakesAnotherSlotButFirstWins) {
  SymbolTable t;
  t.AddLabel("X ", 1);
  EXPECT_EQ(t.AddLabel("X ", 2), SymbolTable::AddResult::kStored);
  EXPECT_EQ(t.LabelCount(), 3);
  EXPECT_EQ(t.Slot(t.Find("X")).address, 1);
  EXPECT_EQ(t.Slot(2).name, "X");
  EXPECT_EQ(t.Slot(2).address, 2);
  EXPECT_EQ(t.Slot(1).repeated, 0);
}

TEST(SymbolTableTest, BareLabelRepeatedSetsTheFlagOnEveryEqualSlot) {
  SymbolTable t;
  t.AddLabel("X:", 1);
  t.AddLabel("X:", 2);  // second slot, same name
  t.AddLabel("Y", 3);
  EXPECT_EQ(t.AddLabel("X", 4), SymbolTable::AddResult::kRepeated);
  EXPECT_EQ(t.LabelCount(), 4);
  EXPECT_EQ(t.Slot(1).repeated, -1);
  EXPECT_EQ(t.Slot(2).repeated, -1);
  EXPECT_EQ(t.Slot(3).repeated, 0);
  EXPECT_EQ(t.Slot(1).flag1, 0);
  EXPECT_EQ(t.Slot(1).flag3, 0);
  EXPECT_EQ(t.Slot(t.Find("X")).address, 1);
}

TEST(SymbolTableTest, EmptyAndColonOnlyLabelsDefineNothing) {
  SymbolTable t;
  EXPECT_EQ(t.AddLabel("", 1), SymbolTable::AddResult::kIgnored);
  EXPECT_EQ(t.AddLabel(":", 1), SymbolTable::AddResult::kIgnored);
  EXPECT_EQ(t.LabelCount(), 1);
  // A first-column comment is a label named ";".
  EXPECT_EQ(t.AddLabel("; ", 7), SymbolTable::AddResult::kStored);
  EXPECT_EQ(t.Slot(t.Find(";")).address, 7);
}

TEST(SymbolTableTest, ResetForgetsEverything) {
  SymbolTable t;
  t.AddLabel("A1", 1);
  t.AddLabel("A2", 2);
  t.Reset();
  EXPECT_EQ(t.LabelCount(), 1);
  EXPECT_EQ(t.Find("A1"), 0);
  EXPECT_EQ(t.Slot(1).name, "");
  EXPECT_EQ(t.Slot(1).address, 0);
  // A name of the previous run is no repetition.
  EXPECT_EQ(t.AddLabel("A1", 5), SymbolTable::AddResult::kStored);
  EXPECT_EQ(t.Slot(t.Find("A1")).address, 5);
}

TEST(SymbolTableTest, HoldsExactly16384SymbolsAndRefusesTheNext) {
  SymbolTable t;
  for (int i = 0; i < SymbolTable::kCapacity; ++i) {
    ASSERT_EQ(t.AddLabel("S" + std::to_string(i) + ":", i), SymbolTable::AddResult::kStored) << i;
  }
  EXPECT_TRUE(t.Full());
  EXPECT_EQ(t.LabelCount(), 16385);
  EXPECT_EQ(t.AddLabel("NEW", 1), SymbolTable::AddResult::kFull);
  EXPECT_EQ(t.Find("NEW"), 0);
  // An already stored name is still recognised as a repetition.
  EXPECT_EQ(t.AddLabel("S5", 1), SymbolTable::AddResult::kRepeated);
  EXPECT_EQ(t.Slot(t.Find("S16383")).address, 16383);
  EXPECT_EQ(t.Slot(t.Find("S0")).address, 0);
}

TEST(SymbolTableTest, IndexAgreesWithALinearScanOnTheFirstSlot) {
  SymbolTable t;
  // Same names defined several times, with and without endings.
  const char* labels[] = {"A:", "B ", "A:", "C", "B", "A ", "D:", "C:", "A"};
  for (int i = 0; i < 9; ++i) t.AddLabel(labels[i], 100 + i);
  for (const char* name : {"A", "B", "C", "D", "E"}) {
    int scan = 0;
    for (int s = 1; s < t.LabelCount(); ++s) {
      if (t.Slot(s).name == name) {
        scan = s;
        break;
      }
    }
    EXPECT_EQ(t.Find(name), scan) << name;
  }
}

}  // namespace
}  // namespace orvane
