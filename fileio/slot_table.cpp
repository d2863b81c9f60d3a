// Numbered records: created on first use, reused after release.
#include "fileio/slot_table.h"

namespace vetrik {

SlotTable slot_table_create(std::int32_t step,
                            void (*release)(std::int32_t number)) {
  SlotTable table;
  table.step = step;
  table.capacity = step;
  table.slots.resize(static_cast<std::size_t>(step));
  table.release = release;
  return table;
}

FileSlot* slot_table_acquire(SlotTable& table, std::int32_t number) {
  if (number < 0 || number >= SLOT_NUMBER_LIMIT) {
    return nullptr;
  }
  if (number >= table.capacity) {
    // Grows to just past the number, not by doubling.
    table.capacity = number + table.step;
    table.slots.resize(static_cast<std::size_t>(table.capacity));
  }
  auto& entry = table.slots[static_cast<std::size_t>(number)];
  if (entry) {
    if (table.release != nullptr) {
      table.release(number);
    }
    *entry = FileSlot{};
    return entry.get();
  }
  entry = std::make_unique<FileSlot>();
  return entry.get();
}

FileSlot* slot_table_lookup(SlotTable& table, std::int32_t number) {
  if (number < 0 || number >= table.capacity) {
    return nullptr;
  }
  FileSlot* slot = table.slots[static_cast<std::size_t>(number)].get();
  return slot != nullptr && slot->handle != 0 ? slot : nullptr;
}

void slot_table_release(SlotTable& table, std::int32_t number) {
  if (number < 0 || number >= table.capacity) {
    return;
  }
  if (auto& entry = table.slots[static_cast<std::size_t>(number)]) {
    *entry = FileSlot{};
  }
}

void slot_table_for_each(SlotTable& table) {
  if (table.release == nullptr) {
    return;
  }
  for (table.iter_index = 0; table.iter_index < table.capacity;
       ++table.iter_index) {
    const auto& entry = table.slots[static_cast<std::size_t>(table.iter_index)];
    if (entry && entry->handle != 0) {
      table.release(table.iter_index);
    }
  }
}

} // namespace vetrik
