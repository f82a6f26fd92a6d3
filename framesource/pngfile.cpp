#include "pngfile.h"

#include <png.h>

#include <csetjmp>
#include <new>

namespace {

void Append(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  bool full = false;
  try {
    out->insert(out->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    full = true;
  }
  if (full) png_error(png, "out of memory");  // a long jump: outside the handler
}

void Flush(png_structp) {}

}  // namespace

bool EncodePng(int32_t width, int32_t height, const uint8_t* pixels, int64_t stride,
               std::vector<uint8_t>* out) {
  out->clear();
  if (width <= 0 || height <= 0 || !pixels || stride < int64_t{width} * 3) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  try {
    rows.resize(static_cast<size_t>(height));
  } catch (const std::bad_alloc&) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  // libpng reports its errors by a long jump back here: nothing above holds a destructor that
  // must run between, and the vectors are released below in either case.
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    out->clear();
    return false;
  }
  png_set_write_fn(png, out, Append, Flush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);                     // the DIB's byte order
  for (int32_t y = 0; y < height; ++y)  // top row first, as PNG stores them
    rows[static_cast<size_t>(y)] = const_cast<png_bytep>(pixels + (height - 1 - y) * stride);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}
