// Our libavformat reader against FFMS2 in the same run, on three minutes of 1440 x 1080
// interlaced MPEG-2 (HDV's) and of 1920 x 1080 interlaced H.264 (AVCHD's), each in a transport
// stream made at the first run and kept in the build folder: the open (its index), a fetch of a
// random position, a step back and a step forward, and the pictures of each that are not the
// ones ffmpeg's sequential decode outputs at their positions (ours must be none). Times are CPU
// time of the process: the decoders' threads count. Also the memory the open holds a position.
//   bench/bench_containers [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <ffms.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/md5.h>
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
}

#include "avifile.h"
#include "dib.h"
#include "openvideo.h"
#include "ratio.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 5394;  // three minutes at 30000/1001 frames a second
constexpr int kOpens = 4;
constexpr int kRandomFetches = 40;
constexpr int kSteps = 60;  // of each walk, back from the last position and on from the first

struct Clip {
  const char* name;
  int width, height;
  const char* codec;  // ffmpeg output options
};
const Clip kClips[] = {
    {"mpeg2", 1440, 1080,
     "-c:v mpeg2video -b:v 25M -flags +ildct+ilme -top 1 -g 15 -bf 2 -f mpegts"},
    {"h264", 1920, 1080,
     "-c:v libx264 -preset superfast -b:v 20M -flags +ildct+ilme -x264-params "
     "interlaced=1:tff=1:keyint=15 -bf 2 -pix_fmt yuv420p -f mpegts"},
};

std::string PathOf(const Clip& c, const char* suffix = ".ts") {
  return (fs::path(DOVREL_BENCH_FILES) / (std::string(c.name) + suffix)).string();
}

bool Run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// Each picture's MD5 as ffmpeg's sequential decode outputs it, in a pixel format.
std::vector<std::string> FfmpegHashes(const Clip& c, const char* format) {
  const std::string out = PathOf(c, (std::string(".") + format + ".md5").c_str());
  if (!fs::exists(out) &&
      !Run("ffmpeg -nostdin -loglevel error -y -i '" + PathOf(c) +
           "' -map 0:v:0 -fps_mode passthrough -pix_fmt " + format + " -f framemd5 '" + out + "'"))
    return {};
  std::vector<std::string> hashes;
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(' ') + 1));
  return hashes;
}

