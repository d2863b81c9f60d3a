// Shared by the POSIX platform files: a system call run again while a
// signal interrupts it.
#pragma once

#include <cerrno>

namespace vetrik {

// Runs a system call again for as long as a signal interrupts it.
template <typename Call> auto retry(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

} // namespace vetrik
