// The frame source: one opened AVI video stream and a 24-bit frame buffer. Opens and closes the
// video, fetches a frame, line-doubles one field, paints the buffer on a device context and
// writes it as a BMP file. Results are 16-bit as the callers expect: True is -1, False is 0.
//
// Ownership: the instance owns bytDIBBits, bytInfoHeader and the three library handles. The
// memory behind lpPackedDIB belongs to the decompressor and is copied out right after a fetch.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dvpacks.h"
#include "fileio.h"
#include "mdlHeadder.h"
#include "scenes.h"

inline constexpr int16_t kTrue = -1;
inline constexpr int16_t kFalse = 0;

inline constexpr const char* kMsgNoStream =
    "ビデオストリームのインターフェースアドレス獲得に失敗しました。";
inline constexpr const char* kMsgNoDecoder = "デコーダが不明なため圧縮を解除できません。";

class classBMPAVI {
 public:
  classBMPAVI();   // sets the requested format; makes no library call
  ~classBMPAVI();  // runs CloseAVI
  classBMPAVI(const classBMPAVI&) = delete;
  classBMPAVI& operator=(const classBMPAVI&) = delete;

  // How far a long open has read the file: done of total bytes, now and then while it indexes
  // the file. Returning false cancels the open.
  using OpenProgress = std::function<bool(uint64_t done, uint64_t total)>;
  // -1 when opening failed (after its message), 0 when the file is open with frame 0 loaded.
  // A cancel through progress is a failure without a message, and the video open before stays
  // open as it was (OpenCancelled tells): reading the file comes before closing that one.
  int16_t GetEnable(const std::string& strFileName, const OpenProgress& progress = {});
  bool OpenCancelled() const { return blnCancelled; }  // of the last GetEnable
  // Index of the last frame (-1 for an empty stream). Only while a file is open.
  int32_t GetFrameMax();
  // Frames (positions) of the open stream, whatever their number; 0 when none is open.
  int32_t FrameCount() const { return pAVIStream ? AVIStreamLength(pAVIStream) : 0; }
  // The open stream's own description; zeros when nothing is open.
  AVISTREAMINFO StreamInfo() const {
    AVISTREAMINFO si{};
    if (pAVIStream) AVIStreamInfo(pAVIStream, &si, sizeof si);
    return si;
  }
  // Fetches frame lngAVIFrameNo into the buffer: a frame that does not decode comes as the last
  // whole picture before it that did (black before the first); a position outside the stream
  // keeps the buffer as it is. Always 0. Only while a file is open.
  int16_t GetDIBAVI(int32_t lngAVIFrameNo);
  // Whether the last GetDIBAVI put a picture into the buffer; false when it kept the one there
  // (a position outside the stream), which must then not be separated again.
  bool Fetched() const { return blnFetched; }
  // The order of the stream's two fields, as its pictures or the file tell; kUnknown when nothing
  // is open or nothing says.
  AviFieldOrder FieldOrder() const {
    return pGetFrame ? AVIStreamGetFrameFieldOrder(pGetFrame) : AviFieldOrder::kUnknown;
  }
  // True (-1) when the buffer was written in full to strFileName, False (0) when any step
  // failed; an existing file is then left as it was. The open video itself is never replaced.
  int16_t WriteToBMPFile(const std::string& strFileName);
  // The same picture as a lossless 24-bit PNG file, replaced as safely as the BMP.
  int16_t WriteToPNGFile(const std::string& strFileName);
  // The buffer as saved: biHeight rows of biWidth BGR pixels, bottom row first, rows padded to 4
  // bytes. Empty before the first open.
  const std::vector<uint8_t>& Pixels() const { return bytDIBBits; }

  // What a frame's DV packs say of its recording, read from its packet's bytes without a decode;
  // nothing for a frame outside the stream or a video that is not DV.
  DvRecording RecordingOf(int32_t frame);
  // Whether the open video is DV: its frames' packs are worth reading.
  bool IsDv() const { return blnDv; }
  // Whether the open video carries recording times, so that scenes can be found in it.
  bool HasRecordingTimes() const { return scenes != nullptr; }
  // The first frame of the next scene after a frame, of the last scene that starts before it;
  // -1 when there is none or the video has no recording times.
  int32_t NextScene(int32_t frame) { return scenes ? scenes->Next(frame) : -1; }
  int32_t PreviousScene(int32_t frame) { return scenes ? scenes->Previous(frame) : -1; }

  // Copies every row of the field starting at buffer row intSeparateType onto the row above.
  int16_t SeparateDIB(int16_t intSeparateType);
  // Paints the lower-left WidthDC x HeightDC of the frame at (XDest, YDest); scan lines painted.
  int16_t PutToDC(HDC pHDC, int32_t XDest, int32_t YDest, int32_t WidthDC, int32_t HeightDC);
  // Paints the whole frame scaled to WidthDC x HeightDC at (XDest, YDest), smoothly filtered;
  // scan lines of the frame painted, 0 when the painting call fails. Only after an open.
  int16_t StretchToDC(HDC pHDC, int32_t XDest, int32_t YDest, int32_t WidthDC, int32_t HeightDC);

  int32_t biWidth() const { return bih.biWidth; }
  int32_t biHeight() const { return bih.biHeight; }

 private:
  friend struct classBMPAVIProbe;  // tests, benchmarks and the fuzz target look at the state

  int16_t OpenAVI(const OpenProgress& progress);
  void CloseAVI();
  void FindRecordingTimes();
  // Rows of the frame when the buffer holds every one of them, else 0.
  int32_t WholeRows() const;

  PAVIFILE pAVIFile = nullptr;
  PAVISTREAM pAVIStream = nullptr;
  PGETFRAME pGetFrame = nullptr;
  std::string strAVIFileName;            // path last passed to GetEnable
  const uint8_t* lpPackedDIB = nullptr;  // not owned: the decompressor's last frame
  std::vector<uint8_t> bytDIBBits;       // biSizeImage bytes, bottom-up BGR rows
  std::vector<uint8_t> bytInfoHeader;    // 40 bytes of frame 0's header
  BITMAPINFOHEADER bih;                  // the request, then frame 0's header
  BITMAPFILEHEADER bfh;
  int32_t lngLine = 0;                  // SeparateDIB: current buffer row
  int32_t lngSrcPos = 0;                // SeparateDIB: byte offset of the source row
  int32_t lngDstPos = 0;                // SeparateDIB: byte offset of the destination row
  int32_t lngHeight = 0;                // rows, from bih at open
  int32_t lngWidth = 0;                 // pixels, from bih at open
  bool blnInUse = false;                // one library use begun and not yet ended
  bool blnCancelled = false;            // the last open was cancelled by the caller
  bool blnFetched = false;              // the last GetDIBAVI replaced the buffer
  FileId aviFile;                       // the open video's file, which no save may replace
  std::vector<uint8_t> bytPacket;       // RecordingOf: the packet last read
  std::unique_ptr<SceneSearch> scenes;  // while a video with recording times is open
  bool blnDv = false;                   // frame 0 of the open video is a DV frame
};
