// The libavcodec-backed decompressor (any compressed or YUV stream).
#pragma once

#include <memory>
#include <string>

#include "decoder.h"

// Null, and *why set, when libavcodec has no decoder for the stream or it will not open.
std::unique_ptr<FrameDecoder> CreateLibavDecoder(const FileReader& file,
                                                 const AviStreamData& stream, int streamNumber,
                                                 const StreamFormat& format, AviDecoderError* why);
std::string LibavCodecName(const AviStreamData& stream, const BITMAPINFOHEADER& format);
