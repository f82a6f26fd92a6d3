#include "filereader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileReader::Open(const std::string& path) {
  // Only regular files, checked before anything can block or act: opening a FIFO waits for a
  // writer, a tty may become our terminal, a tape device rewinds. The name is looked at first,
  // so no such thing is ever opened; the open itself does not block either, in case the name
  // was swapped in between, and what was opened is checked again.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

bool FileReader::ReadAt(uint64_t offset, void* dst, size_t length) const {
  if (fd_ < 0 || offset > size_ || length > size_ - offset) return false;
  auto* out = static_cast<uint8_t*>(dst);
  while (length > 0) {
    ssize_t n = ::pread(fd_, out, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool FileReader::ReadAt(uint64_t offset, std::vector<uint8_t>& dst, size_t length) const {
  if (offset > size_ || length > size_ - offset) return false;
  dst.resize(length);
  return ReadAt(offset, dst.data(), length);
}
