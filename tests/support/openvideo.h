// A file's first video stream opened through the AVI library, with its decompressor, and all
// released when it goes: tests that assert mid-way leave no handle or use behind. ok() tells
// whether every step succeeded; tests that let an open fail look at it instead of asserting.
#pragma once

#include <string>

#include "avifile.h"

struct OpenVideo {
  explicit OpenVideo(const std::string& path) {
    AVIFileInit();
    if (AVIFileOpen(&file, path.c_str(), OF_READ, nullptr) == AVIERR_OK &&
        AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK)
      frames = AVIStreamGetFrameOpen(stream, nullptr);
  }
  ~OpenVideo() {
    if (frames) AVIStreamGetFrameClose(frames);
    if (stream) AVIStreamRelease(stream);
    if (file) AVIFileRelease(file);
    AVIFileExit();
  }
  OpenVideo(const OpenVideo&) = delete;
  OpenVideo& operator=(const OpenVideo&) = delete;
  bool ok() const { return frames != nullptr; }

  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  PGETFRAME frames = nullptr;
};
