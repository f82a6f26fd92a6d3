// The libavcodec-backed decompressor (any compressed or YUV stream).
#pragma once

#include <memory>
#include <vector>

#include "decoder.h"

// Null, and *why set, when libavcodec has no decoder for the stream or it will not open.
std::unique_ptr<FrameDecoder> CreateLibavDecoder(std::unique_ptr<Track> track,
                                                 const DecoderParams& params, AviDecoderError* why);

// Decodes a timed track's units from its start, in order, until the picture of unit `until` comes
// out (*reached) or `limit` units are sent, and then what the decoder holds: the units whose
// pictures came out, in the order they did. An index learns from it which pictures before its
// first keyframe's decoding never shows.
std::vector<int32_t> UnitsShownFromStart(Track& track, const AVCodecParameters& par, int32_t until,
                                         int32_t limit, bool* reached);
