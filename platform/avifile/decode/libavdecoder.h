// The libavcodec-backed decompressor (any compressed or YUV stream).
#pragma once

#include <memory>

#include "decoder.h"

// Null, and *why set, when libavcodec has no decoder for the stream or it will not open.
std::unique_ptr<FrameDecoder> CreateLibavDecoder(std::unique_ptr<Track> track,
                                                 const DecoderParams& params, AviDecoderError* why);
