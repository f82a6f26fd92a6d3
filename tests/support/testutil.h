// Helpers shared by the frame source tests: a temporary folder, running commands (ffmpeg and our
// own programs), pictures to write and compare, and clips made at run time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "aviwriter.h"
#include "msgbox.h"

namespace testutil {

// A fresh folder under the system's temporary folder; removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& data);
uint64_t FileSize(const std::string& path);   // bytes; 0 if missing
uint64_t DiskUsage(const std::string& path);  // bytes of disk really taken
bool Exists(const std::string& path);
std::vector<std::string> FolderEntries(const std::string& path);  // names, sorted
int OpenFileDescriptors();                                        // of this process

struct RunResult {
  int exitCode = -1;  // -1 when the program could not be run or was killed
  std::string out, err;
};
// Runs a program with no standard input, capturing both outputs; killed after the timeout.
RunResult RunProgram(const std::vector<std::string>& argv, int timeoutSeconds = 60);

// Runs `body` as the unprivileged user nobody (65534), for checks root would pass whatever the
// permission bits: when this process is root, in a child that drops root first, whose failures
// print there and fail the test here; otherwise in this process. The files it touches must be
// reachable by that user. False when root could not be dropped and nothing ran.
bool AsUnprivilegedUser(const std::function<void()>& body);

// ffmpeg with -nostdin -y and errors only. A test that needs it fails when it is missing.
::testing::AssertionResult Ffmpeg(const std::vector<std::string>& args);
bool HasEncoder(const std::string& name);
// Every picture of the file's first video stream as ffmpeg decodes it, in display order, as
// 24-bit bottom-up DIB pixels (rows padded to 4 bytes, fill bytes 0).
std::vector<std::vector<uint8_t>> FfmpegFrames(const std::string& path, int width, int height);
// ffmpeg's rawvideo bgr24 output, cut into such pictures.
std::vector<std::vector<uint8_t>> DibsOfBgr24(const std::vector<uint8_t>& raw, int width,
                                              int height);
// A clip of ffmpeg's moving test picture, encoded with the given output arguments.
::testing::AssertionResult MakeFfmpegClip(const std::string& path, int width, int height,
                                          int frames, const std::vector<std::string>& codec);

// ---- Pictures ---------------------------------------------------------------------------------

inline int Stride(int width) {
  return static_cast<int>(DibStride(width, 24));
}

// A 24-bit bottom-up frame in which every pixel, row and frame differs; each fill byte holds
// a value of its own (not 0), so copies that touch fill bytes show.
std::vector<uint8_t> Pattern(int width, int height, int frame);
// Pixel bytes equal (fill bytes ignored), or the first difference; tolerance per channel.
::testing::AssertionResult SameDib(const std::vector<uint8_t>& expected,
                                   const std::vector<uint8_t>& actual, int width, int height,
                                   int tolerance = 0);
// The row-doubling of one field, done independently of the frame source.
void SeparateRows(std::vector<uint8_t>& dib, int width, int height, int type);
// A BMP file as the frame source writes one for a 24-bit frame.
std::vector<uint8_t> BmpFile(const std::vector<uint8_t>& dib, int width, int height);

// ---- Clips made with our writer ----------------------------------------------------------------

// A 24-bit clip of Pattern() frames; zero marks in `dropped` the positions written empty.
void WritePatternClip(const std::string& path, int width, int height, int frames,
                      AviWriterOptions options = {}, const std::vector<int>& dropped = {});

// A type-1 DV capture of 30 frames of ffmpeg's 525-60 DV, time code from 00:12:34;05, whose
// recording packs are stamped: none on frames 0, 1 and 5, an unset clock on 14; scenes start at
// 2 (2003/08/15 14:32:07), 12 (15:40:00: forwards), 20 (1999/12/31 23:59:58: backwards) and 25
// (2000/01/01 00:00:00: two seconds on); the time rises with the frames within each. Truncated:
// the frames after the first hold only their first six DIF blocks, where the packs are.
::testing::AssertionResult WriteDvSceneClip(const std::string& path, bool truncated = false);

// Records what the frame source shows in message boxes while it lives.
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  const std::vector<std::string>& messages() const { return messages_; }
  void clear() { messages_.clear(); }

 private:
  std::vector<std::string> messages_;
  MessageBoxHandler previous_;
};

}  // namespace testutil
