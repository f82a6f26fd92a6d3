// Opening a long type-1 DV capture and showing its last frame, against a 10-minute capture of the
// same kind: time and memory. The captures are OpenDML files of 525-60 DV frames, sparse:
// the first and last frames hold real DV data (both are decoded), the others are holes behind
// real chunk headers. They are made at start in a temporary folder. Memory: the peak of resident
// memory, and the heap held while the capture is open.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
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
#include "ratio.h"
#include "sourceprobe.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTenMinutes = 17'982;  // frames at 30000/1001 per second
constexpr int kTwoHours = 215'784;
constexpr uint32_t kFrameBytes = 120'000;  // one 525-60 DV frame

fs::path g_dir;

std::string PathOf(int frames) {
  return (g_dir / ("dv-" + std::to_string(frames) + ".avi")).string();
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void MakeFiles() {
  g_dir = fs::temp_directory_path() / ("dovrel-bench-dv-" + std::to_string(::getpid()));
  fs::create_directories(g_dir);
  // Two frames with their audio, as a capture's are.
  const std::string dv = (g_dir / "two.dv").string();
  const std::string cmd =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
      "testsrc2=size=720x480:rate=30000/1001 -f lavfi -i sine=sample_rate=48000 -t 0.1 "
      "-c:v dvvideo -pix_fmt yuv411p -ac 2 -c:a pcm_s16le -f dv '" +
      dv + "'";
  if (std::system(cmd.c_str()) != 0 || ReadAll(dv).size() < 2 * kFrameBytes) {
    std::fprintf(stderr, "bench: could not make the DV frames\n");
    std::exit(1);
  }
  const std::vector<uint8_t> all = ReadAll(dv);
  const std::vector<uint8_t> first(all.begin(), all.begin() + kFrameBytes);
  const std::vector<uint8_t> second(all.begin() + kFrameBytes, all.begin() + 2 * kFrameBytes);
  for (int frames : {kTenMinutes, kTwoHours}) {
    AviWriterOptions options;
    options.dvType1 = true;
    options.index = AviWriterOptions::Index::kOpenDml;
    options.width = 720, options.height = 480;
    AviWriter w(PathOf(frames), AviWriter::DvInfo(first), options);
    w.AddFrame(first);
    for (int f = 1; f < frames - 1; ++f) w.AddSparseFrame(kFrameBytes);
    w.AddFrame(second);
    if (!w.Close()) {
      std::fprintf(stderr, "bench: could not write %s\n", PathOf(frames).c_str());
      std::exit(1);
    }
  }
}

// What the window does to show the last position of the 1/30 view after a load.
bool OpenAndShowLast(classBMPAVI& source, int frames) {
  if (source.GetEnable(PathOf(frames)) != kFalse || source.FrameCount() != frames) return false;
  const std::vector<uint8_t> first = Peek(source).DIBBits();
  source.GetDIBAVI(frames - 1);
  return Peek(source).DIBBits() != first;  // the last frame is another picture
}

void BM_OpenShowLast(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  {
    classBMPAVI check;
    if (!OpenAndShowLast(check, frames)) {
      state.SkipWithError("the capture did not open to its last frame");
      return;
    }
  }
  for (auto _ : state) {
    classBMPAVI source;
    OpenAndShowLast(source, frames);
  }
  state.counters["frames"] = frames;
}

// Heap in use: small blocks and mapped large ones, in bytes.
long HeapBytes() {
  const struct mallinfo2 m = ::mallinfo2();
  return static_cast<long>(m.uordblks + m.hblkhd);
}

struct Memory {
  long peak = -1;  // resident memory added at the peak of opening and showing the last frame
  long held = -1;  // heap held afterwards, while the capture is open
};

// Memory that opening the capture and showing its last frame adds, in bytes. Measured in a
// child process from a reset high-water mark, so that no earlier run's memory counts.
Memory MemoryOf(int frames) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::malloc_trim(0);  // free heap that the parent left resident would be reused unseen
    std::ofstream("/proc/self/clear_refs") << "5";  // VmHWM := VmRSS
    const long before = StatusKilobytes("VmHWM:"), heapBefore = HeapBytes();
    long peak = -1, heap = -1;
    {
      classBMPAVI source;
      if (OpenAndShowLast(source, frames)) {
        peak = StatusKilobytes("VmHWM:");
        heap = HeapBytes();
      }
    }
    Memory added;
    if (peak >= 0 && before >= 0) added = {(peak - before) * 1024, heap - heapBefore};
    ssize_t ignored = ::write(fds[1], &added, sizeof added);
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  Memory added;
  if (pid < 0 || ::read(fds[0], &added, sizeof added) != sizeof added) added = {};
  ::close(fds[0]);
  if (pid > 0) ::waitpid(pid, nullptr, 0);
  return added;
}

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_QUIET);
  MakeFiles();
  benchmark::RegisterBenchmark("OpenShowLast/dv", BM_OpenShowLast)
      ->Arg(kTenMinutes)
      ->Arg(kTwoHours)
      ->Unit(benchmark::kMillisecond);
  const Memory base10 = MemoryOf(kTenMinutes), long2 = MemoryOf(kTwoHours);
  const long peakBase = base10.peak, peakLong = long2.peak;
  const std::string base = "OpenShowLast/dv/" + std::to_string(kTenMinutes);
  const std::string longer = "OpenShowLast/dv/" + std::to_string(kTwoHours);
  // Reading the index is linear in the frames; the target allows that and no more.
  const double frameRatio = static_cast<double>(kTwoHours) / kTenMinutes;
  int rc = RunWithRatios(argc, argv, {{longer, base, frameRatio}});
  const double ms = MeasuredNanoseconds(longer) / 1e6;
  if (ms > 0) std::printf("open and last frame of 2 h of DV: %.1f ms (target <= 50 ms)\n", ms);

  if (base10.held > 0 && long2.held > 0)
    std::printf("memory held open: 10 min %.1f KB, 2 h %.1f KB; ratio %.3fx (target 1.00x)\n",
                base10.held / 1e3, long2.held / 1e3, static_cast<double>(long2.held) / base10.held);
  if (peakBase > 0 && peakLong > 0) {
    std::printf("peak memory added: 10 min %.2f MB, 2 h %.2f MB; ratio %.2fx (target 1.00x: %s)\n",
                peakBase / 1e6, peakLong / 1e6, static_cast<double>(peakLong) / peakBase,
                peakLong <= peakBase ? "ok" : "grows with the frames");
    std::printf("memory per frame of the longer capture: %.1f bytes\n",
                static_cast<double>(peakLong - peakBase) / (kTwoHours - kTenMinutes));
  }
  fs::remove_all(g_dir);
  return rc;
}
