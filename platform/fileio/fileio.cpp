#include "fileio.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>

namespace {

// The temporary file of the replace under way, for RemoveReplaceInProgress.
std::array<char, PATH_MAX> g_temp{};
volatile sig_atomic_t g_tempSet = 0;

// The file a link points to, through any chain of links; the path itself when it is no link.
// A link whose target does not exist yet gives that target, so a save creates it.
bool FollowLinks(std::string& path) {
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    if (hops == 40) return false;  // a loop
    std::string to(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
    if (n <= 0 || static_cast<size_t>(n) >= to.size()) return false;
    to.resize(static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (to[0] != '/' && slash != std::string::npos) to = path.substr(0, slash + 1) + to;
    path = to;
  }
}

bool WriteAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

FileId IdOfFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  return {true, st.st_dev, st.st_ino};
}

bool ReplaceFile(const std::string& target, std::initializer_list<ByteSpan> pieces,
                 const FileId& keep) {
  if (target.empty()) return false;
  std::string path = target;
  if (!FollowLinks(path)) return false;  // a link is followed, not replaced
  struct stat st;
  mode_t mode;
  if (::stat(path.c_str(), &st) == 0) {
    // Only a plain file that may be written is replaced; a write-protected file (even for
    // root), a folder, a device or the file to keep stays as it is.
    if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0 ||
        (keep.known && st.st_dev == keep.device && st.st_ino == keep.inode))
      return false;
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  std::string temp = folder + "/.dovrel-XXXXXX";
  // The name is known to RemoveReplaceInProgress before a signal can end the program.
  sigset_t ending, previous;
  sigemptyset(&ending);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&ending, sig);
  pthread_sigmask(SIG_BLOCK, &ending, &previous);
  int fd = ::mkstemp(temp.data());
  if (fd >= 0 && temp.size() < g_temp.size()) {
    std::memcpy(g_temp.data(), temp.c_str(), temp.size() + 1);
    g_tempSet = 1;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (fd < 0) return false;

  bool ok = true;
  for (const ByteSpan& piece : pieces)
    ok = ok && WriteAll(fd, static_cast<const uint8_t*>(piece.data), piece.length);
  ok = ok && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  g_tempSet = 0;
  return ok;
}

void RemoveReplaceInProgress() {
  if (g_tempSet) ::unlink(g_temp.data());
}
