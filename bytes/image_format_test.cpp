#include "bytes/image_format.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace vetrik {
namespace {

TEST(ImageFormat, IsToldByTheFirstBytes) {
  using namespace std::string_view_literals;
  const struct {
    std::string_view first_bytes;
    ImageFormat format;
  } cases[] = {
      {"RIFF\x10\0\0\0WAVEfmt "sv, ImageFormat::WAV},
      {"RIFF\x10\0\0\0WAVE"sv, ImageFormat::WAV},
      {"RIFF\x10\0\0\0AVI LIST"sv, ImageFormat::TAP},
      {"RIFF\x10\0\0\0WAV"sv, ImageFormat::TAP},
      {"Compressed Square Wave\x1A\x02"sv, ImageFormat::CSW},
      {"Compressed Square Wave\x1A"sv, ImageFormat::CSW},
      {"Compressed Square Wave!"sv, ImageFormat::TAP},
      {"ZXTape!\x1A\x01\x14"sv, ImageFormat::TZX},
      {"ZXTape!\x1A"sv, ImageFormat::TZX},
      {"ZXTape!"sv, ImageFormat::TAP},
      {"PZXT\x02\0\0\0"sv, ImageFormat::PZX},
      {"PZX"sv, ImageFormat::TAP},
      {"\x13\0\0\0"sv, ImageFormat::TAP},
      {""sv, ImageFormat::TAP},
  };
  for (const auto& c : cases) {
    const std::vector<std::uint8_t> bytes(c.first_bytes.begin(),
                                          c.first_bytes.end());
    EXPECT_EQ(image_format(bytes), c.format) << c.first_bytes;
  }
}

} // namespace
} // namespace vetrik
