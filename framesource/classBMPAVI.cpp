#include "classBMPAVI.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "checked.h"
#include "msgbox.h"
#include "pngfile.h"

classBMPAVI::classBMPAVI() = default;  // bih starts as the request: 24-bit BI_RGB, size 0 x 0

classBMPAVI::~classBMPAVI() {
  CloseAVI();
}

int16_t classBMPAVI::GetEnable(const std::string& strFileName, const OpenProgress& progress) {
  std::string previous = std::exchange(strAVIFileName, strFileName);
  const int16_t failed = OpenAVI(progress);
  if (blnCancelled) strAVIFileName = std::move(previous);  // still the open one's
  return failed;
}

namespace {

// The library's progress callback, for the span of one AVIFileOpen. Whatever the caller's
// function throws cancels the open: nothing may unwind through the library.
class ProgressScope {
 public:
  explicit ProgressScope(const classBMPAVI::OpenProgress& progress) : progress_(progress) {
    if (progress_) AVIFileSetOpenProgress(&Report, this);
  }
  ~ProgressScope() {
    if (progress_) AVIFileSetOpenProgress(nullptr, nullptr);
  }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  static bool Report(void* self, uint64_t done, uint64_t total) {
    try {
      return static_cast<ProgressScope*>(self)->progress_(done, total);
    } catch (...) {
      return false;
    }
  }
  const classBMPAVI::OpenProgress& progress_;
};

}  // namespace

int16_t classBMPAVI::OpenAVI(const OpenProgress& progress) {
  blnCancelled = false;
  // The file is read (and indexed, which may take long) before the video held now is closed,
  // so that a cancel leaves that one as it was. The new open is a use of its own.
  AVIFileInit();
  PAVIFILE file = nullptr;
  HRESULT opened;
  {
    const ProgressScope scope(progress);
    opened = AVIFileOpen(&file, strAVIFileName.c_str(), OF_READ, nullptr);
  }
  if (opened == AVIERR_USERABORT) {
    AVIFileExit();
    blnCancelled = true;
    return kTrue;
  }
  CloseAVI();  // with any handle or use an open that an error ended early left behind
  blnInUse = true;
  pAVIFile = file;
  try {
    const char* message = nullptr;
    if (opened != AVIERR_OK ||
        AVIFileGetStream(pAVIFile, &pAVIStream, streamtypeVIDEO, 0) != AVIERR_OK) {
      message = kMsgNoStream;
    } else if (!(pGetFrame = AVIStreamGetFrameOpen(pAVIStream, &bih))) {
      message = kMsgNoDecoder;
    } else if (!(lpPackedDIB = static_cast<const uint8_t*>(AVIStreamGetFrame(pGetFrame, 0)))) {
      message = kMsgNoDecoder;  // a stream whose first frame cannot be decoded is as good as none
    }
    if (message) {
      MsgBox(message);
      CloseAVI();
      return kTrue;
    }

    BITMAPINFOHEADER frame0;
    std::memcpy(&frame0, lpPackedDIB, sizeof frame0);
    if (frame0.biSizeImage == 0)  // allowed for BI_RGB: the rows tell the size
      frame0.biSizeImage =
          static_cast<uint32_t>(MulLng(CLng(DibStride(frame0.biWidth, frame0.biBitCount)),
                                       CLng(std::abs(int64_t{frame0.biHeight}))));
    const int32_t sizeImage = CLng(frame0.biSizeImage);
    const int32_t fileSize = AddLng(sizeImage, 54);
    const FileId file = IdOfFile(strAVIFileName);
    // Before anything else changes: a failure leaves the earlier picture as it was.
    bytDIBBits.assign(lpPackedDIB + 40, lpPackedDIB + 40 + sizeImage);
    aviFile = file;

    bih = frame0;
    const auto* header = reinterpret_cast<const uint8_t*>(&bih);
    bytInfoHeader.assign(header, header + 40);
    bfh.bfType[0] = 'B';
    bfh.bfType[1] = 'M';
    bfh.bfSize = static_cast<uint32_t>(fileSize);
    bfh.bfReserved1 = 0;
    bfh.bfReserved2 = 0;
    bfh.bfOffBits = 54;
    lngHeight = bih.biHeight;
    lngWidth = bih.biWidth;
    FindRecordingTimes();
    return kFalse;
  } catch (const std::bad_alloc&) {
    MsgBox(kMsgNoDecoder);  // no room for the picture: as good as no decompressor
    CloseAVI();
    return kTrue;
  } catch (...) {
    CloseAVI();  // whatever ends the open early ends its use of the library too
    throw;
  }
}