void MakeFiles() {
  fs::create_directories(DOVREL_BENCH_FILES);
  for (const Clip& c : kClips) {
    if (fs::exists(PathOf(c))) continue;
    std::printf("writing %s (once; kept for later runs)\n", PathOf(c).c_str());
    const std::string partial = PathOf(c, ".partial.ts");
    if (!Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=" +
             std::to_string(c.width) + "x" + std::to_string(c.height) +
             ":rate=30000/1001 -frames:v " + std::to_string(kFrames) + " " + c.codec + " '" +
             partial + "'")) {
      std::fprintf(stderr, "bench: ffmpeg could not write %s\n", partial.c_str());
      std::exit(1);
    }
    fs::rename(partial, PathOf(c));
  }
  for (const Clip& c : kClips) {
    if (fs::exists(PathOf(c, ".part.ts"))) continue;
    // The first eighth, in whole transport packets.
    std::ifstream in(PathOf(c), std::ios::binary);
    std::vector<char> bytes(fs::file_size(PathOf(c)) / 8 / 188 * 188);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::ofstream(PathOf(c, ".part.ts"), std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
}

class Md5 {
 public:
  Md5() : ctx_(av_md5_alloc()) { av_md5_init(ctx_); }
  ~Md5() { av_free(ctx_); }
  void Add(const uint8_t* p, size_t n) { av_md5_update(ctx_, p, n); }
  std::string Hex() {
    uint8_t sum[16];
    av_md5_final(ctx_, sum);
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", sum[i]);
    return hex;
  }

 private:
  AVMD5* ctx_;
};

// Ours: an opened file's first video stream and its frames.
struct Ours : OpenVideo {
  explicit Ours(const std::string& path, bool /*checking*/ = false) : OpenVideo(path) {}
  // The delivered picture's MD5 as ffmpeg's bgr24 output: rows from the top, no padding.
  std::string Hash(int pos, int width, int height) {
    const auto* dib = static_cast<const uint8_t*>(AVIStreamGetFrame(frames, pos));
    if (!dib) return "";
    Md5 md5;
    const int64_t stride = DibStride(width, 24);
    for (int y = height - 1; y >= 0; --y) md5.Add(dib + 40 + y * stride, width * 3u);
    return md5.Hex();
  }
};

// FFMS2: its index and video source, pictures as 24-bit BGR as ours are, or, when checking them
// against ffmpeg's, in the decoder's own format.
struct Ffms {
  explicit Ffms(const std::string& path, bool checking = false) : checking(checking) {
    char message[1024];
    FFMS_ErrorInfo e{0, 0, sizeof message, message};
    FFMS_Indexer* indexer = FFMS_CreateIndexer(path.c_str(), &e);
    if (indexer) index = FFMS_DoIndexing2(indexer, FFMS_IEH_ABORT, &e);
    const int track = index ? FFMS_GetFirstTrackOfType(index, FFMS_TYPE_VIDEO, &e) : -1;
    if (track >= 0)
      source = FFMS_CreateVideoSource(path.c_str(), track, index, 0, FFMS_SEEK_NORMAL, &e);
    if (!source) std::fprintf(stderr, "bench: FFMS2: %s\n", message);
    frames = source ? FFMS_GetVideoProperties(source)->NumFrames : 0;
    const int bgr[] = {AV_PIX_FMT_BGR24, -1};
    const FFMS_Frame* first = source ? FFMS_GetFrame(source, 0, &e) : nullptr;
    if (first && !checking)
      FFMS_SetOutputFormatV2(source, bgr, first->EncodedWidth, first->EncodedHeight,
                             FFMS_RESIZER_BICUBIC, &e);
  }
  ~Ffms() {
    if (source) FFMS_DestroyVideoSource(source);
    if (index) FFMS_DestroyIndex(index);
  }
  // The picture's MD5 as ffmpeg's output in the same 4:2:0 format.
  std::string Hash(int pos, int width, int height) {
    char message[1024];
    FFMS_ErrorInfo e{0, 0, sizeof message, message};
    const FFMS_Frame* f = FFMS_GetFrame(source, pos, &e);
    if (!f) return "";
    if (!checking) return "converted";
    Md5 md5;
    for (int plane = 0; plane < 3; ++plane) {
      const int w = plane ? width / 2 : width, h = plane ? height / 2 : height;
      for (int y = 0; y < h; ++y) md5.Add(f->Data[plane] + y * f->Linesize[plane], w);
    }
    return md5.Hex();
  }
  bool checking;
  FFMS_Index* index = nullptr;
  FFMS_VideoSource* source = nullptr;
  int frames = 0;
};

std::vector<int> RandomPositions(int frames) {
  std::mt19937 rng(21);
  std::vector<int> positions;
  for (int i = 0; i < kRandomFetches; ++i) positions.push_back(static_cast<int>(rng() % frames));
  return positions;
}

void BM_OpenOurs(benchmark::State& state, const Clip* c) {
  for (auto _ : state) {
    AVIFileInit();
    PAVIFILE file = nullptr;
    if (AVIFileOpen(&file, PathOf(*c).c_str(), OF_READ, nullptr) != AVIERR_OK)
      state.SkipWithError("does not open");
    AVIFileRelease(file);
    AVIFileExit();
  }
}

void BM_OpenFfms(benchmark::State& state, const Clip* c) {
  for (auto _ : state) {
    FFMS_Indexer* indexer = FFMS_CreateIndexer(PathOf(*c).c_str(), nullptr);
    FFMS_Index* index = indexer ? FFMS_DoIndexing2(indexer, FFMS_IEH_ABORT, nullptr) : nullptr;
    if (!index) state.SkipWithError("FFMS2 does not index it");
    FFMS_DestroyIndex(index);
  }
}

// One fetch an iteration: random positions in turn, then a walk of steps, each decoded afresh.
enum class Fetch { kRandom, kBack, kForward };

template <typename Source>
void BM_Fetch(benchmark::State& state, const Clip* c, Fetch kind) {
  Source source(PathOf(*c));
  const int frames = static_cast<int>(state.range(0));
  const std::vector<int> positions = RandomPositions(frames);
  int i = 0;
  for (auto _ : state) {
    const int pos = kind == Fetch::kRandom ? positions[i % kRandomFetches]
                    : kind == Fetch::kBack ? frames - 1 - i % kSteps
                                           : i % kSteps;
    if (source.Hash(pos, c->width, c->height).empty()) state.SkipWithError("no picture");
    ++i;
  }
}

// Pictures not ffmpeg's among the random fetches and both walks.
template <typename Source>
int WrongPictures(const Clip& c, const std::vector<std::string>& expected, int frames) {
  Source source(PathOf(c), true);
  std::vector<int> visits = RandomPositions(frames);
  for (int i = 0; i < kSteps; ++i) visits.push_back(frames - 1 - i);
  for (int i = 0; i < kSteps; ++i) visits.push_back(i);
  int wrong = 0;
  for (int pos : visits)
    if (pos >= static_cast<int>(expected.size()) ||
        source.Hash(pos, c.width, c.height) != expected[pos])
      ++wrong;
  return wrong;
}

long HeapBytes() {
  const struct mallinfo2 m = ::mallinfo2();
  return static_cast<long>(m.uordblks + m.hblkhd);
}

// A file's positions, and the heap its open holds.
std::pair<int, long> PositionsAndHeld(const std::string& path) {
  ::malloc_trim(0);
  const long before = HeapBytes();
  AVIFileInit();
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  std::pair<int, long> out{0, 0};
  if (AVIFileOpen(&file, path.c_str(), OF_READ, nullptr) == AVIERR_OK &&
      AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK)
    out = {AVIStreamLength(stream), HeapBytes() - before};
  AVIStreamRelease(stream);
  AVIFileRelease(file);
  AVIFileExit();
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_QUIET);
  FFMS_Init(0, 0);
  FFMS_SetLogLevel(AV_LOG_QUIET);
  MakeFiles();
  std::vector<RatioCheck> checks;
  std::vector<std::string> report;
  for (const Clip& c : kClips) {
    const std::vector<std::string> bgr = FfmpegHashes(c, "bgr24"), yuv = FfmpegHashes(c, "yuv420p");
    // What an open holds a position: against the file's first eighth, so that what any open
    // holds (the demuxer, its buffers) drops out.
    const auto whole = PositionsAndHeld(PathOf(c)), part = PositionsAndHeld(PathOf(c, ".part.ts"));
    const int frames = whole.first;
    {
      char line[256];
      std::snprintf(
          line, sizeof line,
          "%s: %d positions (ffmpeg %zu, FFMS2 %d); an open holds %.1f bytes a "
          "position (target <= 32)",
          c.name, frames, bgr.size(), Ffms(PathOf(c), true).frames,
          static_cast<double>(whole.second - part.second) / std::max(whole.first - part.first, 1));
      report.push_back(line);
    }
    char line[256];
    std::snprintf(line, sizeof line, "%s: pictures not ffmpeg's, ours %d, FFMS2 %d (of %d)", c.name,
                  WrongPictures<Ours>(c, bgr, frames), WrongPictures<Ffms>(c, yuv, frames),
                  kRandomFetches + 2 * kSteps);
    report.push_back(line);

    const std::string n = c.name;
    using Open = void (*)(benchmark::State&, const Clip*);
    for (const auto& [who, open] : {std::pair<const char*, Open>{"ours", BM_OpenOurs},
                                    std::pair<const char*, Open>{"ffms2", BM_OpenFfms}})
      benchmark::RegisterBenchmark(("Open/" + std::string(who) + "/" + n).c_str(), open, &c)
          ->Iterations(kOpens)
          ->Repetitions(3)  // both are mostly libavformat's reading: the median of three
          ->ReportAggregatesOnly(true)
          ->MeasureProcessCPUTime()
          ->Unit(benchmark::kMillisecond);
    struct Kind {
      const char* label;
      Fetch fetch;
      int iterations;
    };
    for (const Kind& k :
         {Kind{"Random", Fetch::kRandom, kRandomFetches}, Kind{"Back", Fetch::kBack, kSteps},
          Kind{"Forward", Fetch::kForward, kSteps}}) {
      benchmark::RegisterBenchmark((std::string(k.label) + "/ours/" + n).c_str(), BM_Fetch<Ours>,
                                   &c, k.fetch)
          ->Arg(frames)
          ->Iterations(k.iterations)
          ->MeasureProcessCPUTime()
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark((std::string(k.label) + "/ffms2/" + n).c_str(), BM_Fetch<Ffms>,
                                   &c, k.fetch)
          ->Arg(frames)
          ->Iterations(k.iterations)
          ->MeasureProcessCPUTime()
          ->Unit(benchmark::kMillisecond);
    }
    // Named as the benchmark library names them, with their set iterations.
    const std::string f = "/" + std::to_string(frames),
                      steps = "/iterations:" + std::to_string(kSteps),
                      opens = "/iterations:" + std::to_string(kOpens) + "/repeats:3";
    checks.push_back({"Open/ours/" + n + opens, "Open/ffms2/" + n + opens, 1.0, true});
    const std::string random = f + "/iterations:" + std::to_string(kRandomFetches);
    checks.push_back({"Random/ours/" + n + random, "Random/ffms2/" + n + random, 1.0, true});
    checks.push_back({"Back/ours/" + n + f + steps, "Forward/ours/" + n + f + steps, 2.0, true});
  }
  const int rc = RunWithRatios(argc, argv, checks);
  std::printf("\n");
  for (const std::string& line : report) std::printf("%s\n", line.c_str());
  FFMS_Deinit();
  return rc;
}
