// A picture of a recorded tape for whoever rescues it, as an SVG timeline:
// the signal's level, where each tone and block lies, the blocks that fail
// their checksum, and the gaps between them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "bytes/image_format.h"

namespace vetrik {

class ImageInput;

// The picture's layout, for whoever reads it back: the timeline runs in x
// from MAP_LEFT, the signal's start, to MAP_LEFT + MAP_TIMELINE, its end;
// the blocks lie in the rows from MAP_BLOCKS_TOP, MAP_BLOCKS_HEIGHT of them.
inline constexpr int MAP_WIDTH = 1600;
inline constexpr int MAP_HEIGHT = 350;
inline constexpr int MAP_LEFT = 60;
inline constexpr int MAP_TIMELINE = 1510;
inline constexpr int MAP_BLOCKS_TOP = 210;
inline constexpr int MAP_BLOCKS_HEIGHT = 36;

// Blocks drawn at most; a note tells how many more the recording held.
inline constexpr std::size_t MAP_MOST_BLOCKS = 2000;

// The words for a block whose bytes fail their checksum, and for one the
// recording's end cut short.
inline constexpr std::string_view MAP_WRONG_CHECKSUM = "wrong checksum";
inline constexpr std::string_view MAP_CUT_SHORT = "cut short, wrong checksum";

// Draws the recording in input (from its first byte, of format) as an SVG
// timeline headed by title. Returns false, svg untouched, when the image
// holds no recording: a TAP, or a TZX or PZX without signal blocks (pulses,
// tones, direct recordings, CSW blocks). A recording that is damaged or
// holds no block is drawn, with its problem.
bool draw_recording_map(ImageInput& input, ImageFormat format,
                        std::string_view title, std::string& svg);

} // namespace vetrik
