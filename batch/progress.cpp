// Progress lines.
#include "batch/progress.h"

#include <algorithm>
#include <cstdio>

namespace vetrik {

namespace {

constexpr double REDRAW_SECONDS = 0.1;
constexpr double MEGABYTE = 1e6;

std::string duration(double seconds) {
  const auto s = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600,
                  s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

} // namespace

Progress::Progress(BatchPlatform& platform)
    : platform_(platform), terminal_(platform.error_is_terminal()) {}

void Progress::begin(std::size_t images, std::uint64_t bytes) {
  images_ = images;
  bytes_ = bytes;
  started_ = platform_.now();
  draw(true);
}

void Progress::finished(std::uint64_t bytes, bool failed) {
  ++done_;
  failed_ += failed ? 1 : 0;
  bytes_done_ += bytes;
  bytes_read_ += bytes;
}

void Progress::passed(std::uint64_t bytes) {
  ++done_;
  bytes_done_ += bytes;
}

void Progress::line(std::string_view outcome, const std::string& image,
                    const std::optional<std::string>& problem, bool skipped) {
  if (terminal_) {
    draw(true);
    return;
  }
  std::string text = std::string(skipped ? "skipped " : "") +
                     std::string(outcome) + " " + image;
  if (problem) {
    text += ": " + *problem;
  }
  platform_.write_error(text + std::string(platform_.line_end()));
}

void Progress::draw(bool now) {
  const double t = platform_.now();
  if (!terminal_ || (!now && t - drawn_at_ < REDRAW_SECONDS)) {
    return;
  }
  drawn_at_ = t;
  const double elapsed = std::max(t - started_, 1e-3);
  const double rate = static_cast<double>(bytes_read_) / MEGABYTE / elapsed;
  char text[200];
  std::snprintf(text, sizeof text, "[%zu/%zu] %zu failed, %.1f MB, %.1f MB/s",
                done_, images_, failed_,
                static_cast<double>(bytes_read_) / MEGABYTE, rate);
  std::string line = text;
  if (bytes_done_ > 0 && done_ < images_) {
    const double left = static_cast<double>(bytes_ - bytes_done_) /
                        static_cast<double>(bytes_done_) * elapsed;
    line += ", " + duration(left) + " left";
  }
  const auto width =
      static_cast<std::size_t>(std::max(10, platform_.terminal_width() - 1));
  line.resize(std::min(line.size(), width));
  const std::size_t shown = line.size();
  line.resize(std::max(shown, drawn_width_), ' ');
  drawn_width_ = shown;
  platform_.write_error("\r" + line);
}

void Progress::clear() {
  if (terminal_ && drawn_width_ > 0) {
    platform_.write_error("\r" + std::string(drawn_width_, ' ') + "\r");
    drawn_width_ = 0;
    drawn_at_ = -1;
  }
}

} // namespace vetrik
