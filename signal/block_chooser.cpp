// Choosing among the channels' blocks.
#include "signal/block_chooser.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "bytes/tap_block.h"

namespace vetrik {

namespace {

bool checks(const DecodedBlock& block) {
  return xor_checksum(block.bytes) == 0;
}

// Whether voter, a candidate that checks, stands for candidate's bytes: it
// holds them, or their start, as a listener that lost the block early does
// (the first bytes of a header, flag and type 0, check by themselves). One
// only a byte short stands for nothing longer: a 0 byte read into the quiet
// after a block checks as well as the block.
bool votes_for(const DecodedBlock& voter, const DecodedBlock& candidate) {
  const std::vector<std::uint8_t>& v = voter.bytes;
  const std::vector<std::uint8_t>& c = candidate.bytes;
  return checks(voter) && (v.size() == c.size() || v.size() + 1 < c.size()) &&
         std::equal(v.begin(), v.end(), c.begin());
}

// The candidates that stand for candidate's bytes.
std::size_t votes_of(const std::vector<DecodedBlock>& candidates,
                     std::size_t candidate) {
  std::size_t votes = 0;
  for (const DecodedBlock& other : candidates) {
    votes += votes_for(other, candidates[candidate]) ? 1 : 0;
  }
  return votes;
}

// Bytes of the other candidates, whether they check or not, that agree with
// candidate's at the same place.
std::size_t support(const std::vector<DecodedBlock>& candidates,
                    std::size_t candidate) {
  const std::vector<std::uint8_t>& bytes = candidates[candidate].bytes;
  std::size_t agreeing = 0;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::vector<std::uint8_t>& other = candidates[i].bytes;
    for (std::size_t k = 0;
         i != candidate && k < bytes.size() && k < other.size(); ++k) {
      agreeing += bytes[k] == other[k] ? 1 : 0;
    }
  }
  return agreeing;
}

// Of candidates that check, as many with one set of bytes as with another
// (votes each): the one whose bytes the others, all of them, agree with most
// often, byte by byte; candidates.size() when none is ahead.
std::size_t most_supported(const std::vector<DecodedBlock>& candidates,
                           std::size_t votes) {
  std::size_t best = candidates.size();
  std::size_t best_support = 0;
  bool tied = false;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (!checks(candidates[i])) {
      continue;
    }
    if (votes_of(candidates, i) != votes) {
      continue;
    }
    const std::size_t s = support(candidates, i);
    if (best == candidates.size() || s > best_support) {
      best = i;
      best_support = s;
      tied = false;
    } else if (s == best_support &&
               candidates[i].bytes != candidates[best].bytes) {
      tied = true;
    }
  }
  return tied ? candidates.size() : best;
}

// Of blocks that overlap in time, one block of the tape heard by several
// listeners: the bytes that most of the candidates whose checksum holds
// agree on; where as many agree on other bytes, the ones the other
// candidates agree with most, byte by byte. The XOR checksum is weak, so
// candidates that check with other bytes and equal support prove nothing:
// then the block fails, as one that no listener read whole. Without a
// candidate that checks, the longest is given, to fail its check.
DecodedBlock choose(std::vector<DecodedBlock>& candidates) {
  std::size_t best = candidates.size(); // the first of the leading bytes
  std::size_t best_votes = 0;
  bool tied = false;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (!checks(candidates[i])) {
      continue;
    }
    const std::size_t votes = votes_of(candidates, i);
    if (votes > best_votes) {
      best = i;
      best_votes = votes;
      tied = false;
    } else if (votes == best_votes &&
               candidates[i].bytes != candidates[best].bytes) {
      tied = true;
    }
  }
  if (best < candidates.size() && tied) {
    best = most_supported(candidates, best_votes);
  }
  if (best < candidates.size()) {
    return std::move(candidates[best]);
  }
  std::size_t longest = 0;
  bool failing = false;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const bool fails = !checks(candidates[i]);
    if ((fails && !failing) ||
        (fails == failing &&
         candidates[i].bytes.size() > candidates[longest].bytes.size())) {
      longest = i;
      failing = fails;
    }
  }
  DecodedBlock block = std::move(candidates[longest]);
  if (!failing) {
    // Candidates that check disagree with no majority: the block must fail
    // its check as a block no listener read whole does.
    block.bytes.back() ^= 0xFF;
  }
  return block;
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
  std::size_t held = 0;
  for (Channel& c : channels_) {
    if (!c.blocks.empty() &&
        (first == nullptr ||
         c.blocks.front().start < first->blocks.front().start)) {
      first = &c;
    }
    crowded = crowded || c.blocks.size() > CHOOSER_MOST_WAITING;
    for (const DecodedBlock& b : c.blocks) {
      held += b.bytes.size();
    }
  }
  if (first == nullptr) {
    return false;
  }
  crowded = crowded || held > CHOOSER_MOST_BYTES;
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
  std::vector<DecodedBlock> candidates;
  candidates.push_back(std::move(first->blocks.front()));
  first->blocks.pop_front();
  given_until_ = end;
  for (Channel& c : channels_) {
    while (!c.blocks.empty() && c.blocks.front().start < end) {
      candidates.push_back(std::move(c.blocks.front()));
      c.blocks.pop_front();
    }
  }
  block = choose(candidates);
  return true;
}

} // namespace vetrik
