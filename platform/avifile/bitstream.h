// Codec bitstream tests: read from a packet's bytes, never by decoding it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

// First MPEG-4 part 2 VOP type in a packet: 0 I, 1 P, 2 B, 3 S; -1 if none.
int Mpeg4VopType(const uint8_t* p, size_t n);
// Whether an H.264 packet (Annex B, or length-prefixed after an avcC record) holds an IDR slice.
bool H264HasIdr(const uint8_t* p, size_t size, const std::vector<uint8_t>& extradata);
// The largest picture any sequence parameter set in H.264 data declares (Annex B, or NAL
// units with lengthSize-byte lengths); 0 when there is none.
int64_t H264LargestSps(const uint8_t* p, size_t n, size_t lengthSize);

// Whether a packet starts a picture decoding can start at, for the codecs whose bitstream tells
// (an I-VOP of MPEG-4 part 2, an IDR picture of H.264); null for the others.
std::function<bool(const uint8_t*, size_t)> KeyframeTest(AVCodecID id,
                                                         const std::vector<uint8_t>& extradata);
