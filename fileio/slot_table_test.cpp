#include "fileio/slot_table.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vetrik {
namespace {

// Each number the release callback saw, with the handle its record still
// held at that moment.
SlotTable* watched = nullptr;
std::vector<std::pair<std::int32_t, Handle>> released;

void record_release(std::int32_t number) {
  FileSlot* slot = slot_table_lookup(*watched, number);
  released.push_back({number, slot == nullptr ? 0 : slot->handle});
}

class SlotTableTest : public ::testing::Test {
protected:
  void SetUp() override {
    released.clear();
    watched = &table;
  }

  SlotTable table = slot_table_create(16, record_release);
};

TEST_F(SlotTableTest, GrowsToJustPastTheNumberByOneStep) {
  SlotTable other = slot_table_create(16, record_release);
  ASSERT_NE(slot_table_acquire(other, 16), nullptr);
  EXPECT_EQ(other.slots.size(), 32u);

  ASSERT_NE(slot_table_acquire(table, 5), nullptr);
  EXPECT_EQ(table.slots.size(), 16u);
  ASSERT_NE(slot_table_acquire(table, 20), nullptr);
  EXPECT_EQ(table.slots.size(), 36u);
  ASSERT_NE(slot_table_acquire(table, 40), nullptr);
  EXPECT_EQ(table.slots.size(), 56u);
}

TEST_F(SlotTableTest, ReacquireReleasesFirstThenHandsBackTheSameZeroedRecord) {
  FileSlot* first = slot_table_acquire(table, 3);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(released.empty()) << "a new record has nothing to release";
  first->handle = 7;
  first->remaining = 99;
  first->write_failed = true;

  FileSlot* again = slot_table_acquire(table, 3);
  EXPECT_EQ(again, first);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0], std::make_pair(3, Handle{7}))
      << "release must run before the zero-fill";
  EXPECT_EQ(again->handle, 0);
  EXPECT_EQ(again->remaining, 0);
  EXPECT_FALSE(again->write_failed);
}

TEST_F(SlotTableTest, NumbersOutsideTheRangeAreRefused) {
  EXPECT_EQ(slot_table_acquire(table, -1), nullptr);
  EXPECT_EQ(slot_table_acquire(table, SLOT_NUMBER_LIMIT), nullptr);
  EXPECT_EQ(table.slots.size(), 16u);
  EXPECT_EQ(slot_table_lookup(table, -1), nullptr);
  EXPECT_EQ(slot_table_lookup(table, 1000), nullptr);
  EXPECT_NE(slot_table_acquire(table, SLOT_NUMBER_LIMIT - 1), nullptr);
}

TEST_F(SlotTableTest, ForEachVisitsOnlyLiveRecordsInAscendingOrder) {
  for (std::int32_t number : {30, 5, 9, 2}) {
    ASSERT_NE(slot_table_acquire(table, number), nullptr);
  }
  table.slots[30]->handle = 1;
  table.slots[5]->handle = 2;
  table.slots[2]->handle = 3; // 9 stays empty

  slot_table_for_each(table);
  const std::vector<std::pair<std::int32_t, Handle>> expected{
      {2, 3}, {5, 2}, {30, 1}};
  EXPECT_EQ(released, expected);
}

} // namespace
} // namespace vetrik
