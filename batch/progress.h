// The batch's progress on standard error: on a terminal one line drawn again
// in place (images done of all, failures, megabytes read, rate, time left);
// otherwise one plain line for each image finished.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/batch_platform.h"

namespace vetrik {

class Progress {
public:
  explicit Progress(BatchPlatform& platform);

  void begin(std::size_t images, std::uint64_t bytes);
  // One image finished, of bytes, with an outcome other than ok or not.
  void finished(std::uint64_t bytes, bool failed);
  // One image left to another batch or unfinished: no longer to do.
  void passed(std::uint64_t bytes);
  // Tells of an image finished (or skipped as done before): a line of its
  // own when standard error is no terminal.
  void line(std::string_view outcome, const std::string& image,
            const std::optional<std::string>& problem, bool skipped);
  // Draws the line again on a terminal, at most ten times a second unless
  // now.
  void draw(bool now);
  // Takes the line away, for other text to follow.
  void clear();

private:
  BatchPlatform& platform_;
  bool terminal_;
  std::size_t images_ = 0, done_ = 0, failed_ = 0;
  std::uint64_t bytes_ = 0, bytes_done_ = 0, bytes_read_ = 0;
  double started_ = 0, drawn_at_ = -1;
  std::size_t drawn_width_ = 0; // of the line on the terminal, 0 for none
};

} // namespace vetrik
