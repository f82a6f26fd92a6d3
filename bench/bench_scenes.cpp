// Finding the next and the previous scene in a two-hour DV capture (215,784 frames), wherever the
// scene is, against reading the recording of every frame of a 1,000-frame span (what a linear
// search does to find a scene 33 s on; it reads 215,784 for one two hours on): frames read and
// time. Target: at most 100 reads (the program exits 1 past that, or on a wrong answer), and no
// more time than the span takes. The search's reads lie far apart, each in another piece of the
// index, so that one costs a few sequential ones. The capture is a type-1 OpenDML file made at
// start in a temporary folder: frame 0 is a whole DV frame (the open decodes it); every other chunk
// holds only the first six DIF blocks of its frame (header, subcode, VAUX), where the packs are, so
// that it takes ~100 MB, not 26 GB. Its recordings start at frames 0, 1,000, 100,000 and 215,000.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "aviwriter.h"
#include "classBMPAVI.h"
#include "dvframes.h"
#include "ratio.h"
#include "sourceprobe.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTwoHours = 215'784;
constexpr uint32_t kFrameBytes = 120'000;
constexpr size_t kPackBytes = 6 * 80;
constexpr int kStarts[] = {0, 1'000, 100'000, 215'000};
constexpr int kMaxReads = 100;
constexpr int kSpan = 1'000;  // the baseline's frames

fs::path g_dir;
std::string g_avi;

void MakeCapture() {
  g_dir = fs::temp_directory_path() / ("dovrel-bench-scenes-" + std::to_string(::getpid()));
  fs::create_directories(g_dir);
  const std::string dv = (g_dir / "one.dv").string();
  const std::string cmd =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
      "testsrc2=size=720x480:rate=30000/1001 -frames:v 1 -c:v dvvideo -pix_fmt yuv411p "
      "-timecode '00:00:00;00' -f dv '" +
      dv + "'";
  std::ifstream in;
  if (std::system(cmd.c_str()) == 0) in.open(dv, std::ios::binary);
  std::vector<uint8_t> frame{std::istreambuf_iterator<char>(in), {}};
  if (frame.size() != kFrameBytes) {
    std::fprintf(stderr, "bench: could not make a DV frame\n");
    std::exit(1);
  }
  AviWriterOptions options;
  options.dvType1 = true;
  options.index = AviWriterOptions::Index::kOpenDml;
  options.width = 720, options.height = 480;
  g_avi = (g_dir / "two-hours.avi").string();
  AviWriter w(g_avi, AviWriter::DvInfo(frame), options);
  int scene = 0;
  for (int f = 0; f < kTwoHours; ++f) {
    if (scene + 1 < 4 && f == kStarts[scene + 1]) ++scene;
    // Each recording on another day at 10:00:00, its clock rising with the frames.
    const int64_t seconds = int64_t{f - kStarts[scene]} * 1001 / 30000;
    const DvStamp t{3,
                    8,
                    1 + scene,
                    static_cast<int>(10 + seconds / 3600),
                    static_cast<int>(seconds / 60 % 60),
                    static_cast<int>(seconds % 60)};
    StampDvFrame(frame.data(), kPackBytes, DvClock::kSet, t);
    w.AddFrame(f == 0 ? frame : std::vector<uint8_t>(frame.begin(), frame.begin() + kPackBytes));
  }
  if (!w.Close()) {
    std::fprintf(stderr, "bench: could not write %s\n", g_avi.c_str());
    std::exit(1);
  }
}

struct Search {
  const char* name;
  int from;
  bool next;
  int expected;
};
constexpr Search kSearches[] = {
    {"next/near", 0, true, 1'000},         {"next/mid", 1'000, true, 100'000},
    {"next/far", 100'000, true, 215'000},  {"next/none", 215'000, true, -1},
    {"prev/far", 214'999, false, 100'000}, {"prev/first", 999, false, 0}};

int g_worstReads = 0;
bool g_wrong = false;

void BM_Scene(benchmark::State& state, const Search& s, classBMPAVI* source) {
  int64_t reads = 0;
  for (auto _ : state) {
    const int64_t before = Peek(*source).SceneReads();
    const int32_t found = s.next ? source->NextScene(s.from) : source->PreviousScene(s.from);
    reads = Peek(*source).SceneReads() - before;
    if (found != s.expected) g_wrong = true;
  }
  g_worstReads = std::max<int>(g_worstReads, static_cast<int>(reads));
  state.counters["reads"] = static_cast<double>(reads);
}

// The baseline: the recording of each frame of a short span, as a linear scan would read them.
void BM_ReadSpan(benchmark::State& state, classBMPAVI* source) {
  for (auto _ : state)
    for (int f = 1'000; f < 1'000 + kSpan; ++f) benchmark::DoNotOptimize(source->RecordingOf(f));
  state.counters["reads"] = kSpan;
}

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_QUIET);
  MakeCapture();
  classBMPAVI source;
  if (source.GetEnable(g_avi) != kFalse || !source.HasRecordingTimes()) {
    std::fprintf(stderr, "bench: the capture did not open with recording times\n");
    fs::remove_all(g_dir);
    return 1;
  }
  const std::string base = "ReadSpan/" + std::to_string(kSpan);
  benchmark::RegisterBenchmark(base.c_str(), BM_ReadSpan, &source)->Unit(benchmark::kMillisecond);
  std::vector<RatioCheck> checks;
  for (const Search& s : kSearches) {
    const std::string name = std::string("Scene/") + s.name;
    benchmark::RegisterBenchmark(name.c_str(), BM_Scene, s, &source)->Unit(benchmark::kMillisecond);
    checks.push_back({name, base, 1.0});
  }
  RunWithRatios(argc, argv, checks);
  double worstMs = 0;
  for (const Search& s : kSearches)
    worstMs = std::max(worstMs, MeasuredNanoseconds(std::string("Scene/") + s.name) / 1e6);
  std::printf(
      "scene search in 2 h of DV: at most %d reads (target <= %d: %s), %.2f ms "
      "(target <= 50 ms)%s\n",
      g_worstReads, kMaxReads, g_worstReads <= kMaxReads ? "ok" : "too many", worstMs,
      g_wrong ? "; A SEARCH FOUND THE WRONG FRAME" : "");
  fs::remove_all(g_dir);
  return g_worstReads <= kMaxReads && !g_wrong ? 0 : 1;
}
