// A table of numbered records that grows to fit the numbers it is given.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fileio/file_slot.h"

namespace vetrik {

struct SlotTable {
  std::int32_t step = 0; // first size, and how far it grows past a number
  std::vector<std::unique_ptr<FileSlot>> slots;   // null: no record yet
  void (*release)(std::int32_t number) = nullptr; // gives up a number's record
};

// Numbers at or above this are refused, so that a stray number cannot make
// the table claim gigabytes.
inline constexpr std::int32_t SLOT_NUMBER_LIMIT = 1 << 16;

// A table of step entries, every one empty.
SlotTable slot_table_create(std::int32_t step,
                            void (*release)(std::int32_t number));

// The record for number: a new zero-filled one, or the one already there
// after release has given up its content. Returns nullptr for a number below
// 0 or at or above SLOT_NUMBER_LIMIT.
FileSlot* slot_table_acquire(SlotTable& table, std::int32_t number);

// The number's record when it is live (its handle is non-zero), else nullptr.
FileSlot* slot_table_lookup(SlotTable& table, std::int32_t number);

// Zero-fills the number's record; it stays allocated. No effect without one.
void slot_table_release(SlotTable& table, std::int32_t number);

// Calls release for every live record in ascending order of number; does
// nothing when the table has no release.
void slot_table_for_each(SlotTable& table);

} // namespace vetrik
