// Writes a sample tape bundled with the tool: make_sample_tape OUTPUT, a TZX
// image when OUTPUT ends in ".tzx", a CSW recording for ".csw", else the TAP
// image.
#include <cstdio>
#include <string_view>

#include "tests/sample_recording.h"
#include "tests/sample_tape.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_sample_tape OUTPUT.tap|OUTPUT.tzx|OUTPUT.csw\n",
               stderr);
    return 2;
  }
  const std::string_view name = argv[1];
  const auto image = name.ends_with(".tzx")   ? vetrik::tape::sample_tzx()
                     : name.ends_with(".csw") ? vetrik::tape::sample_csw()
                                              : vetrik::tape::sample_tape();
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written =
      std::fwrite(image.data(), 1, image.size(), out) == image.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
