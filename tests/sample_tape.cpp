// The sample tape: a little of everything the naming rules do.
#include "tests/sample_tape.h"

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

} // namespace vetrik::tape
