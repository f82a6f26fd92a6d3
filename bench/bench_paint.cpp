// Painting: PutToDC of a 720 x 480 frame into the main window's device context (offscreen)
// against a plain copy of the frame's bytes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "aviwriter.h"
#include "classBMPAVI.h"
#include "form.h"
#include "ratio.h"
#include "sourceprobe.h"

namespace {

classBMPAVI* g_source = nullptr;
tk::Form* g_window = nullptr;

void BM_PutToDC_Window(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(g_source->PutToDC(g_window->hDC(), 0, 20, 720, 480));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(Peek(*g_source).DIBBits().size()));
}

void BM_Memcpy_Frame(benchmark::State& state) {
  const std::vector<uint8_t>& frame = Peek(*g_source).DIBBits();
  std::vector<uint8_t> copy(frame.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), frame.data(), frame.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);

  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("dovrel-bench-paint-" + std::to_string(::getpid()) + ".avi");
  {
    AviWriter writer(file.string(), AviWriter::Format(720, 480, 24));
    std::vector<uint8_t> frame(static_cast<size_t>(DibStride(720, 24)) * 480);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
    writer.AddFrame(frame);
    if (!writer.Close()) {
      std::fprintf(stderr, "bench_paint: could not write %s\n", file.c_str());
      return 1;
    }
  }
  auto source = std::make_unique<classBMPAVI>();
  if (source->GetEnable(file.string()) != kFalse) return 1;
  tk::Form window(723, 499);
  window.Show();
  g_source = source.get();
  g_window = &window;

  benchmark::RegisterBenchmark("PutToDC_Window", BM_PutToDC_Window);
  benchmark::RegisterBenchmark("Memcpy_Frame", BM_Memcpy_Frame);
  const int rc = RunWithRatios(argc, argv, {{"PutToDC_Window", "Memcpy_Frame", 4.0}});
  source.reset();
  std::filesystem::remove(file);
  return rc;
}
