// The libavcodec-backed decompressor (any compressed or YUV stream).
#pragma once

#include <memory>
#include <string>

#include "decoder.h"

std::unique_ptr<FrameDecoder> CreateLibavDecoder(const FileReader& file,
                                                 const AviStreamData& stream, int streamNumber,
                                                 const BITMAPINFOHEADER& format);
std::string LibavCodecName(const AviStreamData& stream, const BITMAPINFOHEADER& format);
