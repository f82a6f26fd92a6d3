#include "track.h"

extern "C" {
#include <libavcodec/codec_par.h>
}

void CodecParametersFree::operator()(AVCodecParameters* p) const {
  avcodec_parameters_free(&p);
}

std::vector<uint8_t> CodecDataOf(const AVCodecParameters& par) {
  if (!par.extradata || par.extradata_size <= 0) return {};
  return {par.extradata, par.extradata + par.extradata_size};
}
