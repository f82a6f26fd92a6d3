#include "codectags.h"

#include <cctype>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

struct Tag {
  const char* fourcc;  // upper case
  AVCodecID id;
};

// Tags neither of libavformat's exported tables has. Its own AVI reader knows these H.265 tags
// from a list it keeps apart; DVRs and capture tools write them.
constexpr Tag kExtraTags[] = {
    {"HEVC", AV_CODEC_ID_HEVC},
    {"H265", AV_CODEC_ID_HEVC},
};

}  // namespace

AVCodecID CodecIdOfFourCC(uint32_t fourcc) {
  // The tables every AVI reader of the FFmpeg family consults, in its order: the AVI table, then
  // the QuickTime one (ffmpeg writes QuickTime tags into AVI for codecs the first lacks, ProRes
  // among them). Within each, an exact match first, then one that ignores case.
  const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), avformat_get_mov_video_tags(),
                                      nullptr};
  AVCodecID id = av_codec_get_id(tables, fourcc);
  if (id != AV_CODEC_ID_NONE) return id;
  char upper[4];
  for (int i = 0; i < 4; ++i)
    upper[i] = static_cast<char>(std::toupper((fourcc >> (8 * i)) & 0xFF));
  for (const Tag& t : kExtraTags)
    if (std::memcmp(upper, t.fourcc, 4) == 0) return t.id;
  return AV_CODEC_ID_NONE;
}
