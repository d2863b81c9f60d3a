// Shared by the Windows platform files: text inside the tool is UTF-8, the
// system's wide calls take UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace vetrik {

// text as UTF-16; empty when it is empty or no UTF-8.
std::wstring wide(std::string_view text);
// text as UTF-8; empty when it is empty or cannot be converted.
std::string narrow(std::wstring_view text);

} // namespace vetrik
