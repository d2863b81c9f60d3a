// The block loop: check each header, copy the data block that follows it into
// a new file, and report every file and every problem.
#include "driver/extraction.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "bytes/image_input.h"
#include "bytes/little_endian.h"
#include "bytes/name_byte.h"
#include "bytes/tap_block.h"
#include "driver/command_line.h"
#include "driver/console.h"
#include "fileio/file_access.h"
#include "fileio/file_input.h"
#include "naming/output_name.h"
#include "tape/tape_view.h"

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

// Reads the TAP view and remembers whether it ever came up short; a missing
// byte reads as 0.
class ViewReader final : public ImageInput {
public:
  explicit ViewReader(TapeView& view) : view_(view) {}

  std::uint8_t byte() {
    std::uint8_t b = 0;
    read(&b, 1);
    return b;
  }

  std::uint16_t word() {
    std::uint8_t b[LENGTH_WORD_SIZE] = {0, 0};
    read(b, LENGTH_WORD_SIZE);
    return static_cast<std::uint16_t>(le16(b));
  }

  // Reads n bytes into destination; returns how many arrived.
  std::int32_t read(std::uint8_t* destination, std::int32_t n) override {
    const std::int32_t got = view_.read(destination, n);
    if (got < n) {
      ended_ = true;
    }
    return got;
  }

  // Whether a read came up short.
  bool ended() const { return ended_; }

  // As TapeView::at_end and TapeView::problem.
  bool at_end() { return view_.at_end(); }
  const std::string& problem() const { return view_.problem(); }

private:
  TapeView& view_;
  bool ended_ = false;
};

enum class Pass { NEXT, STOP };

// A header that passed its checks.
struct Header {
  std::uint8_t type = 0;
  std::string name; // rendered, before unsafe characters are replaced
};

// The start of the data block that follows a header.
struct DataStart {
  std::int32_t payload_length = 0;
  std::uint8_t flag = 0;
};

// The file a data block goes to.
struct Output {
  std::string base;      // the name chosen, counter and all
  std::string file_name; // base and extension
  bool created = false;  // open as OUTPUT; else refused, a write error
  std::int32_t payload_length = 0;
  std::uint8_t checksum = 0; // of the bytes read so far, from the flag on
};

class Extraction {
public:
  explicit Extraction(TapeView& view) : view_(view) {}

  // Walks the view to its end or to the first failed check.
  void walk() {
    while (!view_.at_end()) {
      if (extract_pair() == Pass::STOP) {
        failed_ = true;
        return;
      }
    }
    // The view ended between pairs, at a bad block of the image.
    if (!view_.problem().empty()) {
      report(view_.problem());
      failed_ = true;
    }
  }

  bool failed() const { return failed_; }

private:
  // One header block and its data block.
  Pass extract_pair() {
    const std::optional<Header> header = read_header();
    if (!header) {
      return Pass::STOP;
    }
    const std::string name = make_safe_name(header->name);
    const std::optional<DataStart> data = read_data_start(name);
    if (!data) {
      return Pass::STOP;
    }
    std::optional<Output> output =
        open_output(name, extension_for_type(header->type), *data);
    if (!output) {
      return Pass::STOP;
    }
    if (!output->created) {
      failed_ = true;
      // Step over the payload and its checksum, to the next header.
      skip_bytes(view_, static_cast<std::uint64_t>(output->payload_length) + 1,
                 chunk_);
      return view_.ended() ? stop(TRUNCATED_DATA, output->base) : Pass::NEXT;
    }
    copy(*output);
    return check(*output);
  }

  // The header block and its checks, in order; empty when the run stops.
  std::optional<Header> read_header() {
    if (view_.word() != HEADER_BLOCK_LENGTH) {
      stop(BAD_HEADER_LENGTH);
      return std::nullopt;
    }
    const std::uint8_t flag = view_.byte();
    if (flag != HEADER_FLAG) {
      stop(BAD_HEADER_FLAG);
      return std::nullopt;
    }
    // Type, name, data length, parameter 1, parameter 2, then the checksum.
    std::uint8_t body[HEADER_BLOCK_LENGTH - 1] = {};
    view_.read(body, sizeof body);
    const std::uint8_t checksum = xor_checksum({body, sizeof body - 1}, flag);
    Header header{body[0], {}};
    for (std::int32_t i = 1; i <= NAME_LENGTH; ++i) {
      header.name += render_name_byte(body[i]);
    }
    if (view_.ended()) {
      stop(TRUNCATED_HEADER);
      return std::nullopt;
    }
    if (body[sizeof body - 1] != checksum) {
      stop(WRONG_HEADER_CHECKSUM, header.name);
      return std::nullopt;
    }
    return header;
  }

