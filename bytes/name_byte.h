// How a byte of a tape file's name, or of a block's tag, shows in text.
#pragma once

#include <cstdint>
#include <string>

namespace vetrik {

// The text one name byte adds to a rendered name: the character itself for
// 32 to 127, else its decimal value in parentheses ("(0)", "(200)").
std::string render_name_byte(std::uint8_t byte);

} // namespace vetrik
