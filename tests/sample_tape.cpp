// The sample tape: a little of everything the naming rules do.
#include "tests/sample_tape.h"

#include <string_view>

#include "tests/tzx_builder.h"

namespace vetrik::tape {

Bytes sample_tape() {
  // 10 PRINT "HELLO": line number (big-endian), length, PRINT, text, ENTER.
  const Bytes hello{0x00, 0x0A, 0x09, 0x00, 0xF5, '"', 'H',
                    'E',  'L',  'L',  'O',  '"',  0x0D};
  // 20 PRINT "GOODBYE"
  const Bytes goodbye{0x00, 0x14, 0x0B, 0x00, 0xF5, '"', 'G', 'O',
                      'O',  'D',  'B',  'Y',  'E',  '"', 0x0D};
  Bytes image = tape_file("hello", hello, 0);
  append(image, tape_file("screen", pattern(6912, 7), 3));
  append(image, tape_file("a/b:c", pattern(25, 3), 1));
  append(image, tape_file("hello", goodbye, 0));
  return image;
}

namespace {

// A block of id holding text behind a one-byte length.
Bytes text_block(std::uint8_t id, std::string_view text) {
  Bytes out{id, static_cast<std::uint8_t>(text.size())};
  for (char c : text) {
    out.push_back(static_cast<std::uint8_t>(c));
  }
  return out;
}

} // namespace

Bytes sample_tzx() {
  Bytes image = tzx_header();
  append(image, text_block(0x30, "vetrik sample tape"));
  // Archive information: one entry, title (0).
  const std::string_view title = "Sample";
  append(image, {0x32, static_cast<std::uint8_t>(3 + title.size()), 0, 1});
  append(image, text_block(0, title));
  append(image, text_block(0x21, "programs"));
  const Bytes pause{0x20, 0xE8, 0x03}; // 1000 ms
  Bytes files =
      tzx_from_tap(sample_tape(),
                   {TzxData::STANDARD, TzxData::STANDARD, TzxData::TURBO,
                    TzxData::TURBO, TzxData::GENERALIZED, TzxData::GENERALIZED,
                    TzxData::PURE, TzxData::PURE},
                   pause);
  files.erase(files.begin(), files.begin() + tzx_header().size());
  append(image, files);
  append(image, Bytes{0x22});
  return image;
}

} // namespace vetrik::tape
