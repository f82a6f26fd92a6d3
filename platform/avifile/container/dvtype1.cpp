// Type-1 DV streams carry no picture format: their strf is a DVINFO record (auxiliary packs of
// the audio and video). The picture's size is read from the DV frames themselves and the stream
// is described to the rest of the library as a DV stream with a bitmap header like any other.
#include <cstring>

extern "C" {
#include <libavcodec/dv_profile.h>
}

#include "avicontainer.h"
#include "codectags.h"
#include "packetreader.h"

namespace {

// A capture whose first frames were damaged on tape still opens; past this many packets the
// data is taken for no DV at all, so that a file of garbage costs few reads.
constexpr int kMaxProbedPackets = 64;

// The DV profile of a packet, or null when it is not a whole DV frame of this stream.
const AVDVProfile* ProfileOf(const PacketReader& reader, const AviChunk& c) {
  uint8_t b[DV_PROFILE_BYTES];  // the first DIF blocks
  if (c.size < DV_PROFILE_BYTES) return nullptr;
  const uint32_t size = reader.Check(c);
  if (size == 0 || !reader.ReadFront(c, b, sizeof b)) return nullptr;
  const AVDVProfile* p = av_dv_frame_profile(nullptr, b, DV_PROFILE_BYTES);
  // The decoder refuses a packet shorter than its profile's frame.
  return p && size >= static_cast<uint32_t>(p->frame_size) ? p : nullptr;
}

}  // namespace

void DescribeDvType1(const FileReader& file, const AviContainer& container, int number,
                     AviStreamData& stream) {
  stream.format.clear();
  int32_t width = container.width, height = container.height;
  uint32_t frameBytes = 0;
  int probed = 0;
  const PacketReader reader(file, number);
  for (size_t i = 0; i < stream.chunks.size(); ++i) {
    const AviChunk c = stream.chunks.At(i);
    if (c.size == 0) continue;  // a dropped frame tells nothing
    if (probed++ == kMaxProbedPackets) break;
    if (const AVDVProfile* p = ProfileOf(reader, c)) {
      width = p->width;
      height = p->height;
      frameBytes = static_cast<uint32_t>(p->frame_size);
      break;
    }
  }
  if (width <= 0 || height <= 0) return;
  BITMAPINFOHEADER h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = 24;
  // The handler names the DV flavour when it is a DV tag; any other (or none) is still DV.
  h.biCompression = CodecIdOfFourCC(stream.fccHandler) == AV_CODEC_ID_DVVIDEO
                        ? stream.fccHandler
                        : MakeFourCC('d', 'v', 's', 'd');
  h.biSizeImage = frameBytes;  // as type-2 DV headers give it
  stream.format.resize(sizeof h);
  std::memcpy(stream.format.data(), &h, sizeof h);
}
