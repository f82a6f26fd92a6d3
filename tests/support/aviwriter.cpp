#include "aviwriter.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {
// Written without the reader's declarations, so that the two do not share a mistake.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}
constexpr uint32_t FCC(const char (&s)[5]) {
  return MakeFourCC(s[0], s[1], s[2], s[3]);
}
uint32_t ChunkId(int stream, const char* type) {
  return MakeFourCC(static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10),
                    type[0], type[1]);
}
constexpr uint32_t streamtypeVIDEO = FCC("vids");
constexpr uint32_t streamtypeAUDIO = FCC("auds");
}  // namespace

AviWriter::AviWriter(const std::string& path, std::vector<uint8_t> format, AviWriterOptions options)
    : format_(std::move(format)), options_(options) {
  if (options_.dvType1) {
    width_ = options_.width;
    height_ = options_.height;
  } else if (format_.size() >= 40) {
    std::memcpy(&width_, format_.data() + 4, 4);
    std::memcpy(&height_, format_.data() + 8, 4);
  }
  file_ = std::fopen(path.c_str(), "wb+");
  if (file_) WriteHeaders();
}

AviWriter::~AviWriter() {
  if (file_) Close();
}

std::vector<uint8_t> AviWriter::Format(int32_t width, int32_t height, uint16_t bitCount,
                                       uint32_t compression, uint32_t sizeImage) {
  BITMAPINFOHEADER h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = bitCount;
  h.biCompression = compression;
  int64_t rows = height < 0 ? -int64_t{height} : height;
  h.biSizeImage = sizeImage ? sizeImage : static_cast<uint32_t>(DibStride(width, bitCount) * rows);
  std::vector<uint8_t> out(40);
  std::memcpy(out.data(), &h, 40);
  return out;
}

std::vector<uint8_t> AviWriter::DvInfo(const std::vector<uint8_t>& frame) {
  // Audio source and control packs of either half of the frame (each half carries one audio
  // channel pair), then the video source and control packs; each kept as its 4 payload bytes.
  std::vector<uint8_t> info(32, 0);
  bool found[6] = {};
  auto keep = [&](int slot, const uint8_t* pack) {
    if (!found[slot]) std::memcpy(info.data() + 4 * slot, pack + 1, 4);
    found[slot] = true;
  };
  const size_t sequences = frame.size() / 12000;  // of 150 DIF blocks of 80 bytes
  for (size_t at = 0; at + 80 <= frame.size(); at += 80) {
    const uint8_t* b = frame.data() + at;
    const int type = b[0] >> 5;
    const bool second = (b[1] >> 4) >= sequences / 2;
    if (type == 3 && (b[3] == 0x50 || b[3] == 0x51)) {  // audio block: AAUX pack first
      keep((second ? 2 : 0) + (b[3] & 1), b + 3);
    } else if (type == 2) {  // VAUX block: 15 packs
      for (const uint8_t* p = b + 3; p < b + 78; p += 5)
        if (p[0] == 0x60 || p[0] == 0x61) keep(4 + (p[0] & 1), p);
    }
  }
  return info;
}

uint32_t AviWriter::IdOf(int stream) const {
  if (stream != VideoStream()) return ChunkId(stream, "wb");
  return ChunkId(stream, options_.dvType1 ? "__" : "dc");
}

uint64_t AviWriter::Tell() {
  return static_cast<uint64_t>(ftello(file_));
}
void AviWriter::Seek(uint64_t at) {
  if (fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0) failed_ = true;
}
void AviWriter::Put(const void* p, size_t n) {
  if (n && std::fwrite(p, 1, n, file_) != n) failed_ = true;
}
void AviWriter::Put16(uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  Put(b, 2);
}
void AviWriter::Put32(uint32_t v) {
  uint8_t b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  Put(b, 4);
}
void AviWriter::Put64(uint64_t v) {
  Put32(static_cast<uint32_t>(v));
  Put32(static_cast<uint32_t>(v >> 32));
}
void AviWriter::Patch32(uint64_t at, uint32_t v) {
  uint64_t here = Tell();
  Seek(at);
  Put32(v);
  Seek(here);
}
void AviWriter::PutChunk(uint32_t id, const void* data, uint32_t size) {
  Put32(id);
  Put32(size);
  Put(data, size);
  if (size & 1) Put("", 1);
}
uint64_t AviWriter::BeginList(uint32_t list, uint32_t type) {
  Put32(list);
  uint64_t at = Tell();
  Put32(0);
  Put32(type);
  return at;
}
void AviWriter::EndList(uint64_t sizeAt) {
  Patch32(sizeAt, static_cast<uint32_t>(Tell() - sizeAt - 4));
}

