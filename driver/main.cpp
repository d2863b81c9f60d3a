// vetrik IMAGE: unpacks a tape image (TAP, TZX or PZX) or a recording of a
// tape (WAV or CSW) into the current directory.
#include "driver/command_line.h"
#include "driver/extraction.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  vetrik::prepare_process();
  vetrik::command_line_from_system(argc, argv);
  return vetrik::run_extraction();
}