void classBMPAVI::CloseAVI() {
  if (pGetFrame) {
    AVIStreamGetFrameClose(pGetFrame);
    pGetFrame = nullptr;
  }
  if (pAVIStream) {
    AVIStreamRelease(pAVIStream);
    pAVIStream = nullptr;
  }
  if (pAVIFile) {
    AVIFileRelease(pAVIFile);
    pAVIFile = nullptr;
  }
  lpPackedDIB = nullptr;
  scenes.reset();
  blnDv = false;
  // Only a use that was begun is ended, so that an instance that never opened, or closes
  // twice, leaves the library's count as it found it.
  if (blnInUse) {
    AVIFileExit();
    blnInUse = false;
  }
}

namespace {
// No DV frame is larger (DVCPRO HD, 1080 lines at 50 fields): a larger packet is not read for
// its packs.
constexpr int32_t kMaxDvFrameBytes = 576000;
}  // namespace

DvRecording classBMPAVI::RecordingOf(int32_t frame) {
  if (!pAVIStream) return {};
  int32_t bytes = 0;
  if (AVIStreamRead(pAVIStream, frame, 1, nullptr, 0, &bytes, nullptr) != AVIERR_OK || bytes <= 0 ||
      bytes > kMaxDvFrameBytes)
    return {};
  try {
    if (bytPacket.size() < static_cast<size_t>(bytes)) bytPacket.resize(static_cast<size_t>(bytes));
  } catch (const std::bad_alloc&) {
    return {};
  }
  if (AVIStreamRead(pAVIStream, frame, 1, bytPacket.data(), bytes, &bytes, nullptr) != AVIERR_OK)
    return {};
  return ParseDvPacks(bytPacket.data(), static_cast<size_t>(bytes));
}

// A DV video has recording times when any of its frames has one; the frames per second the
// search counts with are those of the DV system, whatever the container says.
void classBMPAVI::FindRecordingTimes() try {
  scenes.reset();
  const DvRecording first = RecordingOf(0);
  blnDv = first.dv;
  if (!first.dv) return;
  auto search =
      std::make_unique<SceneSearch>(FrameCount(), first.pal ? 25 : 30000, first.pal ? 1 : 1001,
                                    [this](int32_t frame) -> std::optional<int64_t> {
                                      const DvRecording r = RecordingOf(frame);
                                      if (!r.recorded) return std::nullopt;
                                      return r.recorded->Seconds();
                                    });
  if (search->Next(-1) >= 0) scenes = std::move(search);
} catch (const std::bad_alloc&) {
  scenes.reset();  // the picture is there: only the scene commands go without
}

int32_t classBMPAVI::GetFrameMax() {
  return CLng(int64_t{AVIStreamLength(pAVIStream)} - 1);
}

int16_t classBMPAVI::GetDIBAVI(int32_t lngAVIFrameNo) {
  blnFetched = false;
  if (!pGetFrame) return 0;
  const auto* dib = static_cast<const uint8_t*>(AVIStreamGetFrame(pGetFrame, lngAVIFrameNo));
  if (!dib) return 0;  // no frame at that position: the previous picture stays
  BITMAPINFOHEADER h;
  std::memcpy(&h, dib, sizeof h);
  // Every frame is taken to have frame 0's layout; one that holds less is not copied.
  if (h.biSizeImage != 0 && h.biSizeImage < bih.biSizeImage) return 0;
  lpPackedDIB = dib;
  bytDIBBits.assign(dib + 40, dib + 40 + bih.biSizeImage);
  blnFetched = true;
  return 0;
}

int16_t classBMPAVI::SeparateDIB(int16_t intSeparateType) {
  const int32_t stride = MulLng(AddLng(MulLng(lngWidth, 3), 3) / 4, 4);
  const int32_t rowBytes = MulLng(lngWidth, 3);
  const int32_t endRow = SubLng(lngHeight, 2);
  const int64_t length = static_cast<int64_t>(bytDIBBits.size());
  for (lngLine = intSeparateType; lngLine <= endRow; lngLine = AddLng(lngLine, 2)) {
    lngSrcPos = MulLng(lngLine, stride);
    lngDstPos = MulLng(AddLng(lngLine, 1), stride);
    if (lngSrcPos < 0 || lngSrcPos >= length || lngDstPos < 0 || lngDstPos >= length ||
        lngDstPos + int64_t{rowBytes} > length)
      throw OutOfRangeError();
    RtlMoveMemory(bytDIBBits.data() + lngDstPos, bytDIBBits.data() + lngSrcPos,
                  static_cast<size_t>(rowBytes));
  }
  return kTrue;
}

