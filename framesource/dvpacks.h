// What a DV frame's own bytes say of its recording: the camera's date and time (the VAUX
// recording date and time packs) and the tape's time code (the subcode time code pack). Read
// from the DIF blocks as they come, whatever their number: a frame cut short, or a packet that
// holds only some of its blocks, tells what those blocks hold. Nothing is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct DvDateTime {
  int year = 0, month = 0, day = 0;  // year in full: two digits placed in 1970-2069
  int hour = 0, minute = 0, second = 0;
  // Seconds since 1970-01-01 00:00 of the camera's clock, as if it were UTC: for comparing.
  int64_t Seconds() const;
};

struct DvTimeCode {
  int hours = 0, minutes = 0, seconds = 0, frames = 0;
  bool dropFrame = false;  // written with ';' before the frames
};

struct DvRecording {
  bool dv = false;   // the bytes begin with a DIF header block
  bool pal = false;  // 625 lines at 50 fields a second, else 525 at 60 (from the header block)
  std::optional<DvDateTime> recorded;  // none: no packs, an unset clock, or damaged packs
  std::optional<DvTimeCode> timeCode;
};

// Never reads past size; a pack whose fields are not digits in range is as good as none.
DvRecording ParseDvPacks(const uint8_t* data, size_t size);

// "2003/08/15 14:32:07  00:12:34;05"; either part alone; "" when the frame has neither.
std::string RecordingText(const DvRecording& recording);
std::string DateTimeText(const DvDateTime& t);  // "2003/08/15 14:32:07"