  // Reads the data block's length word and flag. Empty when the run stops
  // (with name in the message): a data block cut before its payload gets no
  // file.
  std::optional<DataStart> read_data_start(const std::string& name) {
    const std::uint16_t data_block_length = view_.word();
    const std::uint8_t flag = view_.byte();
    if (view_.ended()) {
      stop(TRUNCATED_DATA, name);
      return std::nullopt;
    }
    // Lengths 0, 1 and 2 carry no payload.
    return DataStart{
        std::max(0, std::int32_t{data_block_length} - DATA_BLOCK_OVERHEAD),
        flag};
  }

  // The file for the data block, under the name claim_name finds. Empty when
  // the run stops: every counter of the name was taken.
  std::optional<Output> open_output(const std::string& name,
                                    const std::string& extension,
                                    const DataStart& data) {
    const FreeName free_name = claim_name(name, extension);
    if (free_name.status == NameStatus::EXHAUSTED) {
      stop(DOUBLE_FILE, name);
      return std::nullopt;
    }
    return Output{free_name.base_name, free_name.base_name + extension,
                  free_name.status == NameStatus::CLAIMED, data.payload_length,
                  data.flag};
  }

  // Copies the payload into the open output file and closes it.
  void copy(Output& output) {
    output.checksum ^= copy_payload(output.payload_length);
    const bool written = file_close(OUTPUT);
    if (!written) {
      report(WRITE_ERROR, output.file_name);
      failed_ = true;
    }
    if (!written || output.payload_length == 0) {
      remember_empty_output(output.file_name, history_);
    }
  }

  // Reads the data checksum and compares it.
  Pass check(const Output& output) {
    const std::uint8_t stored_data_checksum = view_.byte();
    if (view_.ended()) {
      return stop(TRUNCATED_DATA, output.base);
    }
    if (stored_data_checksum != output.checksum) {
      return stop(WRONG_DATA_CHECKSUM, output.base);
    }
    return Pass::NEXT;
  }

  // Finds a free name for name + extension and creates it as file OUTPUT,
  // and reports it: "Extracting" when it was made, "Write Error" when it was
  // refused. A request to end the run waits meanwhile: the report names
  // every file on disk.
  FreeName claim_name(const std::string& name, const std::string& extension) {
    const InterruptsDeferred deferred;
    const auto claim = [](const std::string& file_name, OpenMode mode) {
      return file_create(OUTPUT, file_name, mode);
    };
    FreeName free_name = find_free_name(name, extension, claim, &history_);
    const std::string file_name = free_name.base_name + extension;
    if (free_name.status == NameStatus::CLAIMED) {
      console_print(std::string(EXTRACTING) + file_name +
                    std::string(LINE_END));
    } else if (free_name.status == NameStatus::REFUSED) {
      report(WRITE_ERROR, file_name);
    }
    return free_name;
  }

  // Prints message followed by name, as one text.
  static void report(std::string_view message, std::string_view name = {}) {
    std::string text(message);
    text += name;
    console_print(text);
  }

  // Reports what stops the run. When the view has ended, running out of
  // bytes is what stopped it, and a bad block of the image is to blame when
  // the view names one.
  Pass stop(std::string_view message, std::string_view name = {}) {
    if (view_.ended() && !view_.problem().empty()) {
      report(view_.problem());
    } else {
      report(message, name);
    }
    return Pass::STOP;
  }

  // Copies length payload bytes from the view to the output in blocks, and
  // returns their XOR. Stops early when the view ends; only bytes that were
  // in the view are written.
  std::uint8_t copy_payload(std::int32_t length) {
    std::uint8_t sum = 0;
    while (length > 0) {
      const std::int32_t want =
          std::min(length, static_cast<std::int32_t>(chunk_.size()));
      const std::int32_t got = view_.read(chunk_.data(), want);
      sum = xor_checksum({chunk_.data(), static_cast<std::size_t>(got)}, sum);
      file_write(OUTPUT, chunk_.data(), got);
      if (got < want) {
        break;
      }
      length -= got;
    }
    return sum;
  }

  ViewReader view_;
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
    FileInput image(IMAGE);
    const std::unique_ptr<TapeView> view = open_tape_view(image);
    Extraction extraction(*view);
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
  // A report that never arrived is no success, though every file may be
  // whole: a script must not take the run for complete.
  if (!console_finish() && status == EXIT_COMPLETE) {
    status = EXIT_INCOMPLETE;
  }
  return status;
}

} // namespace vetrik
