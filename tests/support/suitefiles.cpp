#include "suitefiles.h"

#include <cstring>
#include <sstream>

namespace testutil {

// Encoders that ffmpeg writes into AVI with a tag some reader knows. Left out: those it writes
// with no tag at all (image formats such as bmp, gif, apng, tiff, qoi, webp; qtrle, smc, roq,
// rv10/20, libx265 without -tag, avui, xface, vbn), which ffmpeg cannot read back either.
const EncoderCase kEncoderCases[] = {
    // Raw video in the layouts AVI has tags for; widths that are no multiple of 4, and odd sizes
    // (testsrc2 makes even ones: scaled), check the sizes of planes and rows.
    {"raw_i420", "rawvideo", "-pix_fmt yuv420p", 66, 50},
    {"raw_iyuv", "rawvideo", "-pix_fmt yuv420p", 66, 50, "IYUV"},
    {"raw_i420_odd", "rawvideo", "-pix_fmt yuv420p -vf scale=65:49", 65, 49},
    {"raw_y42b_odd", "rawvideo", "-pix_fmt yuv422p -vf scale=65:49", 65, 49},
    {"raw_y41b_odd", "rawvideo", "-pix_fmt yuv411p -vf scale=65:49", 65, 49},
    {"raw_yuv9_odd", "rawvideo", "-pix_fmt yuv410p -vf scale=65:49", 65, 49},
    {"raw_nv12_odd", "rawvideo", "-pix_fmt nv12 -vf scale=65:49", 65, 49},
    {"raw_y800_odd", "rawvideo", "-pix_fmt gray -vf scale=65:49", 65, 49},
    {"raw_yv12", "rawvideo", "-pix_fmt yuv420p", 66, 50, "YV12"},
    {"raw_yuy2", "rawvideo", "-pix_fmt yuyv422", 66, 50},
    {"raw_uyvy", "rawvideo", "-pix_fmt uyvy422", 66, 50},
    {"raw_yvyu", "rawvideo", "-pix_fmt yvyu422", 66, 50},
    {"raw_y42b", "rawvideo", "-pix_fmt yuv422p", 66, 50},
    {"raw_y41b", "rawvideo", "-pix_fmt yuv411p", 66, 50},
    {"raw_yuv9", "rawvideo", "-pix_fmt yuv410p", 66, 50},
    {"raw_yvu9", "rawvideo", "-pix_fmt yuv410p", 66, 50, "YVU9"},
    {"raw_nv12", "rawvideo", "-pix_fmt nv12", 66, 50},
    {"raw_nv21", "rawvideo", "-pix_fmt nv21", 66, 50},
    {"raw_y800", "rawvideo", "-pix_fmt gray", 66, 50},
    {"raw_grey", "rawvideo", "-pix_fmt gray", 66, 50, "GREY"},
    {"raw_rgba", "rawvideo", "-pix_fmt rgba", 66, 50},
    {"raw_bgr24", "rawvideo", "-pix_fmt bgr24", 66, 50},
    {"raw_bgra", "rawvideo", "-pix_fmt bgra", 66, 50},
    // Our own converter scales 5-bit channels by 255/31; ffmpeg repeats their top bits.
    {"raw_rgb555", "rawvideo", "-pix_fmt rgb555le", 66, 50, nullptr, 0, 1},
    {"raw_pal8", "rawvideo", "-pix_fmt pal8", 66, 50},
    {"raw_mono", "rawvideo", "-pix_fmt monow", 66, 50},
    {"y41p", "y41p", "", 64, 48},
    {"yuv4", "yuv4", "", 66, 50},
    {"ayuv", "ayuv", "", 66, 50},
    {"v210", "v210", "", 66, 50},
    {"v308", "v308", "", 66, 50},
    {"v408", "v408", "", 66, 50},
    {"v410", "v410", "", 66, 50},
    {"r210", "r210", "", 66, 50},
    {"r10k", "r10k", "", 66, 50},
    {"cljr", "cljr", "", 64, 48},
    // Lossless.
    {"huffyuv", "huffyuv", "", 66, 50},
    {"huffyuv_rgb", "huffyuv", "-pix_fmt rgb24", 66, 50},
    {"ffvhuff", "ffvhuff", "", 66, 50},
    // ffmpeg takes codec data for a colour table where the header says 8 bits.
    {"ffvhuff_gray_8bit", "ffvhuff", "-pix_fmt gray", 66, 50, nullptr, kEightBits | kOriginal},
    {"ffvhuff_gray_8bit_table", "ffvhuff", "-pix_fmt gray", 66, 50, nullptr,
     kEightBits | kTableFirst | kOriginal},
    {"ffv1", "ffv1", "", 66, 50},
    {"ffv1_odd", "ffv1", "-vf scale=65:49", 65, 49},
    {"ffv1_v3", "ffv1", "-level 3 -pix_fmt yuv444p", 66, 50},
    {"utvideo", "utvideo", "", 66, 50},
    {"utvideo_rgb", "utvideo", "-pix_fmt gbrp", 66, 50},
    {"magicyuv", "magicyuv", "", 66, 50},
    {"magicyuv_422", "magicyuv", "-pix_fmt yuv422p", 66, 50, "MAGY"},
    {"magicyuv_gray", "magicyuv", "-pix_fmt gray", 66, 50},
    {"png", "png", "", 66, 50},
    {"png_odd", "png", "-vf scale=65:49", 65, 49},
    {"png_pal8", "png", "-pix_fmt pal8", 66, 50},
    {"png_gray", "png", "-pix_fmt gray", 66, 50},
    {"jpegls", "jpegls", "", 66, 50},
    {"ljpeg", "ljpeg", "-pix_fmt yuvj420p", 66, 50},
    {"zlib", "zlib", "", 66, 50},
    {"zmbv", "zmbv", "", 66, 50},
    {"flashsv", "flashsv", "", 66, 50},
    // Motion JPEG, JPEG 2000 and other intra codecs.
    {"mjpeg", "mjpeg", "", 66, 50},
    {"mjpeg_odd", "mjpeg", "-vf scale=65:49", 65, 49},
    {"mjpeg_avid", "mjpeg", "", 66, 50, "AVRn"},
    {"mjpeg_avid_upper", "mjpeg", "", 66, 50, "AVRN", kOriginal},
    {"mjpeg_422", "mjpeg", "-pix_fmt yuvj422p", 66, 50, "mjpg"},
    {"amv", "amv", "-strict -1", 64, 48},
    {"jpeg2000", "jpeg2000", "", 66, 50},
    {"libopenjpeg", "libopenjpeg", "", 66, 50},
    {"dnxhr", "dnxhd", "-profile:v dnxhr_lb -pix_fmt yuv422p", 256, 144},
    {"prores", "prores", "", 66, 50},
    {"prores_ks", "prores_ks", "", 66, 50},
    {"cfhd", "cfhd", "", 64, 48},
    {"hap", "hap", "", 64, 48},
    {"speedhq", "speedhq", "", 64, 48},
    {"asv1", "asv1", "", 64, 48},
    {"asv2", "asv2", "", 64, 48},
    {"dpx", "dpx", "", 66, 50},
    {"targa", "targa", "", 66, 50},
    {"vc2", "vc2", "", 64, 48},
    // DV: 4:1:1 (NTSC), 4:2:0 (PAL), 4:2:2 (DV50), DVCPRO HD; the tags capture tools write.
    {"dv_ntsc", "dvvideo", "-pix_fmt yuv411p", 720, 480},
    {"dv_pal", "dvvideo", "-pix_fmt yuv420p", 720, 576, "DVSD"},
    {"dv50", "dvvideo", "-pix_fmt yuv422p", 720, 480, "dv50"},
    {"dvcprohd", "dvvideo", "-pix_fmt yuv422p", 960, 720, "dvh1"},
    {"dv_canopus", "dvvideo", "-pix_fmt yuv411p", 720, 480, "CDVC"},
    // ffmpeg asks no handler.
    {"dv_by_handler", "dvvideo", "-pix_fmt yuv411p", 720, 480, "dvsd", kTagHandlerOnly | kOriginal},
    // MPEG-4 part 2 and its relatives.
    {"mpeg4", "mpeg4", "-g 2", 66, 50},
    {"mpeg4_xvid", "mpeg4", "-g 2 -bf 1", 66, 50, "XVID"},
    {"mpeg4_divx", "mpeg4", "-g 2", 66, 50, "DIVX"},
    {"mpeg4_dx50", "mpeg4", "-g 2", 66, 50, "DX50"},
    {"mpeg4_by_handler", "mpeg4", "-g 2", 66, 50, "XVID", kTagHandlerOnly | kOriginal},
    {"libxvid", "libxvid", "", 64, 48},
    {"msmpeg4v2", "msmpeg4v2", "", 64, 48},
    {"msmpeg4v3", "msmpeg4", "", 64, 48},
    {"msmpeg4v3_div3", "msmpeg4", "", 64, 48, "DIV3"},
    {"wmv1", "wmv1", "", 64, 48},
    {"wmv2", "wmv2", "", 64, 48},
    {"h261", "h261", "", 176, 144},
    {"h263", "h263", "", 128, 96},
    {"h263p", "h263p", "", 64, 48},
    {"flv1", "flv", "", 64, 48},
    {"svq1", "svq1", "", 64, 48},
    {"snow", "snow", "", 64, 48},
    {"mpeg1video", "mpeg1video", "", 64, 48},
    {"mpeg2video_bt709", "mpeg2video", "-colorspace bt709", 64, 48},
    // H.264 and later: colour flags as HD cameras write them, full range, aliases.
    {"h264", "libx264", "-preset veryfast", 66, 50},
    {"h264_bt709", "libx264", "-preset veryfast -colorspace bt709 -color_primaries bt709", 64, 48},
    {"h264_full_range", "libx264", "-preset veryfast -pix_fmt yuvj420p", 64, 48},
    {"h264_x264", "libx264", "-preset veryfast", 64, 48, "X264"},
    {"h264_avc1", "libx264", "-preset veryfast", 64, 48, "avc1"},
    {"h264_rgb", "libx264rgb", "-preset veryfast", 64, 48},
    {"hevc", "libx265", "-tag:v HEVC -x265-params log-level=none", 64, 48},
    {"hevc_h265", "libx265", "-tag:v HEVC -x265-params log-level=none", 64, 48, "H265"},
    {"theora", "libtheora", "", 64, 48},
    {"vp8", "libvpx", "", 64, 48},
    {"vp9", "libvpx-vp9", "-deadline realtime", 64, 48},
    {"vp9_full_range", "libvpx-vp9", "-deadline realtime -color_range pc", 64, 48},
    {"av1", "libaom-av1", "-cpu-used 8", 64, 48},
    // Old desktop codecs.
    {"cinepak", "cinepak", "", 64, 48},
    {"msvideo1", "msvideo1", "", 64, 48},
    {"rpza", "rpza", "", 64, 48},
    {"a64multi", "a64multi", "", 64, 48, nullptr, kNothingDecodes},
};

namespace {

std::vector<std::string> Split(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// The tag over the format's biCompression (or an unknown one there) and the stream's handler;
// the header's bit count and layout.
void Retag(std::vector<uint8_t>& avi, const EncoderCase& c) {
  const std::string text(avi.begin(), avi.end());
  const size_t strh = text.find("strh"), strf = text.find("strf", strh);
  ASSERT_TRUE(strf != std::string::npos && text.compare(strh + 8, 4, "vids") == 0);
  uint8_t* h = avi.data() + strf + 8;
  if (c.fourcc) {
    std::memcpy(avi.data() + strh + 12, c.fourcc, 4);
    std::memcpy(h + 16, c.flags & kTagHandlerOnly ? "ZZZZ" : c.fourcc, 4);
  }
  if (c.flags & kEightBits) h[14] = 8;
  if (c.flags & kTableFirst) {
    // 16 entries go in after the header, taken from the JUNK chunk after strf: nothing moves.
    auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) avi[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto le32 = [&](size_t at) {
      return uint32_t{avi[at]} | uint32_t{avi[at + 1]} << 8 | uint32_t{avi[at + 2]} << 16 |
             uint32_t{avi[at + 3]} << 24;
    };
    const size_t junk = strf + 8 + le32(strf + 4);
    ASSERT_EQ(text.compare(junk, 4, "JUNK"), 0);
    ASSERT_GE(le32(junk + 4), 64u);
    avi.erase(avi.begin() + static_cast<ptrdiff_t>(junk + 8),
              avi.begin() + static_cast<ptrdiff_t>(junk + 72));
    put32(junk + 4, le32(junk + 4) - 64);
    std::vector<uint8_t> table(64);
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(i * 4);
    avi.insert(avi.begin() + static_cast<ptrdiff_t>(strf + 8 + 40), table.begin(), table.end());
    put32(strf + 4, le32(strf + 4) + 64);
    put32(strf + 8, 40);       // biSize
    put32(strf + 8 + 32, 16);  // biClrUsed
  }
}

uint32_t Le32At(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}

}  // namespace

std::vector<EncodedFile> MakeEncoderFiles(const TempDir& dir, int frames, const std::string& args,
                                          std::string* missing) {
  std::vector<EncodedFile> files;
  for (const EncoderCase& c : kEncoderCases) {
    if (!HasEncoder(c.encoder)) {
      *missing += std::string(" ") + c.encoder;
      continue;
    }
    const std::string base = dir.File(c.name);
    files.push_back(
        {&c, base + ".avi", c.fourcc || c.flags ? base + "-copy.avi" : base + ".avi", ""});
  }
  auto encode = [&](const EncodedFile& f) {
    std::vector<std::string> a = {"-map", "0:v",       "-frames:v", std::to_string(frames),
                                  "-c:v", f.c->encoder};
    for (std::string& w : Split(args + " " + f.c->args)) a.push_back(std::move(w));
    a.push_back(f.original);
    return a;
  };
  // One ffmpeg run makes every file of a size: a run costs more to start than these clips to
  // code. A failing run is retried file by file to find the fault.
  std::vector<bool> made(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (made[i]) continue;
    const int w = files[i].c->width, h = files[i].c->height;
    const std::vector<std::string> input = {
        "-f", "lavfi", "-i",
        "testsrc2=size=" + std::to_string(w) + "x" + std::to_string(h) + ":rate=30000/1001"};
    std::vector<std::string> all = input;
    std::vector<size_t> group;
    for (size_t j = i; j < files.size(); ++j)
      if (files[j].c->width == w && files[j].c->height == h) {
        group.push_back(j);
        for (std::string& a : encode(files[j])) all.push_back(std::move(a));
      }
    const bool ok = Ffmpeg(all);
    for (size_t j : group) {
      made[j] = true;
      EncodedFile& f = files[j];
      std::vector<std::string> one = input;
      for (std::string& a : encode(f)) one.push_back(std::move(a));
      ::testing::AssertionResult r = ok ? ::testing::AssertionSuccess() : Ffmpeg(one);
      if (!r) {
        f.fault = r.message();
      } else if (f.path != f.original) {
        std::vector<uint8_t> bytes = ReadFile(f.original);
        Retag(bytes, *f.c);
        WriteFile(f.path, bytes);
      }
    }
  }
  return files;
}

void WritePaletteClip(const std::string& path, PaletteClip kind) {
  constexpr int kWidth = 16, kHeight = 8, kFrames = 6;
  const bool rle = kind == PaletteClip::kRle8;
  const int bits = kind == PaletteClip::kRaw4 ? 4 : 8;
  std::vector<uint8_t> format =
      AviWriter::Format(kWidth, kHeight, static_cast<uint16_t>(bits), rle ? BI_RLE8 : BI_RGB);
  for (int i = 0; i < (1 << bits); ++i)  // blue, green, red, 0
    format.insert(format.end(), {static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i),
                                 static_cast<uint8_t>(i * 5), 0});
  AviWriter writer(path, format);
  std::vector<uint8_t> pixels(kWidth * kHeight);  // indices, bottom-up
  for (int f = 0; f < kFrames; ++f) {
    if (f == 0 || f == 2 || f == 3 || f == 5) {
      std::vector<uint32_t> colours(f == 3 ? 256 : 5);
      for (size_t i = 0; i < colours.size(); ++i)
        colours[i] = static_cast<uint32_t>((f * 40 + i * 9) * 0x010101 ^ i * 0x3F0050);
      writer.AddPaletteChange(
          AviWriter::PaletteChange(static_cast<uint8_t>(f == 3 ? 0 : f * 2), colours));
    }
    std::vector<uint8_t> data;
    if (f % 3 == 0) {
      for (int i = 0; i < kWidth * kHeight; ++i)
        pixels[i] = static_cast<uint8_t>((i % kWidth + 3 * (i / kWidth) + 5 * f) % 16);
      for (int y = 0; y < kHeight && rle; ++y) {  // each row literal, then the end of the line
        data.insert(data.end(), {0, kWidth});
        data.insert(data.end(), pixels.begin() + y * kWidth, pixels.begin() + (y + 1) * kWidth);
        data.insert(data.end(), {0, 0});
      }
    } else {
      // Three pixels of the third row change: a delta code to them, three literal pixels (and a
      // byte of padding), the end of the picture.
      for (int x = 3; x < 6; ++x) pixels[2 * kWidth + x] = static_cast<uint8_t>((f * 7 + x) % 16);
      if (rle) data = {0, 2, 3, 2, 0, 3, pixels[35], pixels[36], pixels[37], 0};
    }
    if (rle) {
      data.insert(data.end(), {0, 1});
    } else if (bits == 8) {
      data = pixels;
    } else {
      for (size_t i = 0; i < pixels.size(); i += 2)
        data.push_back(static_cast<uint8_t>(pixels[i] << 4 | pixels[i + 1]));
    }
    writer.AddFrame(data, true);
  }
  EXPECT_TRUE(writer.Close());
}

::testing::AssertionResult RemuxAvi(const std::string& from, const std::string& to,
                                    AviWriterOptions::Index index) {
  const std::vector<uint8_t> b = ReadFile(from);
  const std::string t(b.begin(), b.end());
  const size_t strh = t.find("strh"), strf = t.find("strf"), movi = t.find("movi") - 8,
               idx1 = t.rfind("idx1");
  if (strh == std::string::npos || strf == std::string::npos || movi > b.size() ||
      t.compare(movi, 4, "LIST") != 0 || strf + 8 + Le32At(b, strf + 4) > b.size() ||
      strh + 36 > b.size())
    return ::testing::AssertionFailure() << from << " is not an AVI file to copy";
  const size_t moviEnd = std::min(b.size(), movi + 8 + Le32At(b, movi + 4));
  std::vector<bool> keys;
  for (size_t e = idx1 + 8; idx1 != std::string::npos && idx1 >= moviEnd && e + 16 <= b.size();
       e += 16)
    if (t.compare(e + 2, 2, "dc") == 0 || t.compare(e + 2, 2, "db") == 0)
      keys.push_back(b[e + 4] & 0x10);
  AviWriterOptions options;
  options.index = index;
  options.riffLimit = 4096;  // OpenDML: a few AVIX RIFFs even for these small files
  options.fccHandler = Le32At(b, strh + 12);
  options.scale = Le32At(b, strh + 28);
  options.rate = Le32At(b, strh + 32);
  AviWriter writer(to, {b.begin() + strf + 8, b.begin() + strf + 8 + Le32At(b, strf + 4)}, options);
  size_t frame = 0;
  for (size_t at = movi + 12; at + 8 <= moviEnd;) {
    const uint32_t size = Le32At(b, at + 4);
    if (size > b.size() - at - 8) break;
    const std::vector<uint8_t> data(b.begin() + at + 8, b.begin() + at + 8 + size);
    const std::string kind = t.substr(at + 2, 2);
    if (kind == "dc" || kind == "db") {
      writer.AddFrame(data, frame >= keys.size() || keys[frame]);
      ++frame;
    } else if (kind == "pc") {
      writer.AddPaletteChange(data);
    }
    at += 8 + size + (size & 1);
  }
  if (!writer.Close()) return ::testing::AssertionFailure() << "cannot write " << to;
  return ::testing::AssertionSuccess();
}

void FlagEveryIdx1EntryKey(const std::string& path) {
  std::vector<uint8_t> b = ReadFile(path);
  const size_t idx1 = std::string(b.begin(), b.end()).rfind("idx1");
  ASSERT_NE(idx1, std::string::npos) << path;
  for (size_t e = idx1 + 8; e + 16 <= b.size(); e += 16) b[e + 4] |= 0x10;
  WriteFile(path, b);
}

}  // namespace testutil
