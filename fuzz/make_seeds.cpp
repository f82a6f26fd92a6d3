// Writes the fuzzer's seed corpus into a folder: small well-formed AVI files of every layout our
// writer knows (each DIB depth, either row order, idx1 relative and absolute, no index, OpenDML
// with several RIFFs and with an index of several pieces, audio first, dropped frames, palette
// changes), and, when the ffmpeg command is there, one tiny file per compressed format the library
// decodes, a type-1 DV file (also with a recording date and time), and transport, program and raw
// DV streams for the libavformat reader.
//   dovrel-make-seeds OUTDIR
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "aviwriter.h"
#include "dvframes.h"

namespace {

std::vector<uint8_t> Pattern(size_t bytes, int seed) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(i * 7 + seed * 31);
  return v;
}

bool WriteRaw(const std::string& path, int32_t width, int32_t height, uint16_t bits, int frames,
              AviWriterOptions options = {}, uint32_t compression = BI_RGB, int palette = -1,
              bool dropEveryOther = false) {
  std::vector<uint8_t> format = AviWriter::Format(width, height, bits, compression);
  if (compression == BI_BITFIELDS) {
    const uint32_t masks[3] = {bits == 16 ? 0xF800u : 0xFF0000u, bits == 16 ? 0x07E0u : 0xFF00u,
                               bits == 16 ? 0x001Fu : 0xFFu};
    for (uint32_t m : masks)
      for (int i = 0; i < 4; ++i) format.push_back(static_cast<uint8_t>(m >> (8 * i)));
  }
  if (palette >= 0) {
    format[32] = static_cast<uint8_t>(palette);  // biClrUsed
    for (int i = 0; i < palette; ++i)
      for (int c = 0; c < 4; ++c)
        format.push_back(static_cast<uint8_t>(c == 3 ? 0 : i * (c + 1) * 13));
  }
  const int64_t rows = height < 0 ? -int64_t{height} : height;
  const size_t frameBytes = static_cast<size_t>(DibStride(width, bits) * rows);
  AviWriter writer(path, format, options);
  for (int f = 0; f < frames; ++f) {
    if (dropEveryOther && f % 2 == 1)
      writer.AddFrame({});
    else
      writer.AddFrame(Pattern(frameBytes, f));
    if (options.audioFirst) writer.AddAudio(64);
  }
  return writer.Close();
}

