#pragma once
// Fixtures for tests on real files: a temporary folder that removes itself,
// a forked child that reports back one line of text, and a way for such a
// child to become an unprivileged user.

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "qocore/base/plat/Exception.h"

namespace yarl_test {

// A fresh folder (mode 0700) under `base`, removed with its contents at the
// end.  Its path is canonical: no link on the way.
class TempDir {
 public:
  explicit TempDir(const char* base = nullptr) {
    if (!base) base = std::getenv("TMPDIR");
    if (!base || !*base) base = "/tmp";
    std::string pattern = std::string(base) + "/yarl-files-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp: " + std::string(strerror(errno)));
    char* canonical = realpath(pattern.c_str(), nullptr);
    path_ = canonical ? canonical : pattern;
    free(canonical);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Writes a file below the folder and returns its path.
  std::string write(const std::string& name, const std::string& contents, mode_t mode = 0644) const {
    std::string file = *this / name;
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) throw std::runtime_error("open " + file + ": " + strerror(errno));
    bool ok = ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    ::close(fd);
    if (!ok) throw std::runtime_error("write " + file);
    ::chmod(file.c_str(), mode);
    return file;
  }

 private:
  std::string path_;
};

// Reads a whole file, or "<missing>".
inline std::string readFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "<missing>";
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, n);
  ::close(fd);
  return out;
}

// The text of a caught exception as the checks below compare it.
inline std::string describe(const plat::Exception& e) { return std::string("threw: ") + e.str(); }

// Runs fn in a forked child and returns the text it returned.  A platform
// exception escaping fn is reported through describe(); a child that dies
// any other way is reported as such.
inline std::string inChild(const std::function<std::string()>& fn) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return "pipe failed";
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    std::string result;
    try {
      result = fn();
    } catch (const plat::Exception& e) {
      result = describe(e);
    } catch (const std::exception& e) {
      result = std::string("std exception: ") + e.what();
    }
    const char* p = result.data();
    size_t left = result.size();
    while (left > 0) {
      ssize_t n = ::write(fds[1], p, left);
      if (n <= 0) _exit(3);
      p += n;
      left -= n;
    }
    _exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) out.append(buf, n);
  ::close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    out += " [child ended with status " + std::to_string(status) + "]";
  return out;
}

struct User {
  uid_t uid;
  gid_t gid;
};

// The unprivileged account every Debian system has.
inline User nobody() {
  const passwd* pw = getpwnam("nobody");
  if (!pw) throw std::runtime_error("no user nobody");
  return {pw->pw_uid, pw->pw_gid};
}

// In a forked child: give up root for good.  Supplementary groups go
// first, then the group, then the user (after which the others are no
// longer permitted).
inline void becomeUser(const User& user) {
  if (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0)
    throw std::runtime_error(std::string("dropping privileges: ") + strerror(errno));
}

}  // namespace yarl_test
