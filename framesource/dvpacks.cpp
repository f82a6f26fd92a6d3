#include "dvpacks.h"

#include <cstdio>

namespace {

constexpr size_t kBlockBytes = 80;  // a DIF block: 3 bytes of id, 77 of data
enum Section { kHeader = 0, kSubcode = 1, kVaux = 2 };
constexpr uint8_t kTimeCodePack = 0x13, kRecDatePack = 0x62, kRecTimePack = 0x63;

// A binary-coded decimal field: the tens in the bits above bit 3 under tensMask, the units in the
// low four. -1 when a digit is not one (all bits set, as a pack left unwritten, is never one).
int Bcd(uint8_t byte, uint8_t tensMask) {
  const int units = byte & 0x0F, tens = (byte >> 4) & tensMask;
  return units > 9 || tens > 9 ? -1 : tens * 10 + units;
}

bool InRange(int v, int low, int high) {
  return v >= low && v <= high;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

struct Date {
  int year, month, day;
};
struct Time {
  int hour, minute, second;
};

std::optional<Date> DateOf(const uint8_t* pack) {
  const int day = Bcd(pack[2], 0x3), month = Bcd(pack[3], 0x1), yy = Bcd(pack[4], 0xF);
  if (!InRange(month, 1, 12) || yy < 0) return std::nullopt;
  const int year = yy < 70 ? 2000 + yy : 1900 + yy;
  if (!InRange(day, 1, DaysInMonth(year, month))) return std::nullopt;
  return Date{year, month, day};
}

std::optional<Time> TimeOf(const uint8_t* pack) {
  const int second = Bcd(pack[2], 0x7), minute = Bcd(pack[3], 0x7), hour = Bcd(pack[4], 0x3);
  if (!InRange(second, 0, 59) || !InRange(minute, 0, 59) || !InRange(hour, 0, 23))
    return std::nullopt;
  return Time{hour, minute, second};
}

std::optional<DvTimeCode> TimeCodeOf(const uint8_t* pack) {
  DvTimeCode tc;
  tc.frames = Bcd(pack[1], 0x3);
  tc.dropFrame = (pack[1] & 0x40) != 0;
  tc.seconds = Bcd(pack[2], 0x7);
  tc.minutes = Bcd(pack[3], 0x7);
  tc.hours = Bcd(pack[4], 0x3);
  if (!InRange(tc.frames, 0, 29) || !InRange(tc.seconds, 0, 59) || !InRange(tc.minutes, 0, 59) ||
      !InRange(tc.hours, 0, 23))
    return std::nullopt;
  return tc;
}

}  // namespace

int64_t DvDateTime::Seconds() const {
  // Days from the civil date (proleptic Gregorian), counted from 1970-01-01.
  const int y = month <= 2 ? year - 1 : year;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = int64_t{era} * 146097 + doe - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

DvRecording ParseDvPacks(const uint8_t* data, size_t size) {
  DvRecording r;
  // The first block is the header of the first DIF sequence: section 0, sequence 0, block 0,
  // its reserved bits set. Anything else is not DV, whatever packs it seems to hold later.
  if (!data || size < kBlockBytes || (data[0] >> 5) != kHeader || (data[1] & 0xF7) != 0x07 ||
      data[2] != 0)
    return r;
  r.dv = true;
  r.pal = (data[3] & 0x80) != 0;
  std::optional<Date> date;
  std::optional<Time> time;
  // The first whole pack of each kind counts; a damaged copy gives way to a later one.
  auto take = [&](const uint8_t* pack, bool subcode) {
    if (subcode) {
      if (pack[0] == kTimeCodePack && !r.timeCode) r.timeCode = TimeCodeOf(pack);
    } else if (pack[0] == kRecDatePack && !date) {
      date = DateOf(pack);
    } else if (pack[0] == kRecTimePack && !time) {
      time = TimeOf(pack);
    }
  };
  for (size_t at = 0; at + kBlockBytes <= size; at += kBlockBytes) {
    const uint8_t* block = data + at;
    switch (block[0] >> 5) {
      case kSubcode:  // six sync blocks: 3 bytes of id, then a 5-byte pack
        for (size_t i = 0; i < 6; ++i) take(block + 3 + 8 * i + 3, true);
        break;
      case kVaux:  // fifteen 5-byte packs
        for (size_t i = 0; i < 15; ++i) take(block + 3 + 5 * i, false);
        break;
      default:
        break;
    }
    if (r.timeCode && date && time) break;
  }
  if (date && time)
    r.recorded =
        DvDateTime{date->year, date->month, date->day, time->hour, time->minute, time->second};
  return r;
}

std::string DateTimeText(const DvDateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string RecordingText(const DvRecording& recording) {
  std::string text;
  if (recording.recorded) text = DateTimeText(*recording.recorded);
  if (const auto& tc = recording.timeCode) {
    char code[24];
    std::snprintf(code, sizeof code, "%02d:%02d:%02d%c%02d", tc->hours, tc->minutes, tc->seconds,
                  tc->dropFrame ? ';' : ':', tc->frames);
    text += (text.empty() ? "" : "  ") + std::string(code);
  }
  return text;
}
