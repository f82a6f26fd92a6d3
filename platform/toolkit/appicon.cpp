#include "appicon.h"

#include <QPixmap>
#include <array>
#include <cstdint>

namespace tk {

namespace {

// The 16 standard colours, one letter each; '.' is transparent.
struct PaletteEntry {
  char letter;
  QRgb rgb;
};
// clang-format off
constexpr std::array<PaletteEntry, 16> kPalette = {{
    {'k', 0x000000}, {'r', 0x800000}, {'g', 0x008000}, {'o', 0x808000},
    {'n', 0x000080}, {'p', 0x800080}, {'t', 0x008080}, {'s', 0xC0C0C0},
    {'d', 0x808080}, {'R', 0xFF0000}, {'G', 0x00FF00}, {'Y', 0xFFFF00},
    {'B', 0x0000FF}, {'M', 0xFF00FF}, {'C', 0x00FFFF}, {'W', 0xFFFFFF},
}};
// clang-format on

// Sprocket holes above and below; the picture's line pairs alternate between the two fields
// (blue, navy), and the ball has moved between them, so its lines do not meet.
constexpr const char* kIcon32[32] = {
    "................................",  //
    "................................",  //
    "................................",  //
    "kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk",  //
    "kWWkkWWkkWWkkWWkkWWkkWWkkWWkkWWk",  //
    "kWWkkWWkkWWkkWWkkWWkkWWkkWWkkWWk",  //
    "kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk",  //
    "kkBBBBBBBBBBBBBBBBBBBBBBBBBBBBkk",  //
    "kkBBBBBBBBBBBBBBBBBBBBBBBBBBBBkk",  //
    "kknnnnnnnnnnnnnnnnnnnnnnnnnnnnkk",  //
    "kknnnnnnnnnnnnnYYYYYnnnnnnnnnnkk",  //
    "kkBBBBBBYYYYYYYYYBBBBBBBBBBBBBkk",  //
    "kkBBBBBYYYYYYYYYYYBBBBBBBBBBBBkk",  //
    "kknnnnnnnnnnYYYYYYYYYYYnnnnnnnkk",  //
    "kknnnnnnnnnYYYYYYYYYYYYYnnnnnnkk",  //
    "kkBBBBYYYYYYYYYYYYYBBBBBBBBBBBkk",  //
    "kkBBBBYYYYYYYYYYYYYBBBBBBBBBBBkk",  //
    "kknnnnnnnnnYYYYYYYYYYYYYnnnnnnkk",  //
    "kknnnnnnnnnnYYYYYYYYYYYnnnnnnnkk",  //
    "kkBBBBBYYYYYYYYYYYBBBBBBBBBBBBkk",  //
    "kkBBBBBBYYYYYYYYYBBBBBBBBBBBBBkk",  //
    "kknnnnnnnnnnnnnYYYYYnnnnnnnnnnkk",  //
    "kknnnnnnnnnnnnnnnnnnnnnnnnnnnnkk",  //
    "kkBBBBBBBBBBBBBBBBBBBBBBBBBBBBkk",  //
    "kkBBBBBBBBBBBBBBBBBBBBBBBBBBBBkk",  //
    "kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk",  //
    "kWWkkWWkkWWkkWWkkWWkkWWkkWWkkWWk",  //
    "kWWkkWWkkWWkkWWkkWWkkWWkkWWkkWWk",  //
    "kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk",  //
    "................................",  //
    "................................",  //
    "................................",  //
};

// The same at half size: one line per field.
constexpr const char* kIcon16[16] = {
    "................",  //
    "kkkkkkkkkkkkkkkk",  //
    "kWWkkWWkkWWkkWWk",  //
    "kkkkkkkkkkkkkkkk",  //
    "kBBBBBBBBBBBBBBk",  //
    "knnnnnnYYYYYnnnk",  //
    "kBBBYYYYYBBBBBBk",  //
    "knnnnnYYYYYYYnnk",  //
    "kBBYYYYYYYBBBBBk",  //
    "knnnnnnYYYYYnnnk",  //
    "kBBBYYYYYBBBBBBk",  //
    "knnnnnnnnnnnnnnk",  //
    "kkkkkkkkkkkkkkkk",  //
    "kWWkkWWkkWWkkWWk",  //
    "kkkkkkkkkkkkkkkk",  //
    "................",  //
};

QRgb Colour(char letter) {
  for (const PaletteEntry& entry : kPalette)
    if (entry.letter == letter) return 0xFF000000u | entry.rgb;
  return qRgba(0, 0, 0, 0);
}

QImage Drawn(const char* const* rows, int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  for (int y = 0; y < size; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < size; ++x) line[x] = Colour(rows[y][x]);
  }
  return image;
}

}  // namespace

QImage ProgramIconImage(int size) {
  if (size < 1) size = 1;
  if (size == 16) return Drawn(kIcon16, 16);
  if (size == 32) return Drawn(kIcon32, 32);
  // From the drawn image that divides the size evenly, else the larger one.
  const QImage from =
      size % 32 == 0 || (size > 24 && size % 16 != 0) ? Drawn(kIcon32, 32) : Drawn(kIcon16, 16);
  return from.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QIcon ProgramIcon() {
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(ProgramIconImage(16)));
  icon.addPixmap(QPixmap::fromImage(ProgramIconImage(32)));
  return icon;
}

}  // namespace tk