void AviWriter::WriteHeaders() {
  riffStart_ = 0;
  riffSizeAt_ = BeginList(FCC("RIFF"), FCC("AVI "));
  uint64_t hdrl = BeginList(FCC("LIST"), FCC("hdrl"));
  // avih
  Put32(FCC("avih"));
  Put32(56);
  Put32(static_cast<uint32_t>(1000000ull * options_.scale / options_.rate));
  Put32(0);
  Put32(0);
  Put32(0x10 | 0x100);  // AVIF_HASINDEX | AVIF_ISINTERLEAVED
  avihFramesAt_ = Tell();
  Put32(0);
  Put32(0);
  Put32(static_cast<uint32_t>(StreamCount()));
  Put32(0);
  Put32(static_cast<uint32_t>(width_));
  Put32(static_cast<uint32_t>(height_ < 0 ? -height_ : height_));
  for (int i = 0; i < 4; ++i) Put32(0);

  for (int s = 0; s < StreamCount(); ++s) {
    const bool video = s == VideoStream();
    uint64_t strl = BeginList(FCC("LIST"), FCC("strl"));
    Put32(FCC("strh"));
    Put32(56);
    Put32(!video ? streamtypeAUDIO : options_.dvType1 ? FCC("iavs") : streamtypeVIDEO);
    uint32_t handler = options_.fccHandler;
    if (!handler && options_.dvType1) handler = FCC("dvsd");
    if (!handler && format_.size() >= 20) std::memcpy(&handler, format_.data() + 16, 4);
    Put32(video ? handler : 0);
    Put32(0);  // flags
    Put32(0);  // priority, language
    Put32(0);  // initial frames
    Put32(video ? options_.scale : 1);
    Put32(video ? options_.rate : 48000 * 4);
    Put32(0);  // start
    strhLengthAt_[s] = Tell();
    Put32(0);  // length
    Put32(0);  // suggested buffer size
    Put32(0xFFFFFFFF);
    Put32(video ? 0 : 4);
    Put16(0), Put16(0), Put16(static_cast<uint16_t>(width_)), Put16(static_cast<uint16_t>(height_));
    if (video) {
      PutChunk(FCC("strf"), format_.data(), static_cast<uint32_t>(format_.size()));
    } else {
      uint8_t wf[16] = {1, 0, 2, 0};  // PCM, stereo, 48 kHz, 16-bit
      uint32_t rate = 48000, bytes = 48000 * 4;
      std::memcpy(wf + 4, &rate, 4);
      std::memcpy(wf + 8, &bytes, 4);
      wf[12] = 4, wf[14] = 16;
      PutChunk(FCC("strf"), wf, sizeof wf);
    }
    if (options_.index == AviWriterOptions::Index::kOpenDml) {
      // Super index with room for kSuperIndexSlots entries, filled at Close.
      Put32(FCC("indx"));
      Put32(24 + 16 * kSuperIndexSlots);
      indxAt_[s] = Tell();
      std::vector<uint8_t> zero(24 + 16 * kSuperIndexSlots, 0);
      Put(zero.data(), zero.size());
    }
    EndList(strl);
  }
  if (options_.index == AviWriterOptions::Index::kOpenDml) {
    uint64_t odml = BeginList(FCC("LIST"), FCC("odml"));
    Put32(FCC("dmlh"));
    Put32(248);
    dmlhAt_ = Tell();
    std::vector<uint8_t> zero(248, 0);
    Put(zero.data(), zero.size());
    EndList(odml);
  }
  EndList(hdrl);
  moviSizeAt_ = BeginList(FCC("LIST"), FCC("movi"));
  moviStart_ = moviSizeAt_ + 4;  // the 'movi' word
}

void AviWriter::AddFrame(const std::vector<uint8_t>& data, bool keyframe) {
  if (!file_) return;
  const uint64_t at = StartFrame();
  PutChunk(IdOf(VideoStream()), data.data(), static_cast<uint32_t>(data.size()));
  RecordFrame(at, static_cast<uint32_t>(data.size()), keyframe);
}

void AviWriter::AddPaletteChange(const std::vector<uint8_t>& data) {
  if (!file_) return;
  const uint64_t at = StartFrame();
  const auto size = static_cast<uint32_t>(data.size());
  PutChunk(ChunkId(VideoStream(), "pc"), data.data(), size);
  if (firstRiff_) all_.push_back({VideoStream(), at + 8, size, false, true});
}

std::vector<uint8_t> AviWriter::PaletteChange(uint8_t first, const std::vector<uint32_t>& colours) {
  std::vector<uint8_t> out = {first, static_cast<uint8_t>(colours.size()), 0, 0};  // 256 = 0
  for (uint32_t c : colours)
    out.insert(out.end(), {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                           static_cast<uint8_t>(c), 0});
  return out;
}

void AviWriter::AddSparseFrame(uint32_t bytes) {
  if (!file_) return;
  const uint64_t at = StartFrame();
  Put32(IdOf(VideoStream()));
  Put32(bytes);
  Seek(at + 8 + bytes + (bytes & 1));
  RecordFrame(at, bytes, true);
}

uint64_t AviWriter::StartFrame() {
  if (options_.index == AviWriterOptions::Index::kOpenDml &&
      Tell() - riffStart_ > options_.riffLimit)
    StartRiff();
  return Tell();
}

