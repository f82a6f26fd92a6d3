// DV frames as a camera would have stamped them: the recording date and time packs of every VAUX
// block rewritten, with the bits the file format gives them (IEC 61834: BCD digits, the unused
// high bits set as cameras and ffmpeg set them).
#pragma once

#include <cstddef>
#include <cstdint>

struct DvStamp {
  int year, month, day, hour, minute, second;  // the year's last two digits, as the pack holds it
};
enum class DvClock { kSet, kUnset, kNone };  // the stamp; all bits set; no date or time packs

inline uint8_t ToBcd(int v) {
  return static_cast<uint8_t>((v / 10) << 4 | v % 10);
}

inline void StampDvFrame(uint8_t* frame, size_t bytes, DvClock clock, const DvStamp& t = {}) {
  for (size_t at = 0; at + 80 <= bytes; at += 80) {
    if ((frame[at] >> 5) != 2) continue;  // VAUX blocks only
    for (size_t i = 0; i < 15; ++i) {
      uint8_t* pack = frame + at + 3 + 5 * i;
      if (pack[0] != 0x62 && pack[0] != 0x63) continue;
      const bool date = pack[0] == 0x62;
      const uint8_t set[4] = {
          0xFF, static_cast<uint8_t>(date ? 0xC0 | ToBcd(t.day) : 0x80 | ToBcd(t.second)),
          static_cast<uint8_t>(date ? 0xE0 | ToBcd(t.month) : 0x80 | ToBcd(t.minute)),
          static_cast<uint8_t>(date ? ToBcd(t.year) : 0xC0 | ToBcd(t.hour))};
      for (int b = 0; b < 4; ++b) pack[1 + b] = clock == DvClock::kSet ? set[b] : 0xFF;
      if (clock == DvClock::kNone) pack[0] = 0xFF;
    }
  }
}
