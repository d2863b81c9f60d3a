// Writes the seed corpus of the fuzz targets: small tapes made by the tape
// builders (TAP, TZX, PZX), command lines, naming runs and recordings. Usage:
// make_fuzz_seeds CORPUS_DIR
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/pzx_builder.h"
#include "tests/signal_builder.h"
#include "tests/tape_builder.h"
#include "tests/tzx_builder.h"

namespace {

namespace fs = std::filesystem;
using vetrik::tape::Bytes;
using vetrik::tape::cut;
using vetrik::tape::joined;
namespace tape = vetrik::tape;
namespace recording = vetrik::recording;

void write(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The extraction target reads a failure choice before the image: low 3 bits
// the kind of call, the rest which call of that kind (0 for the first).
Bytes with_failure(std::uint8_t kind, std::uint8_t call, const Bytes& image) {
  return joined({{static_cast<std::uint8_t>(kind + 8 * call)}, image});
}

void extraction_seeds(const fs::path& dir) {
  const Bytes two = joined({tape::tape_file("hello", tape::pattern(40, 1)),
                            tape::tape_file("code", tape::pattern(30, 2), 3)});
  const Bytes taken_names =
      joined({tape::tape_file("taken", tape::pattern(9, 3)),
              tape::tape_file("taken", tape::pattern(8, 4)),
              tape::tape_file("taken", {}), tape::tape_file("empty", {1, 2}),
              tape::tape_file("folder", {3}), tape::tape_file("link", {4}),
              tape::tape_file("huge", {5}, 3), tape::tape_file("fifo", {6}),
              tape::tape_file("other", {7}), tape::tape_file("fresh", {8})});
  const Bytes odd_names =
      joined({tape::tape_file("a/b:c*?<>|", {6}, 200),
              tape::tape_file(std::string("\0\x01\xff\x7f\"\\..", 8), {7}, 1)});
  Bytes short_blocks = tape::header_block("short");
  for (std::uint8_t length : {0, 1, 2}) {
    tape::append(short_blocks, {length, 0, 0xFF, 0xFF});
    tape::append(short_blocks, tape::header_block("short"));
  }
  short_blocks.resize(short_blocks.size() - tape::HEADER_SIZE);
  const Bytes big = joined({tape::tape_file("big", tape::pattern(5000, 5)),
                            tape::tape_file("after", tape::pattern(20, 6))});
  Bytes bad_header = two;
  bad_header[tape::HEADER_CHECKSUM_OFFSET] ^= 1;
  Bytes bad_data = two;
  bad_data.back() ^= 1;
  Bytes not_header = two;
  not_header[tape::HEADER_FLAG_OFFSET] = 1;

  write(dir / "two_files", with_failure(0, 0, two));
  write(dir / "taken_names", with_failure(0, 0, taken_names));
  write(dir / "same_names_numbered",
        with_failure(
            0, 0,
            joined({tape::tape_file("same", {1}), tape::tape_file("same", {2}),
                    tape::tape_file("same", {3})})));
  write(dir / "odd_names", with_failure(0, 0, odd_names));
  write(dir / "short_blocks", with_failure(0, 0, short_blocks));
  write(dir / "several_buffers", with_failure(0, 0, big));
  write(dir / "truncated_data",
        with_failure(0, 0, Bytes(big.begin(), big.begin() + 3000)));
  write(dir / "truncated_header", with_failure(0, 0, joined({two, {19}})));
  write(dir / "bad_header_checksum", with_failure(0, 0, bad_header));
  write(dir / "bad_data_checksum", with_failure(0, 0, bad_data));
  write(dir / "not_a_header", with_failure(0, 0, not_header));
  write(dir / "empty", with_failure(0, 0, {}));
  write(dir / "write_fails", with_failure(1, 1, big));
  write(dir / "write_short", with_failure(2, 0, two));
  write(dir / "read_fails", with_failure(3, 2, big));
  write(dir / "close_fails", with_failure(4, 0, two));
  write(dir / "create_fails", with_failure(5, 1, two));
  write(dir / "image_unbuffered", with_failure(6, 0, big));
  write(dir / "all_unbuffered", with_failure(7, 0, big));
}

// The formats target reads the format before the image (even: TZX, odd:
// PZX) and puts the signature back itself.
Bytes as_input(const Bytes& image) {
  const bool tzx = image.size() > 0 && image[0] == 'Z';
  Bytes out{static_cast<std::uint8_t>(tzx ? 0 : 1)};
  out.insert(out.end(), image.begin() + (tzx ? 8 : 4), image.end());
  return out;
}

void formats_seeds(const fs::path& dir) {
  using tape::TzxData;
  const Bytes tap =
      joined({tape::tape_file("hello", tape::pattern(40, 1)),
              tape::tape_file("taken", tape::pattern(30, 2), 3),
              tape::tape_file("folder", {}), tape::tape_file("odd", {9}, 1)});
  Bytes tzx_between, pzx_between;
  for (const Bytes& block : tape::tzx_byteless_blocks()) {
    tape::append(tzx_between, block);
  }
  for (const Bytes& block : tape::pzx_byteless_blocks()) {
    tape::append(pzx_between, block);
  }
  const std::vector<TzxData> every_kind = {TzxData::STANDARD, TzxData::TURBO,
                                           TzxData::PURE, TzxData::GENERALIZED};
  const Bytes tzx = tape::tzx_from_tap(tap, every_kind);
  const Bytes pzx = tape::pzx_from_tap(tap);
  tape::Generalized three_symbols;
  three_symbols.data_symbols = 16;
  three_symbols.data_alphabet = 3;
  three_symbols.stream = {1, 2};
  Bytes damaged_sound = tape::tzx_generalized(tape::pattern(20, 4));
  tape::set_dword(damaged_sound, tape::GENERALIZED_LENGTH_AT, 40);
  // A TAP stream inside one data block, so that the view ends in a payload.
  Bytes inner = tape::tape_file("inner", tape::pattern(600, 5));
  inner.resize(300);

  write(dir / "tzx_every_block",
        as_input(tape::tzx_from_tap(tap, every_kind, tzx_between)));
  write(dir / "pzx_every_block",
        as_input(tape::pzx_from_tap(tap, pzx_between)));
  write(dir / "tzx_glued", as_input(joined({tzx, tzx})));
  write(dir / "tzx_version", as_input(tape::tzx_header(2, 0)));
  write(dir / "tzx_short_header", as_input(cut(tape::tzx_header(), 9)));
  write(dir / "tzx_recording",
        as_input(joined({tzx, {0x15, 1, 0, 0, 0, 8, 2, 0, 0, 5, 6}})));
  // A short tape recorded in each signal block kind, its tones cut short so
  // that the seeds stay small.
  recording::SaveOptions short_tones;
  short_tones.header_pilot = short_tones.data_pilot = 300;
  short_tones.gap = 0.01;
  short_tones.first_high = false;
  const recording::Signal signal = recording::save_signal(
      tape::tape_file("rec", tape::pattern(4, 6)), short_tones);
  const recording::Bits bits = recording::direct_samples(signal, 300);
  bool high = false;
  write(
      dir / "tzx_direct_recording",
      as_input(joined({tape::tzx_header(),
                       tape::tzx_direct_recording(bits.bytes, bits.count, 300),
                       tape::tzx_standard({1, 2, 3})})));
  write(dir / "tzx_csw_recording",
        as_input(joined(
            {tape::tzx_header(),
             tape::tzx_csw_recording(
                 recording::csw_data(signal, 11025, true, &high), 11025, 2)})));
  const recording::Levels levels = recording::levels(signal);
  write(dir / "pzx_pulses",
        as_input(joined({tape::pzx_header(),
                         tape::pzx_pulses(levels.t_states, levels.first_high),
                         tape::pzx_data(tape::Bytes{1, 2, 3})})));
  write(dir / "tzx_csw",
        as_input(joined({tzx, tape::tzx_block_with_length(0x18, {1, 2, 3})})));
  write(dir / "tzx_three_symbols",
        as_input(joined({tzx, tape::tzx_generalized(three_symbols)})));
  write(dir / "tzx_damaged_generalized",
        as_input(joined({tzx, damaged_sound})));
  write(dir / "tzx_cut_in_data", as_input(cut(tzx, tzx.size() - 5)));
  write(dir / "tzx_stream_in_a_block",
        as_input(joined({tape::tzx_header(), tape::tzx_standard(inner),
                         tape::tzx_block_with_length(0x18, {})})));
  write(dir / "pzx_version", as_input(tape::pzx_header(2, 0)));
  write(dir / "pzx_short_header", as_input(tape::pzx_block("PZXT", {1})));
  write(dir / "pzx_cut_tag", as_input(joined({pzx, {'D', 'A'}})));
  write(dir / "pzx_damaged_data",
        as_input(joined({pzx, tape::pzx_block("DATA", {8, 0, 0, 0})})));
  write(dir / "pzx_cut_in_data", as_input(cut(pzx, pzx.size() - 5)));
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

void command_line_seeds(const fs::path& dir) {
  write(dir / "plain", text("vetrik a.tap"));
  write(dir / "quoted", text("  \"C:\\my tapes\\a.tap\"  x  "));
  write(dir / "unclosed", text("p \"a  b "));
  write(dir / "inner_quote", text("p a\"b c\"\"\""));
}

// Naming input: 10 name bytes, a type, then (operation, counter) pairs:
// operation % 8 adds a file with data, an empty file, a directory, a link, a
// FIFO, another user's empty file, or a file that appears when created (0 to
// 6), or searches and creates, leaving the file empty for an even counter
// (7).
void naming_seeds(const fs::path& dir) {
  write(dir / "taken_then_numbered",
        joined({text("taken     "), {0}, {0, 0, 3, 1, 2, 2, 7, 1, 7, 0,
                                          7, 1, 4, 4, 6, 5, 7, 0, 7, 0}}));
  write(dir / "odd_name",
        joined({text("a/b:\x01\xff\x7f\"<>"),
                {200},
                {5, 0, 7, 0, 0, 0, 7, 1, 1, 2, 7, 0, 6, 3, 7, 1, 7, 0}}));
  write(dir / "leftover", joined({text("left      "),
                                  {3},
                                  {1, 0, 7, 0, 7, 0, 6, 0, 7, 1, 1, 9, 7, 0}}));
}

// Recordings of a small tape with short pilots, so that they stay small:
// WAV in several encodings, CSW in each variant (at 350 kHz a CSW byte is
// about a tenth of a half-wave's T-states), and a direct recording.
void recording_seeds(const fs::path& dir) {
  namespace rec = vetrik::recording;
  const Bytes tape = tape::tape_file("a", {1, 2});
  rec::SaveOptions save;
  save.header_pilot = 300;
  save.data_pilot = 260;
  save.gap = 0.02;
  const rec::Signal signal = rec::save_signal(tape, save);
  const rec::Samples samples = rec::render(signal, 8000);
  using vetrik::WavEncoding;
  write(dir / "wav_pcm8", rec::wav({samples}, 8000, WavEncoding::PCM_8));
  write(dir / "wav_mu_law_extensible",
        rec::wav({samples}, 8000, WavEncoding::MU_LAW, {true, true}));
  rec::Samples quiet = samples;
  rec::scale(quiet, -20);
  write(dir / "wav_stereo_quiet",
        rec::wav({rec::Samples(samples.size(), 0.0F), quiet}, 8000,
                 WavEncoding::PCM_8));
  write(dir / "csw_v1", rec::csw(signal, 44100, rec::CswVariant::V1_RLE));
  write(dir / "csw_v2_rle", rec::csw(signal, 350000, rec::CswVariant::V2_RLE));
  write(dir / "csw_v2_z_rle",
        rec::csw(signal, 350000, rec::CswVariant::V2_Z_RLE));
  // One bit a sample, 79 T-states each.
  Bytes bits;
  int level = 1;
  std::size_t n = 0;
  for (const rec::Piece& p : signal) {
    level = p.level != 0 ? p.level : level;
    for (long i = std::lround(p.t_states / 79); i > 0; --i, ++n) {
      if (n % 8 == 0) {
        bits.push_back(0);
      }
      bits.back() |= static_cast<std::uint8_t>(level > 0 ? 0x80 >> n % 8 : 0);
    }
  }
  write(dir / "direct", bits);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  const fs::path root = argv[1];
  extraction_seeds(root / "extraction");
  formats_seeds(root / "formats");
  command_line_seeds(root / "command_line");
  naming_seeds(root / "naming");
  recording_seeds(root / "recording");
  return 0;
}
