// The block loop: check each header, copy the data block that follows it into
// a new file, and report every file and every problem.
#include "driver/extraction.h"

#include <algorithm>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/console.h"
#include "driver/tape_format.h"
#include "fileio/file_access.h"
#include "naming/output_name.h"

namespace vetrik {

namespace {

inline constexpr std::int32_t IMAGE = 0;
inline constexpr std::int32_t OUTPUT = 1;

inline constexpr std::string_view USAGE = "usage: vetrik filename.tap";
inline constexpr std::string_view CANNOT_READ = "cannot read ";
inline constexpr std::string_view BAD_HEADER_LENGTH = "Not a header";
inline constexpr std::string_view BAD_HEADER_FLAG = "not a header";
inline constexpr std::string_view TRUNCATED_HEADER = "truncated header";
inline constexpr std::string_view WRONG_HEADER_CHECKSUM =
    "wrong header checksum for ";
inline constexpr std::string_view TRUNCATED_DATA = "truncated data for ";
inline constexpr std::string_view DOUBLE_FILE = "double file ";
inline constexpr std::string_view WRITE_ERROR = "Write Error ";
inline constexpr std::string_view EXTRACTING = "Extracting ";
inline constexpr std::string_view LINE_END = "\r\n";
inline constexpr std::string_view WRONG_DATA_CHECKSUM =
    "wrong data checksum for ";
inline constexpr std::string_view DONE = "done!";

// Reads the image and remembers whether it ever came up short; a missing
// byte reads as 0.
class ImageReader {
public:
  std::uint8_t byte() {
    std::uint8_t b = 0;
    read(&b, 1);
    return b;
  }

  std::uint16_t word() {
    std::uint8_t b[2] = {0, 0};
    read(b, 2);
    return static_cast<std::uint16_t>(b[0] + b[1] * 0x100);
  }

  // Reads n bytes into destination; returns how many arrived.
  std::int32_t read(std::uint8_t* destination, std::int32_t n) {
    const std::int32_t got = file_read(IMAGE, destination, n);
    if (got < n) {
      ended_ = true;
    }
    return got;
  }

  bool ended() const { return ended_; }

private:
  bool ended_ = false;
};

enum class Pass { NEXT, STOP };

class Extraction {
public:
  // Walks the open image to its end or to the first failed check.
  void walk() {
    while (file_eof(IMAGE) == 0) {
      if (extract_pair() == Pass::STOP) {
        failed_ = true;
        return;
      }
    }
  }

  bool failed() const { return failed_; }

private:
  // One header block and its data block.
  Pass extract_pair() {
    if (image_.word() != HEADER_BLOCK_LENGTH) {
      console_print(BAD_HEADER_LENGTH);
      return Pass::STOP;
    }
    std::uint8_t flag = image_.byte();
    std::uint8_t checksum = flag;
    if (flag != HEADER_FLAG) {
      console_print(BAD_HEADER_FLAG);
      return Pass::STOP;
    }
    const std::uint8_t type = image_.byte();
    checksum ^= type;
    std::string name;
    for (std::int32_t i = 0; i < NAME_LENGTH; ++i) {
      const std::uint8_t b = image_.byte();
      checksum ^= b;
      name += render_name_byte(b);
    }
    // Data length, parameter 1 and parameter 2 count only in the checksum.
    for (int i = 0; i < 3; ++i) {
      checksum = checksum_fold_word(checksum, image_.word());
    }
    const std::uint8_t stored_header_checksum = image_.byte();
    if (image_.ended()) {
      console_print(TRUNCATED_HEADER);
      return Pass::STOP;
    }
    if (stored_header_checksum != checksum) {
      console_print(std::string(WRONG_HEADER_CHECKSUM) + name);
      return Pass::STOP;
    }

    const std::uint16_t data_block_length = image_.word();
    checksum = image_.byte(); // the data checksum starts from the flag byte
    name = make_safe_name(name);
    const std::string extension = extension_for_type(type);
    if (image_.ended()) {
      console_print(std::string(TRUNCATED_DATA) + name);
      return Pass::STOP;
    }
    // Lengths 0, 1 and 2 carry no payload.
    const std::int32_t payload_length =
        std::max(0, std::int32_t{data_block_length} - DATA_BLOCK_OVERHEAD);
    const FreeName free_name = claim_output(name, extension);
    name = free_name.base_name;
    const std::string file_name = name + extension;
    if (free_name.status == NameStatus::EXHAUSTED) {
      console_print(std::string(DOUBLE_FILE) + name);
      return Pass::STOP;
    }
    if (free_name.status == NameStatus::REFUSED) {
      console_print(std::string(WRITE_ERROR) + file_name);
      failed_ = true;
      // Step over the payload and its checksum, to the next header.
      skip(payload_length + 1);
      if (image_.ended()) {
        console_print(std::string(TRUNCATED_DATA) + name);
        return Pass::STOP;
      }
      return Pass::NEXT;
    }
    checksum ^= copy_payload(payload_length);
    const bool written = file_close(OUTPUT);
    if (!written) {
      console_print(std::string(WRITE_ERROR) + file_name);
      failed_ = true;
    }
    if (!written || payload_length == 0) {
      remember_empty_output(file_name, history_);
    }
    const std::uint8_t stored_data_checksum = image_.byte();
    if (image_.ended()) {
      console_print(std::string(TRUNCATED_DATA) + name);
      return Pass::STOP;
    }
    if (stored_data_checksum != checksum) {
      console_print(std::string(WRONG_DATA_CHECKSUM) + name);
      return Pass::STOP;
    }
    return Pass::NEXT;
  }

