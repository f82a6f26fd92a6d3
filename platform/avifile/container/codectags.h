// Which libavcodec decoder undoes a stream's compression, from the FourCC of its format (or
// of its stream header when the format's says nothing known).
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
}

// AV_CODEC_ID_NONE when no decoder is known for the tag. Case is ignored where no tag matches
// exactly. The DIB compressions 0 to 3 map too (raw video, RLE).
AVCodecID CodecIdOfFourCC(uint32_t fourcc);
