// Choosing among the channels' blocks.
#include "signal/block_chooser.h"

#include <utility>

#include "bytes/tap_block.h"

namespace vetrik {

namespace {

bool checks(const DecodedBlock& block) {
  return xor_checksum(block.bytes) == 0;
}

bool better(const DecodedBlock& a, const DecodedBlock& b) {
  const bool a_checks = checks(a);
  if (a_checks != checks(b)) {
    return a_checks;
  }
  return a.bytes.size() > b.bytes.size();
}

} // namespace

void BlockChooser::add(std::size_t channel, DecodedBlock&& block) {
  // Late for a block given already, which it overlaps or comes before.
  if (block.start < given_until_) {
    return;
  }
  channels_[channel].blocks.push_back(std::move(block));
}

void BlockChooser::progress(std::size_t channel, double time) {
  channels_[channel].progress = time;
}

bool BlockChooser::pop(DecodedBlock& block) {
  Channel* first = nullptr;
  bool crowded = false;
  for (Channel& c : channels_) {
    if (!c.blocks.empty() &&
        (first == nullptr ||
         c.blocks.front().start < first->blocks.front().start)) {
      first = &c;
    }
    crowded = crowded || c.blocks.size() > CHOOSER_MOST_WAITING;
  }
  if (first == nullptr) {
    return false;
  }
  const double end = first->blocks.front().end;
  if (!finished_ && !crowded) {
    for (const Channel& c : channels_) {
      // Blocks come in order: one ending at or after this one's end, or the
      // channel heard past it, means no block that overlaps it can follow.
      if (&c != first && c.progress < end &&
          (c.blocks.empty() || c.blocks.back().end < end)) {
        return false;
      }
    }
  }
  block = std::move(first->blocks.front());
  first->blocks.pop_front();
  given_until_ = end;
  for (Channel& c : channels_) {
    while (!c.blocks.empty() && c.blocks.front().start < end) {
      if (better(c.blocks.front(), block)) {
        block = std::move(c.blocks.front());
      }
      c.blocks.pop_front();
    }
  }
  return true;
}

} // namespace vetrik