  // Finds the output's name and creates it as file OUTPUT, and reports the
  // file made. A request to end the run waits meanwhile: the report names
  // every file on disk.
  FreeName claim_output(const std::string& name, const std::string& extension) {
    const InterruptsDeferred deferred;
    const auto claim = [](const std::string& file_name, OpenMode mode) {
      return file_create(OUTPUT, file_name, mode);
    };
    FreeName free_name = find_free_name(name, extension, claim, &history_);
    if (free_name.status == NameStatus::CLAIMED) {
      console_print(std::string(EXTRACTING) + free_name.base_name + extension +
                    std::string(LINE_END));
    }
    return free_name;
  }

  // Copies length payload bytes from the image to the output in blocks, and
  // returns their XOR. Stops early when the image ends; only bytes that were
  // in the image are written.
  std::uint8_t copy_payload(std::int32_t length) {
    std::uint8_t sum = 0;
    while (length > 0) {
      const std::int32_t want =
          std::min(length, static_cast<std::int32_t>(chunk_.size()));
      const std::int32_t got = image_.read(chunk_.data(), want);
      for (std::int32_t i = 0; i < got; ++i) {
        sum ^= chunk_[static_cast<std::size_t>(i)];
      }
      file_write(OUTPUT, chunk_.data(), got);
      if (got < want) {
        break;
      }
      length -= got;
    }
    return sum;
  }

  void skip(std::int32_t length) {
    while (length > 0 && !image_.ended()) {
      const std::int32_t want =
          std::min(length, static_cast<std::int32_t>(chunk_.size()));
      length -= image_.read(chunk_.data(), want);
    }
  }

  ImageReader image_;
  NameHistory history_;
  // Room for the largest payload, so that one is copied in a single pass.
  std::vector<std::uint8_t> chunk_ =
      std::vector<std::uint8_t>(static_cast<std::size_t>(MAX_PAYLOAD));
  bool failed_ = false;
};

} // namespace

int run_extraction() {
  file_system_init();
  int status = EXIT_COMPLETE;
  if (parameter_count() == 0) {
    console_print(USAGE);
    status = EXIT_USAGE;
  } else if (const std::string image_path = parameter_text(0);
             file_open_read(IMAGE, image_path) == 0) {
    console_print(std::string(CANNOT_READ) + image_path);
    status = EXIT_INCOMPLETE;
  } else {
    Extraction extraction;
    extraction.walk();
    // A read error looks like the end of the image, but the image was not
    // read to its end: whatever followed is missing.
    const bool unread_rest = file_read_failed(IMAGE);
    file_close(IMAGE);
    if (unread_rest) {
      console_print(std::string(CANNOT_READ) + image_path);
    }
    console_print(DONE);
    status =
        extraction.failed() || unread_rest ? EXIT_INCOMPLETE : EXIT_COMPLETE;
  }
  file_close_all();
  console_finish();
  return status;
}

} // namespace vetrik