int16_t classBMPAVI::PutToDC(HDC pHDC, int32_t XDest, int32_t YDest, int32_t WidthDC,
                             int32_t HeightDC) {
  if (bytDIBBits.empty()) throw OutOfRangeError();  // nothing was ever opened
  if (WidthDC < 0 || HeightDC < 0) return 0;
  // Never more scan lines than the buffer holds, whatever extent is asked.
  const int64_t stride = DibStride(bih.biWidth, 24);
  const int64_t rows = stride > 0 ? static_cast<int64_t>(bytDIBBits.size()) / stride : 0;
  const uint32_t lines = static_cast<uint32_t>(std::min<int64_t>(HeightDC, rows));
  BITMAPINFO info{bih};
  int painted = SetDIBitsToDevice(pHDC, XDest, YDest, static_cast<uint32_t>(WidthDC),
                                  static_cast<uint32_t>(HeightDC), 0, 0, 0, lines,
                                  bytDIBBits.data(), &info, DIB_RGB_COLORS);
  return CInt(painted);
}

int16_t classBMPAVI::StretchToDC(HDC pHDC, int32_t XDest, int32_t YDest, int32_t WidthDC,
                                 int32_t HeightDC) {
  if (bytDIBBits.empty()) throw OutOfRangeError();  // nothing was ever opened
  // The painting call reads the whole frame: a buffer that holds less is not painted.
  const int32_t rows = WholeRows();
  if (rows == 0) return 0;
  BITMAPINFO info{bih};
  return CInt(StretchDIBits(pHDC, XDest, YDest, WidthDC, HeightDC, 0, 0, bih.biWidth, rows,
                            bytDIBBits.data(), &info, DIB_RGB_COLORS, SRCCOPY));
}

int32_t classBMPAVI::WholeRows() const {
  const int64_t rows = std::abs(int64_t{bih.biHeight});
  return static_cast<int64_t>(bytDIBBits.size()) >= DibStride(bih.biWidth, 24) * rows
             ? static_cast<int32_t>(rows)
             : 0;
}

namespace {

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

int16_t classBMPAVI::WriteToBMPFile(const std::string& strFileName) {
  const std::string target = strFileName;
  if (bytInfoHeader.size() != 40 || target.empty()) return kFalse;  // no picture to save

  uint8_t fileHeader[kBitmapFileHeaderSize];
  fileHeader[0] = static_cast<uint8_t>(bfh.bfType[0]);
  fileHeader[1] = static_cast<uint8_t>(bfh.bfType[1]);
  PutLe32(fileHeader + 2, bfh.bfSize);
  PutLe16(fileHeader + 6, bfh.bfReserved1);
  PutLe16(fileHeader + 8, bfh.bfReserved2);
  PutLe32(fileHeader + 10, bfh.bfOffBits);

  // Written beside the target and renamed over it: the old file stays whole until the new one
  // is. The open video itself is never replaced.
  const bool ok = ReplaceFile(target,
                              {{fileHeader, sizeof fileHeader},
                               {bytInfoHeader.data(), bytInfoHeader.size()},
                               {bytDIBBits.data(), bytDIBBits.size()}},
                              pAVIFile ? aviFile : FileId{});
  return ok ? kTrue : kFalse;
}

int16_t classBMPAVI::WriteToPNGFile(const std::string& strFileName) {
  if (bytInfoHeader.size() != 40 || strFileName.empty()) return kFalse;  // no picture to save
  const int32_t rows = WholeRows();
  std::vector<uint8_t> png;
  if (rows == 0 ||
      !EncodePng(bih.biWidth, rows, bytDIBBits.data(), DibStride(bih.biWidth, 24), &png))
    return kFalse;
  return ReplaceFile(strFileName, {{png.data(), png.size()}}, pAVIFile ? aviFile : FileId{})
             ? kTrue
             : kFalse;
}
