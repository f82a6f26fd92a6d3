#include "track.h"

extern "C" {
#include <libavcodec/codec_par.h>
}

void CodecParametersFree::operator()(AVCodecParameters* p) const {
  avcodec_parameters_free(&p);
}