void AviWriter::RecordFrame(uint64_t at, uint32_t size, bool keyframe) {
  Entry e{VideoStream(), at + 8, size, keyframe};
  segment_.push_back(e);
  if (firstRiff_) all_.push_back(e);
  ++frames_;
}

void AviWriter::AddAudio(uint32_t bytes) {
  if (!file_ || !options_.audioFirst) return;
  std::vector<uint8_t> silence(bytes, 0);
  uint64_t at = Tell();
  PutChunk(IdOf(0), silence.data(), bytes);
  Entry e{0, at + 8, bytes, true};
  segment_.push_back(e);
  if (firstRiff_) all_.push_back(e);
  audioBytes_ += bytes;
}

void AviWriter::AddGap(uint64_t bytes) {
  while (file_ && bytes > 0) {
    uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(bytes, 1u << 30));
    if (options_.index == AviWriterOptions::Index::kOpenDml &&
        Tell() - riffStart_ + piece > options_.riffLimit)
      StartRiff();
    Put32(FCC("JUNK"));
    Put32(piece);
    Seek(Tell() + piece);  // a hole: no disk is used for it
    bytes -= piece;
  }
}

void AviWriter::EndSegment() {
  if (options_.index == AviWriterOptions::Index::kOpenDml) {
    for (int s = 0; s < StreamCount(); ++s) {
      std::vector<const Entry*> mine;
      for (const Entry& e : segment_)
        if (e.stream == s) mine.push_back(&e);
      if (mine.empty()) continue;
      uint64_t at = Tell();
      uint32_t size = static_cast<uint32_t>(24 + 8 * mine.size());
      Put32(MakeFourCC('i', 'x', static_cast<char>('0' + s / 10), static_cast<char>('0' + s % 10)));
      Put32(size);
      Put16(2);
      Put(std::vector<uint8_t>{0, 1}.data(), 2);  // sub type 0, AVI_INDEX_OF_CHUNKS
      Put32(static_cast<uint32_t>(mine.size()));
      Put32(IdOf(s));
      Put64(moviStart_);
      Put32(0);
      for (const Entry* e : mine) {
        Put32(static_cast<uint32_t>(e->dataPos - moviStart_));
        Put32(e->size | (e->key ? 0 : 0x80000000u));
      }
      super_[s].push_back({at, size + 8, static_cast<uint32_t>(mine.size())});
    }
  }
  EndList(moviSizeAt_);
  if (firstRiff_ && options_.index != AviWriterOptions::Index::kNone) {
    // idx1 covers the first RIFF.
    Put32(FCC("idx1"));
    Put32(static_cast<uint32_t>(16 * all_.size()));
    const uint64_t base = options_.idx1Absolute ? 0 : moviStart_;
    for (const Entry& e : all_) {
      Put32(e.paletteChange ? ChunkId(e.stream, "pc") : IdOf(e.stream));
      Put32(e.paletteChange ? 0x100 : e.key ? 0x10 : 0);  // AVIIF_NO_TIME, AVIIF_KEYFRAME
      Put32(static_cast<uint32_t>(e.dataPos - 8 - base));
      Put32(e.size);
    }
  }
  EndList(riffSizeAt_);
  segment_.clear();
}

void AviWriter::StartRiff() {
  EndSegment();
  firstRiff_ = false;
  riffStart_ = Tell();
  riffSizeAt_ = BeginList(FCC("RIFF"), FCC("AVIX"));
  moviSizeAt_ = BeginList(FCC("LIST"), FCC("movi"));
  moviStart_ = moviSizeAt_ + 4;
}

bool AviWriter::Close() {
  if (!file_) return false;
  EndSegment();
  uint64_t end = Tell();
  Patch32(avihFramesAt_, static_cast<uint32_t>(all_.size() - (options_.audioFirst ? 0 : 0)));
  Patch32(strhLengthAt_[VideoStream()], frames_);
  if (options_.audioFirst) Patch32(strhLengthAt_[0], audioBytes_ / 4);
  if (options_.index == AviWriterOptions::Index::kOpenDml) {
    for (int s = 0; s < StreamCount(); ++s) {
      Seek(indxAt_[s]);
      Put16(4);
      Put(std::vector<uint8_t>{0, 0}.data(), 2);  // AVI_INDEX_OF_INDEXES
      Put32(static_cast<uint32_t>(super_[s].size()));
      Put32(IdOf(s));
      Put32(0), Put32(0), Put32(0);
      for (const SuperEntry& e : super_[s]) {
        Put64(e.offset);
        Put32(e.size);
        Put32(e.duration);
      }
    }
    Seek(dmlhAt_);
    Put32(frames_);
  }
  Seek(end);
  bool good = !failed_ && super_[0].size() <= kSuperIndexSlots;
  // The file ends where the last chunk does, even when the last thing written was a hole.
  good = std::fflush(file_) == 0 && ftruncate(fileno(file_), static_cast<off_t>(end)) == 0 && good;
  good = std::fclose(file_) == 0 && good;
  file_ = nullptr;
  return good;
}
