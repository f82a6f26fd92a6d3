#include "streamformat.h"

#include <algorithm>
#include <cstring>

#include "filereader.h"  // Le32

std::optional<StreamFormat> ReadStreamFormat(const std::vector<uint8_t>& f) {
  if (f.size() < 40) return std::nullopt;
  StreamFormat out;
  BITMAPINFOHEADER& h = out.header;
  std::memcpy(&h, f.data(), sizeof h);  // little-endian on disk and here
  out.width = h.biWidth;
  // -INT32_MIN does not fit: such a height is out of any bounds anyway.
  out.height = h.biHeight < 0 ? (h.biHeight == INT32_MIN ? INT32_MAX : -h.biHeight) : h.biHeight;
  // A header's size counts the codec data that follows its 40 bytes; a colour table follows
  // the header. Writers that leave codec data out of the size put it after the colour table.
  const size_t headerEnd = std::clamp<size_t>(h.biSize, 40, f.size());
  out.codecDataFrom = 40;
  out.codecDataTo = f.size();
  if (h.biBitCount >= 1 && h.biBitCount <= 8) {
    // A short or missing colour table leaves the remaining entries black.
    const size_t entries = h.biClrUsed ? std::min<uint32_t>(h.biClrUsed, 256) : 1u << h.biBitCount;
    const size_t present = std::min(entries, (f.size() - headerEnd) / 4);
    auto palette = std::make_shared<Palette>();
    palette->fill(0);
    for (size_t i = 0; i < present; ++i)
      (*palette)[i] = 0xFF000000u | (Le32(f.data() + headerEnd + 4 * i) & 0xFFFFFF);
    out.palette = std::move(palette);
    if (headerEnd > 40)
      out.codecDataTo = headerEnd;
    else
      out.codecDataFrom = headerEnd + 4 * present;
  }
  return out;
}
