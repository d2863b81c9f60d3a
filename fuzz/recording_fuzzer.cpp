// Fuzzes the signal layer. A WAV or CSW image goes through the recording
// reader, once as it is and once with its first bytes peeked at before;
// both must give the same blocks and problem. Any other input is a
// direct recording, one bit a sample, fed through the pulse joiner in two
// pieces. Every block must hold 1 to 65535 bytes, every problem must be one
// of the reader's messages, and the end must stay the end.
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "bytes/image_input.h"
#include "bytes/tap_block.h"
#include "signal/pulse_decoder.h"
#include "signal/recording.h"

namespace vetrik {
namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

void check_block(const Bytes& block) {
  if (block.empty() || block.size() > MAX_BLOCK_SIZE) {
    fail("a block of no bytes or too many");
  }
}

bool known_problem(const std::string& p) {
  const std::string starts[] = {"unsupported WAV encoding ",
                                "unsupported CSW compression "};
  for (const std::string& s : starts) {
    if (p.rfind(s, 0) == 0 && p.size() > s.size() &&
        p.find_first_not_of("0123456789", s.size()) == std::string::npos) {
      return true;
    }
  }
  return p.empty() || p == "damaged WAV header" || p == "damaged CSW header" ||
         p == "damaged CSW data";
}

struct Outcome {
  std::vector<Bytes> blocks;
  std::string problem;
};

Outcome read_recording(std::span<const std::uint8_t> image, ImageFormat format,
                       std::size_t head) {
  MemoryInput memory(image);
  PeekableInput peekable(memory);
  peekable.peek(head);
  ImageInput& input = head > 0 ? static_cast<ImageInput&>(peekable) : memory;
  RecordingReader reader(input, format);
  Outcome out;
  for (Bytes block; reader.next_block(block);) {
    check_block(block);
    out.blocks.push_back(block);
  }
  Bytes more;
  if (reader.next_block(more)) {
    fail("a block after the end");
  }
  out.problem = reader.problem();
  if (!known_problem(out.problem)) {
    fail("an unknown problem");
  }
  return out;
}

void read_direct(std::span<const std::uint8_t> bits) {
  PulseDecoder decoder;
  PulseJoiner joiner(decoder);
  // The first piece leaves out up to 7 of its last bits.
  const std::size_t split = bits.size() / 2;
  const std::size_t first_bits = split * 8 - (split > 0 ? bits.size() % 8 : 0);
  add_direct_recording(joiner, bits.first(split), first_bits, 79);
  add_direct_recording(joiner, bits.subspan(split), (bits.size() - split) * 8,
                       79);
  joiner.finish();
  decoder.finish();
  for (DecodedBlock block; decoder.pop(block);) {
    check_block(block.bytes);
    if (block.end < block.start) {
      fail("a block that ends before it starts");
    }
  }
}

} // namespace
} // namespace vetrik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace vetrik;
  const std::span<const std::uint8_t> image(data, size);
  const ImageFormat format = image_format(image);
  if (format != ImageFormat::WAV && format != ImageFormat::CSW) {
    read_direct(image);
    return 0;
  }
  const Outcome whole = read_recording(image, format, 0);
  const Outcome split = read_recording(image, format, 1 + size % 40);
  if (whole.blocks != split.blocks || whole.problem != split.problem) {
    fail("bytes read before change the outcome");
  }
  return 0;
}
