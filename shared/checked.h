// Checked arithmetic on the 16- and 32-bit counts, sizes and positions of the program. An
// overflow or an index out of range is a run-time error: it ends the operation at once and is
// passed to the caller (the toolkit reports what reaches an event handler's edge).
#pragma once

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int number, const std::string& what) : std::runtime_error(what), number_(number) {}
  int number() const { return number_; }  // 6 = overflow, 9 = out of range

 private:
  int number_;
};

class OverflowError : public RuntimeError {
 public:
  OverflowError() : RuntimeError(6, "Overflow") {}
};

class OutOfRangeError : public RuntimeError {
 public:
  OutOfRangeError() : RuntimeError(9, "Subscript out of range") {}
};

template <typename T>
T CheckedNarrow(int64_t v) {
  if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) throw OverflowError();
  return static_cast<T>(v);
}

inline int16_t CInt(int64_t v) {
  return CheckedNarrow<int16_t>(v);
}
inline int32_t CLng(int64_t v) {
  return CheckedNarrow<int32_t>(v);
}

inline int32_t AddLng(int32_t a, int32_t b) {
  return CLng(int64_t{a} + b);
}
inline int32_t SubLng(int32_t a, int32_t b) {
  return CLng(int64_t{a} - b);
}
inline int32_t MulLng(int32_t a, int32_t b) {
  return CLng(int64_t{a} * b);
}
inline int16_t MulInt(int16_t a, int16_t b) {
  return CInt(int32_t{a} * b);
}
