// Runs one program and reports its wall time and peak memory, for the
// benchmark. It is kept tiny and linked statically, because a child's peak
// memory includes whatever its parent held when it forked.
//
//   vetrik_launch REPORT DIR PROGRAM [ARG...]
// writes "NANOSECONDS PEAK_KIB STATUS" to REPORT.
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 4) {
    return 2;
  }
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_WRONLY);
    if (chdir(argv[2]) != 0 || null_fd < 0 || dup2(null_fd, 1) < 0) {
      _exit(127);
    }
    execv(argv[3], argv + 3);
    _exit(127);
  }
  int raw = 0;
  rusage usage{};
  wait4(pid, &raw, 0, &usage);
  clock_gettime(CLOCK_MONOTONIC, &end);
  const long long ns = (end.tv_sec - start.tv_sec) * 1000000000LL +
                       (end.tv_nsec - start.tv_nsec);
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  std::FILE* report = std::fopen(argv[1], "w");
  if (report == nullptr) {
    return 1;
  }
  std::fprintf(report, "%lld %ld %d\n", ns, usage.ru_maxrss, status);
  return std::fclose(report) == 0 ? 0 : 1;
}
