// Codec bitstream tests: read from a packet's bytes, never by decoding it.
//
// Keyframes, by codec family: MPEG-4 part 2 an I-VOP; H.264 an IDR picture, a recovery point or
// an intra-coded picture (the decoder takes the leading pictures of the last two from the GOP
// before); MPEG-1/2 an I picture; Cinepak a frame whose strips cover the picture, each coded
// whole with codebooks of its own; MS Video-1 a frame without skipped blocks; MS RLE a picture
// that writes every pixel (no delta codes, no line left short). Intra-only codecs need no test.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

// First MPEG-4 part 2 VOP type in a packet: 0 I, 1 P, 2 B, 3 S; -1 if none.
int Mpeg4VopType(const uint8_t* p, size_t n);
// Bytes of each H.264 NAL unit's length in packets after codec data that is an avcC record; 0 for
// Annex B start codes.
size_t H264NalLengthSize(const std::vector<uint8_t>& extradata);
// Whether an H.264 packet (Annex B, or NAL units with lengthSize-byte lengths) holds an IDR slice.
bool H264HasIdr(const uint8_t* p, size_t size, size_t lengthSize);
// The largest picture any sequence parameter set in H.264 data declares (Annex B, or NAL
// units with lengthSize-byte lengths); 0 when there is none.
int64_t H264LargestSps(const uint8_t* p, size_t n, size_t lengthSize);
// The same for codec data: an avcC record's parameter sets, or Annex B.
int64_t H264LargestSps(const std::vector<uint8_t>& extradata);

// Whether a packet holds a picture that needs nothing of the pictures before it, for the codecs
// whose bitstream tells; null for the others (their index's flags are taken as they are). The
// picture's size and bits per pixel are the stream format's.
std::function<bool(const uint8_t*, size_t)> KeyframeTest(AVCodecID id,
                                                         const std::vector<uint8_t>& extradata,
                                                         int width, int height, int bitsPerPixel);

// ---- The pictures a packet begins, for an index made without decoding -----------------------

// What begins in a packet of MPEG-1/2 video or H.264, read from the pictures' headers.
struct PictureStarts {
  int count = 0;          // pictures (frames or fields) beginning in it, counted up to 2
  bool field = false;     // the first is a field picture
  bool bottom = false;    // ... of the bottom field
  int type = 0;           // MPEG-1/2: the first's coding type, 1 I, 2 P, 3 B
  uint32_t frameNum = 0;  // H.264: the first's frame number
  bool pair = false;      // two: the first's two fields, so a whole frame
  bool reference = true;  // the first is one other pictures may be predicted from
};

// MPEG-1/2 video. *lowDelay is set from a sequence extension (pictures are not reordered).
PictureStarts Mpeg12Pictures(const uint8_t* p, size_t n, bool* lowDelay);

// The H.264 parameter sets a stream has shown, as far as slice headers need them.
struct H264ParamSets {
  struct Sps {
    bool known = false;
    uint8_t frameNumBits = 4;
    bool frameMbsOnly = true;
    bool separateColourPlane = false;
  };
  std::array<Sps, 32> sps{};
  std::array<int8_t, 256> ppsSps = MakePpsTable();  // the sequence set of each picture set, -1

 private:
  static std::array<int8_t, 256> MakePpsTable() {
    std::array<int8_t, 256> t;
    t.fill(-1);
    return t;
  }
};
// H.264 data (Annex B, or NAL units with lengthSize-byte lengths): its parameter sets go into
// *sets as they come. With onePicture (the demuxer's packets each hold one picture at most) the
// walk ends at the first picture's first slice.
PictureStarts H264Pictures(const uint8_t* p, size_t n, size_t lengthSize, H264ParamSets* sets,
                           bool onePicture);
// An avcC record's parameter sets, or Annex B codec data's, into *sets.
void H264ReadParamSets(const std::vector<uint8_t>& extradata, H264ParamSets* sets);
