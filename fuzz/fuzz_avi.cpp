// libFuzzer target: the bytes as a video file (an AVI file for our reader, anything else for
// libavformat's), opened through the frame source as the viewer opens it, then a few frames
// fetched (first, last, middle, backwards), line-doubled and painted, their DV recordings read
// and the scenes searched, and the instance ended. Aborts on anything the callers could not live
// with: an exception other than the 16-bit frame count's overflow, a failed open without exactly
// one of the two messages (or a message on success), a buffer that disagrees with its header, a
// scene outside the stream, or a library use left begun.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "classBMPAVI.h"
#include "devicecontext.h"
#include "msgbox.h"
#include "sourceprobe.h"

namespace {

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "fuzz_avi: %s\n", why);
  std::abort();
}

// The input lives in a memory file, reached by its /proc path like any other file.
const std::string& InputPath() {
  static const std::string path = [] {
    int fd = memfd_create("fuzz.avi", MFD_CLOEXEC);
    if (fd < 0) Fail("memfd_create");
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return path;
}

void WriteInput(const uint8_t* data, size_t size) {
  int fd = std::stoi(InputPath().substr(14));
  if (ftruncate(fd, 0) != 0) Fail("ftruncate");
  for (size_t done = 0; done < size;) {
    ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) Fail("pwrite");
    done += static_cast<size_t>(n);
  }
}

void CheckBuffer(const classBMPAVI& source) {
  const BITMAPINFOHEADER& h = Peek(source).InfoHeader();
  if (h.biBitCount != 24 || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight <= 0)
    Fail("frame header is not 24-bit bottom-up");
  if (Peek(source).DIBBits().size() != h.biSizeImage ||
      int64_t{h.biSizeImage} != DibStride(h.biWidth, 24) * h.biHeight)
    Fail("buffer size disagrees with the frame header");
}

void Exercise(classBMPAVI& source) {
  CheckBuffer(source);
  const int32_t length = AVIStreamLength(Peek(source).Stream());
  const int32_t last = source.GetFrameMax();
  if (last != length - 1) Fail("GetFrameMax disagrees with the stream length");
  DeviceContext dc(48, 40);
  const int32_t positions[] = {0,        last, last / 2, last / 2 + 1, last - 1,
                               last / 3, 1,    0,        -1,           last + 1};
  // A frame of many megapixels is legal but costs a copy of it per step: three steps then, so
  // that one such input stays well inside the timeout on a busy machine.
  const int64_t pixels =
      int64_t{Peek(source).InfoHeader().biWidth} * Peek(source).InfoHeader().biHeight;
  const size_t steps = pixels > (1 << 20) ? 3 : std::size(positions);
  int16_t type = 0;
  for (size_t i = 0; i < steps; ++i) {
    const int32_t pos = positions[i];
    source.GetDIBAVI(pos);
    CheckBuffer(source);
    source.SeparateDIB(type);
    type = static_cast<int16_t>(1 - type);
    source.PutToDC(&dc, 0, 20, 720, 480);
  }
  source.PutToDC(&dc, -7, -3, 20, 9);
  source.StretchToDC(&dc, -7, 5, 333, 211);  // scaled, and partly off the surface
  (void)source.FieldOrder();
  // The recording and the scenes come from the packets' own bytes, undecoded.
  for (const int32_t frame : {0, last / 2, last}) (void)source.RecordingOf(frame);
  for (const int32_t scene : {source.NextScene(-1), source.PreviousScene(last + 1)})
    if (scene < -1 || scene > last) Fail("a scene outside the stream");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);  // damaged input makes the decoders talk on every run
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteInput(data, size);
  std::vector<std::string> shown;
  SetMessageBoxHandler([&shown](const std::string& text) { shown.push_back(text); });
  try {
    classBMPAVI source;
    if (source.GetEnable(InputPath()) == kTrue) {
      if (shown.size() != 1 || (shown[0] != kMsgNoStream && shown[0] != kMsgNoDecoder))
        Fail("a failed open did not show exactly one of its messages");
      if (Peek(source).IsOpen() || Peek(source).Stream()) Fail("a failed open holds a handle");
    } else {
      if (!shown.empty()) Fail("a successful open showed a message");
      AVISTREAMINFO info;
      if (AVIStreamInfo(Peek(source).Stream(), &info, sizeof info) != AVIERR_OK)
        Fail("AVIStreamInfo");
      Exercise(source);
      // Some inputs open again on the same instance, which then asks for frame 0's layout.
      if (size % 4 == 0) {
        if (source.GetEnable(InputPath()) != kFalse || !shown.empty()) Fail("a second open failed");
        CheckBuffer(source);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_avi: exception: %s\n", e.what());
    std::abort();
  }
  if (AVIFileUseCount() != 0) Fail("a library use was left begun");
  SetMessageBoxHandler(nullptr);
  return 0;
}
