// Numbered records: created on first use, reused after release.
#include "fileio/slot_table.h"

namespace vetrik {

SlotTable slot_table_create(std::int32_t step,
                            void (*release)(std::int32_t number)) {
  SlotTable table;
  table.step = step;
  table.slots.resize(static_cast<std::size_t>(step));
  table.release = release;
  return table;
}

FileSlot* slot_table_acquire(SlotTable& table, std::int32_t number) {
  if (number < 0 || number >= SLOT_NUMBER_LIMIT) {
    return nullptr;
  }
  if (static_cast<std::size_t>(number) >= table.slots.size()) {
    // Grows to just past the number, not by doubling.
    table.slots.resize(static_cast<std::size_t>(number + table.step));
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

namespace {

// Whether number has an entry in table.
bool in_table(const SlotTable& table, std::int32_t number) {
  return number >= 0 && static_cast<std::size_t>(number) < table.slots.size();
}

} // namespace

FileSlot* slot_table_lookup(SlotTable& table, std::int32_t number) {
  if (!in_table(table, number)) {
    return nullptr;
  }
  FileSlot* slot = table.slots[static_cast<std::size_t>(number)].get();
  return slot != nullptr && slot->handle != 0 ? slot : nullptr;
}

void slot_table_release(SlotTable& table, std::int32_t number) {
  if (!in_table(table, number)) {
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
  for (std::size_t i = 0; i < table.slots.size(); ++i) {
    if (table.slots[i] && table.slots[i]->handle != 0) {
      table.release(static_cast<std::int32_t>(i));
    }
  }
}

} // namespace vetrik
