// Runs the tool with fork and execve, standard output on a pipe.
#include "tests/run_tool.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace vetrik::tape {

const bool CAN_LIMIT_FILE_SIZE = true;

Result run_tool(const std::filesystem::path& dir,
                const std::vector<std::string>& args, const Launch& launch) {
  std::vector<char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const std::string cwd = dir.string();
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (launch.out == Stdout::BROKEN_PIPE) {
    ::close(pipe_fds[0]); // every write to the pipe now fails with EPIPE
    pipe_fds[0] = -1;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    if (launch.out == Stdout::CLOSED) {
      ::close(STDIN_FILENO);
      ::close(STDOUT_FILENO);
    } else if (launch.out == Stdout::REFUSING) {
      ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO);
    } else {
      ::dup2(pipe_fds[1], STDOUT_FILENO);
    }
    if (launch.file_size_limit != 0) {
      const rlimit limit{launch.file_size_limit, launch.file_size_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      // Left at its default, the signal would end the run: the tool must
      // see to it itself.
      ::signal(SIGXFSZ, SIG_DFL);
    }
    if (launch.time_limit != 0) {
      ::alarm(launch.time_limit); // outlives execve
    }
    if (::chdir(cwd.c_str()) == 0) {
      constexpr uid_t NOBODY = 65534;
      if (launch.unprivileged && ::geteuid() == 0 &&
          (::setgroups(0, nullptr) != 0 || ::setgid(NOBODY) != 0 ||
           ::setuid(NOBODY) != 0)) {
        ::_exit(UNPRIVILEGED_FAILED);
      }
      ::execve(VETRIK_BINARY, argv.data(), environ);
    }
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  if (launch.started) {
    launch.started(pid);
  }
  Result result;
  if (pipe_fds[0] >= 0) {
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) {
      result.out.append(buffer, static_cast<std::size_t>(n));
      if (launch.output) {
        launch.output({buffer, static_cast<std::size_t>(n)});
      }
    }
    ::close(pipe_fds[0]);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::filesystem::path make_temp_dir() {
  std::string name =
      std::filesystem::temp_directory_path() / "vetrik_e2e_XXXXXX";
  if (::mkdtemp(name.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  return name;
}

} // namespace vetrik::tape
