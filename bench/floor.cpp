// The floor the benchmark measures vetrik against: the least work that can
// split a tape image. The image is mapped, and each data block's payload is
// written to a new file with one write, without any check or name search.
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: vetrik_floor IMAGE\n", stderr);
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) {
    return 1;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  if (size == 0) {
    return 0;
  }
  void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) {
    return 1;
  }
  const auto* p = static_cast<const std::uint8_t*>(map);
  std::size_t at = 0;
  int index = 0;
  // Header block (2 + 19 bytes), then the data block: length, flag,
  // payload, checksum.
  while (at + 21 + 3 <= size) {
    at += 21;
    const std::size_t length = p[at] + p[at + 1] * 0x100U;
    const std::size_t payload = length >= 2 ? length - 2 : 0;
    if (at + 3 + payload > size) {
      break;
    }
    std::string name = "f";
    name += std::to_string(index++);
    const int out = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 ||
        write(out, p + at + 3, payload) != static_cast<ssize_t>(payload)) {
      return 1;
    }
    close(out);
    at += 2 + length;
  }
  munmap(map, size);
  close(fd);
  return 0;
}