int Ffmpeg(const std::string& out, const std::string& size, int frames, const std::string& args) {
  const std::string command =
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=" + size +
      ":rate=30 -frames:v " + std::to_string(frames) + " " + args + " '" + out + "'";
  return std::system(command.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dovrel-make-seeds OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  ::mkdir(dir.c_str(), 0777);
  bool ok = true;
  AviWriterOptions absolute;
  absolute.idx1Absolute = true;
  AviWriterOptions none;
  none.index = AviWriterOptions::Index::kNone;
  AviWriterOptions odml;
  odml.index = AviWriterOptions::Index::kOpenDml;
  odml.riffLimit = 2048;
  AviWriterOptions audio;
  audio.audioFirst = true;
  AviWriterOptions odmlAudio = odml;
  odmlAudio.audioFirst = true;

  ok &= WriteRaw(dir + "/raw24.avi", 16, 16, 24, 3);
  ok &= WriteRaw(dir + "/raw24-topdown.avi", 16, -8, 24, 2);
  ok &= WriteRaw(dir + "/raw24-odd-width.avi", 5, 3, 24, 4, absolute);
  ok &= WriteRaw(dir + "/raw32.avi", 8, 8, 32, 2, none);
  ok &= WriteRaw(dir + "/raw16.avi", 8, 8, 16, 2);
  ok &= WriteRaw(dir + "/bitfields16.avi", 8, 8, 16, 2, {}, BI_BITFIELDS);
  ok &= WriteRaw(dir + "/bitfields32.avi", 8, -4, 32, 2, {}, BI_BITFIELDS);
  ok &= WriteRaw(dir + "/pal8.avi", 8, 8, 8, 2, {}, BI_RGB, 16);
  ok &= WriteRaw(dir + "/pal4.avi", 9, 4, 4, 2, audio, BI_RGB, 16);
  ok &= WriteRaw(dir + "/pal1.avi", 17, 3, 1, 2, {}, BI_RGB, 2);
  ok &= WriteRaw(dir + "/dropped.avi", 8, 4, 24, 6, {}, BI_RGB, -1, true);
  ok &= WriteRaw(dir + "/odml.avi", 16, 8, 24, 8, odml);
  ok &= WriteRaw(dir + "/odml-audio.avi", 8, 8, 24, 6, odmlAudio);
  // An OpenDML index longer than the piece the library reads back at a time (8,192 entries).
  AviWriterOptions odmlLong;
  odmlLong.index = AviWriterOptions::Index::kOpenDml;
  ok &= WriteRaw(dir + "/odml-pieces.avi", 1, 1, 24, 8300, odmlLong);
  // Palette changes before frames, listed in idx1 or, with OpenDML, found by a walk of movi.
  for (const AviWriterOptions& o : {AviWriterOptions{}, odml}) {
    std::vector<uint8_t> format = AviWriter::Format(8, 4, 8);
    format.resize(40 + 64, 0x20);
    AviWriter writer(dir + (o.index == odml.index ? "/pal8-changes-odml.avi" : "/pal8-changes.avi"),
                     format, o);
    for (uint32_t f = 0; f < 3; ++f) {
      writer.AddPaletteChange(AviWriter::PaletteChange(static_cast<uint8_t>(f), {0x102030 * f, 1}));
      writer.AddFrame(Pattern(32, static_cast<int>(f)));
    }
    ok &= writer.Close();
  }
  if (!ok) {
    std::fprintf(stderr, "dovrel-make-seeds: writing into %s failed\n", dir.c_str());
    return 1;
  }

  // Compressed formats, as ffmpeg writes them (idx1 plus an OpenDML super index).
  struct Codec {
    const char* name;
    const char* size;
    int frames;
    const char* args;
  };
  const Codec codecs[] = {
      {"dv", "720x480", 1, "-c:v dvvideo -pix_fmt yuv411p -r 30000/1001"},
      {"mjpeg", "32x16", 3, "-c:v mjpeg -q:v 8"},
      {"mpeg4-bf2", "32x32", 8, "-c:v mpeg4 -bf 2 -g 4 -q:v 10"},
      {"mpeg4-xvid", "16x16", 4, "-c:v mpeg4 -vtag XVID -g 2"},
      {"huffyuv", "16x8", 2, "-c:v huffyuv"},
      {"ffvhuff", "16x8", 2, "-c:v ffvhuff"},
      {"cinepak", "16x16", 2, "-c:v cinepak"},
      {"msvideo1", "16x16", 3, "-c:v msvideo1"},
      {"pal8", "16x8", 2, "-vf format=pal8 -c:v rawvideo"},
      {"yuy2", "16x8", 2, "-c:v rawvideo -pix_fmt yuyv422"},
      {"h264", "32x32", 6, "-c:v libx264 -preset ultrafast -bf 2 -g 4"},
      {"ffv1", "16x16", 2, "-c:v ffv1"},
      {"zmbv", "16x16", 3, "-c:v zmbv"},
  };
  int missing = 0;
  for (const Codec& c : codecs)
    if (Ffmpeg(dir + "/ff-" + c.name + ".avi", c.size, c.frames, c.args) != 0) ++missing;
  // A one-frame type-1 DV file (the frame as ffmpeg writes raw DV), without an index.
  const std::string dv = dir + "/frame.dv";
  if (Ffmpeg(dv, "720x480", 1, "-c:v dvvideo -pix_fmt yuv411p -r 30000/1001 -f dv") == 0) {
    std::vector<uint8_t> frame(120000);
    std::FILE* in = std::fopen(dv.c_str(), "rb");
    const bool read = in && std::fread(frame.data(), 1, frame.size(), in) == frame.size();
    if (in) std::fclose(in);
    AviWriterOptions type1 = none;
    type1.dvType1 = true;
    AviWriter writer(dir + "/dv-type1.avi", AviWriter::DvInfo(frame), type1);
    writer.AddFrame(frame);
    if (!writer.Close() || !read) ++missing;
    // The same frame as a camera stamps it: a recording date and time, a scene.
    StampDvFrame(frame.data(), frame.size(), DvClock::kSet, {3, 8, 15, 14, 32, 7});
    AviWriter recorded(dir + "/dv-type1-recorded.avi", AviWriter::DvInfo(frame), type1);
    recorded.AddFrame(frame);
    if (!recorded.Close()) ++missing;
  } else {
    ++missing;
  }
  std::remove(dv.c_str());
  // Other containers, for the libavformat reader: interlaced MPEG-2 with B-frames in a transport
  // and a program stream, interlaced H.264 in a transport stream, raw DV.
  const Codec containers[] = {
      {"mpeg2.ts", "32x32", 6, "-c:v mpeg2video -flags +ildct+ilme -top 1 -g 3 -bf 1 -f mpegts"},
      {"mpeg2.vob", "32x32", 6, "-c:v mpeg2video -flags +ildct+ilme -top 1 -g 3 -bf 1 -f vob"},
      {"h264.ts", "32x32", 6,
       "-c:v libx264 -preset ultrafast -x264-params interlaced=1 -bf 1 -g 3 -f mpegts"},
      {"raw.dv", "720x480", 1, "-c:v dvvideo -pix_fmt yuv411p -r 30000/1001 -f dv"},
  };
  for (const Codec& c : containers)
    if (Ffmpeg(dir + "/ff-" + c.name, c.size, c.frames, c.args) != 0) ++missing;
  if (missing) std::fprintf(stderr, "dovrel-make-seeds: %d ffmpeg seeds not written\n", missing);
  return 0;
}
