#pragma once
// Running part of a test in a forked child: to let it die as a real process dies, or to give it a
// small file system of its own (a tmpfs in a private mount namespace, which needs root).

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "zorvatools/text/str_cat.hpp"

namespace testing_support {

// A forked child that reports a text back through a pipe.
class Child {
 public:
  // How the child ends once it has reported: `Immediate` skips the exit handlers (as a crash or
  // os._exit does), `Normal` runs them.
  enum class Exit { Immediate, Normal };

  // Forks; the child runs `body`, which returns its report, and exits with status 0.
  template <class Body>
  explicit Child(Body&& body, Exit exit = Exit::Immediate) {
    int channel[2];
    if (::pipe(channel) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(channel[0]);
      const std::string report = body();
      write_all(channel[1], report);
      ::close(channel[1]);
      if (exit == Exit::Normal) std::exit(0);
      ::_exit(0);
    }
    ::close(channel[1]);
    read_end_ = channel[0];
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      wait();
    }
    if (read_end_ >= 0) ::close(read_end_);
  }

  [[nodiscard]] pid_t pid() const { return pid_; }

  // Reads up to the next newline of the report (without it); what the child wrote before it
  // ended if it wrote no newline.
  std::string read_line() {
    std::string line;
    char ch = 0;
    while (read_end_ >= 0 && ::read(read_end_, &ch, 1) == 1 && ch != '\n') line.push_back(ch);
    return line;
  }
  // Everything left in the report, once the child has ended.
  std::string read_rest() {
    std::string rest;
    char buffer[4096];
    ssize_t got = 0;
    while (read_end_ >= 0 && (got = ::read(read_end_, buffer, sizeof buffer)) > 0) {
      rest.append(buffer, static_cast<std::size_t>(got));
    }
    return rest;
  }
  // Waits for the child; its wait status.
  int wait() {
    int status = 0;
    if (pid_ > 0) {
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
      status_ = status;
    }
    return status_;
  }

  static void write_all(int fd, const std::string& text) {
    std::size_t at = 0;
    while (at < text.size()) {
      const ssize_t written = ::write(fd, text.data() + at, text.size() - at);
      if (written <= 0) return;
      at += static_cast<std::size_t>(written);
    }
  }

 private:
  pid_t pid_ = -1;
  int read_end_ = -1;
  int status_ = 0;
};

// Runs `body(directory)` in a child whose `directory` is a fresh tmpfs of `bytes` bytes, seen by
// that child only. The child's report, "killed by signal N" when it died of a signal, or absent
// (with the reason in `why`) when this process may not make a mount namespace.
template <class Body>
std::optional<std::string> run_on_small_tmpfs(const std::filesystem::path& directory,
                                              std::size_t bytes, Body&& body, std::string& why) {
  // Whether a namespace can be made at all, asked in a child so that this process keeps its own.
  {
    Child probe([] { return ::unshare(CLONE_NEWNS) == 0 ? std::string() : std::strerror(errno); });
    why = probe.read_rest();
    probe.wait();
    if (!why.empty()) {
      why = "a private mount namespace needs root (unshare: " + why + ")";
      return std::nullopt;
    }
  }
  Child child([&]() -> std::string {
    if (::unshare(CLONE_NEWNS) != 0) return "unshare failed";
    // Mounts made here must not reach the parent's namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "private /";
    const std::string options = zorvatools::str_cat("size=", bytes, ",mode=0700");
    if (::mount("tmpfs", directory.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      return std::string("mount tmpfs: ") + std::strerror(errno);
    }
    return body(directory);
  });
  std::string report = child.read_rest();
  const int status = child.wait();
  if (WIFSIGNALED(status)) return zorvatools::str_cat("killed by signal ", WTERMSIG(status));
  return report;
}

}  // namespace testing_support
