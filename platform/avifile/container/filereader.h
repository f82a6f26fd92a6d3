// Positioned reads from a file of any size (64-bit offsets), shared by the parser and the
// decoders of one opened AVI file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  bool Open(const std::string& path);  // regular files only
  uint64_t size() const { return size_; }
  // Reads exactly length bytes at offset; false (and nothing promised in dst) otherwise.
  bool ReadAt(uint64_t offset, void* dst, size_t length) const;
  bool ReadAt(uint64_t offset, std::vector<uint8_t>& dst, size_t length) const;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

inline uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint64_t Le64(const uint8_t* p) {
  return Le32(p) | uint64_t{Le32(p + 4)} << 32;
}
