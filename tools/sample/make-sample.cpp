// Writes a short interlaced clip: a ball crossing the picture fast enough that the two fields of
// each frame, taken 1/60 s apart, show it in two places.
#include <cmath>
#include <cstdio>

#include "aviwriter.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dovrel-make-sample OUT.avi\n");
    return 2;
  }
  constexpr int kWidth = 720, kHeight = 480, kFrames = 24;
  AviWriter writer(argv[1], AviWriter::Format(kWidth, kHeight, 24));
  const int stride = static_cast<int>(DibStride(kWidth, 24));
  std::vector<uint8_t> frame(static_cast<size_t>(stride) * kHeight);
  for (int f = 0; f < kFrames; ++f) {
    for (int line = 0; line < kHeight; ++line) {  // picture line from the top
      // Odd picture lines (1, 3, ...) belong to the first field, the others 1/60 s later.
      const double t = 2 * f + (line % 2 == 0 ? 0 : 1);
      const double cx = 60 + std::fmod(t * 24, 600), cy = 240 + 120 * std::sin(t / 8);
      uint8_t* row = frame.data() + static_cast<size_t>(kHeight - 1 - line) * stride;
      for (int x = 0; x < kWidth; ++x) {
        const double dx = x - cx, dy = line - cy;
        const bool ball = dx * dx + dy * dy < 50 * 50;
        row[3 * x + 0] = ball ? 40 : static_cast<uint8_t>(90 + line / 4);          // blue
        row[3 * x + 1] = ball ? 200 : static_cast<uint8_t>(60 + x / 6);            // green
        row[3 * x + 2] = ball ? 250 : static_cast<uint8_t>(30 + (x + line) / 10);  // red
      }
    }
    writer.AddFrame(frame);
  }
  if (!writer.Close()) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
