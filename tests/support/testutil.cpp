#include "testutil.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "dvframes.h"

namespace testutil {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/dovrel-test-XXXXXX";
  if (!::mkdtemp(tmpl.data())) ADD_FAILURE() << "cannot make a temporary folder";
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

uint64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

uint64_t DiskUsage(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_blocks) * 512 : 0;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(path.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

int OpenFileDescriptors() {
  return static_cast<int>(FolderEntries("/proc/self/fd").size());
}

RunResult RunProgram(const std::vector<std::string>& argv, int timeoutSeconds) {
  RunResult result;
  TempDir dir;
  const std::string outPath = dir.File("out"), errPath = dir.File("err");
  pid_t pid = ::fork();
  if (pid < 0) return result;
  if (pid == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0), ::dup2(out, 1), ::dup2(err, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  // A program that hangs is stopped rather than holding up the whole run.
  int status = 0;
  for (int waited = 0;; waited += 2) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) break;
    if (waited >= timeoutSeconds * 1000) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      result.err = "stopped after " + std::to_string(timeoutSeconds) + " s\n";
      return result;
    }
    ::usleep(2000);
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  auto text = [](const std::string& p) {
    std::vector<uint8_t> b = ReadFile(p);
    return std::string(b.begin(), b.end());
  };
  result.out = text(outPath);
  result.err = text(errPath);
  return result;
}

bool AsUnprivilegedUser(const std::function<void()>& body) {
  if (::geteuid() != 0) {
    body();
    return true;
  }
  constexpr uid_t kNobody = 65534;
  const auto failures = [] {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
  };
  const int before = failures();
  std::fflush(nullptr);  // nothing buffered is printed twice
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(3);
    body();
    std::fflush(nullptr);
    ::_exit(failures() > before ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 3) return false;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "as user nobody: the failures above (status " << status << ")";
  return true;
}

::testing::AssertionResult Ffmpeg(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"ffmpeg",    "-nostdin", "-hide_banner",
                                   "-loglevel", "error",    "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = RunProgram(argv);
  if (r.exitCode == 127)
    return ::testing::AssertionFailure()
           << "the ffmpeg command is missing (scripts/setup installs it)";
  if (r.exitCode != 0) {
    std::string line;
    for (const std::string& a : argv) line += a + " ";
    return ::testing::AssertionFailure() << line << "failed (" << r.exitCode << "): " << r.err;
  }
  return ::testing::AssertionSuccess();
}

bool HasEncoder(const std::string& name) {
  static std::map<std::string, bool> known;
  auto it = known.find(name);
  if (it != known.end()) return it->second;
  RunResult r = RunProgram({"ffmpeg", "-nostdin", "-hide_banner", "-encoders"});
  return known[name] = r.exitCode == 0 && r.out.find(" " + name + " ") != std::string::npos;
}

std::vector<std::vector<uint8_t>> FfmpegFrames(const std::string& path, int width, int height) {
  TempDir dir;
  const std::string raw = dir.File("frames.bgr");
  // Passthrough: one output picture per decoded picture, none doubled or dropped for timing.
  ::testing::AssertionResult ok = Ffmpeg({"-i", path, "-map", "0:v:0", "-fps_mode", "passthrough",
                                          "-f", "rawvideo", "-pix_fmt", "bgr24", raw});
  if (!ok) {
    ADD_FAILURE() << ok.message();
    return {};
  }
  return DibsOfBgr24(ReadFile(raw), width, height);
}

std::vector<std::vector<uint8_t>> DibsOfBgr24(const std::vector<uint8_t>& all, int width,
                                              int height) {
  std::vector<std::vector<uint8_t>> frames;
  const size_t row = static_cast<size_t>(width) * 3, picture = row * height;
  const int stride = Stride(width);
  if (picture == 0 || all.size() % picture != 0) {
    ADD_FAILURE() << "ffmpeg gave " << all.size() << " bytes, not whole " << width << "x" << height
                  << " pictures";
    return frames;
  }
  for (size_t at = 0; at < all.size(); at += picture) {
    std::vector<uint8_t> dib(static_cast<size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y)  // top-down to bottom-up
      std::memcpy(dib.data() + static_cast<size_t>(height - 1 - y) * stride,
                  all.data() + at + y * row, row);
    frames.push_back(std::move(dib));
  }
  return frames;
}

::testing::AssertionResult MakeFfmpegClip(const std::string& path, int width, int height,
                                          int frames, const std::vector<std::string>& codec) {
  std::vector<std::string> args = {
      "-f",
      "lavfi",
      "-i",
      "testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=30000/1001",
      "-frames:v",
      std::to_string(frames)};
  args.insert(args.end(), codec.begin(), codec.end());
  args.push_back(path);
  return Ffmpeg(args);
}

namespace {
uint64_t Mix(uint64_t v) {  // splitmix64's finaliser: neighbouring inputs give unrelated bytes
  v += 0x9E3779B97F4A7C15ull;
  v = (v ^ (v >> 30)) * 0xBF58476D1CE4E5B9ull;
  v = (v ^ (v >> 27)) * 0x94D049BB133111EBull;
  return v ^ (v >> 31);
}
}  // namespace

std::vector<uint8_t> Pattern(int width, int height, int frame) {
  const int stride = Stride(width);
  std::vector<uint8_t> dib(static_cast<size_t>(stride) * height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = dib.data() + static_cast<size_t>(y) * stride;
    for (int x = 0; x < stride; ++x) {
      uint64_t m = Mix(uint64_t(frame) << 40 | uint64_t(y) << 20 | uint64_t(x));
      row[x] = static_cast<uint8_t>(x < width * 3 ? m : (m | 1));  // fill bytes never 0
    }
  }
  return dib;
}

::testing::AssertionResult SameDib(const std::vector<uint8_t>& expected,
                                   const std::vector<uint8_t>& actual, int width, int height,
                                   int tolerance) {
  const size_t need = static_cast<size_t>(Stride(width)) * height;
  if (expected.size() < need || actual.size() < need)
    return ::testing::AssertionFailure()
           << "sizes " << expected.size() << " and " << actual.size() << ", " << need << " needed";
  int worst = 0;
  size_t differing = 0;
  std::string first;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width * 3; ++x) {
      size_t at = static_cast<size_t>(y) * Stride(width) + x;
      int d = std::abs(int{expected[at]} - int{actual[at]});
      if (d > tolerance) {
        if (differing++ == 0)
          first = "row " + std::to_string(y) + " (from the bottom), x " + std::to_string(x / 3) +
                  " channel " + std::to_string(x % 3) + ": expected " +
                  std::to_string(expected[at]) + ", got " + std::to_string(actual[at]);
      }
      worst = std::max(worst, d);
    }
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << differing << " bytes differ by more than " << tolerance
                                       << " (worst " << worst << "); first at " << first;
}

void SeparateRows(std::vector<uint8_t>& dib, int width, int height, int type) {
  const int stride = Stride(width);
  for (int r = type; r <= height - 2; r += 2)
    std::memcpy(dib.data() + static_cast<size_t>(r + 1) * stride,
                dib.data() + static_cast<size_t>(r) * stride, static_cast<size_t>(width) * 3);
}

std::vector<uint8_t> BmpFile(const std::vector<uint8_t>& dib, int width, int height) {
  std::vector<uint8_t> f(54, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  f[0] = 'B', f[1] = 'M';
  put32(2, static_cast<uint32_t>(54 + dib.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  f[26] = 1;   // planes
  f[28] = 24;  // bits per pixel
  put32(34, static_cast<uint32_t>(dib.size()));
  f.resize(54 + dib.size());
  if (!dib.empty()) std::memcpy(f.data() + 54, dib.data(), dib.size());
  return f;
}

void WritePatternClip(const std::string& path, int width, int height, int frames,
                      AviWriterOptions options, const std::vector<int>& dropped) {
  AviWriter w(path, AviWriter::Format(width, height, 24), options);
  for (int f = 0; f < frames; ++f) {
    if (options.audioFirst) w.AddAudio(6400);
    bool empty = std::find(dropped.begin(), dropped.end(), f) != dropped.end();
    w.AddFrame(empty ? std::vector<uint8_t>{} : Pattern(width, height, f));
  }
  if (!w.Close()) ADD_FAILURE() << "the writer failed on " << path;
}

MessageRecorder::MessageRecorder() {
  previous_ = SetMessageBoxHandler([this](const std::string& text) { messages_.push_back(text); });
}

MessageRecorder::~MessageRecorder() {
  SetMessageBoxHandler(std::move(previous_));
}

}  // namespace testutil

namespace testutil {

::testing::AssertionResult WriteDvSceneClip(const std::string& path, bool truncated) {
  constexpr size_t kFrame = 120000;
  const std::string dv = path + ".dv";
  if (auto made = Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=720x480:rate=30000/1001", "-frames:v",
                          "30", "-pix_fmt", "yuv411p", "-timecode", "00:12:34;05", "-f", "dv", dv});
      !made)
    return made;
  std::vector<uint8_t> all = ReadFile(dv);
  std::remove(dv.c_str());
  if (all.size() != 30 * kFrame) return ::testing::AssertionFailure() << "ffmpeg wrote too little";
  struct Scene {
    int first;
    DvStamp start;
  };
  const Scene scenes[] = {{2, {3, 8, 15, 14, 32, 7}},
                          {12, {3, 8, 15, 15, 40, 0}},
                          {20, {99, 12, 31, 23, 59, 58}},
                          {25, {0, 1, 1, 0, 0, 0}}};
  AviWriterOptions options;
  options.dvType1 = true;
  options.width = 720, options.height = 480;
  AviWriter w(path, AviWriter::DvInfo(std::vector<uint8_t>(all.begin(), all.begin() + kFrame)),
              options);
  for (int f = 0; f < 30; ++f) {
    uint8_t* frame = all.data() + f * kFrame;
    const Scene* in = nullptr;
    for (const Scene& s : scenes)
      if (f >= s.first) in = &s;
    if (!in || f == 5) {
      StampDvFrame(frame, kFrame, DvClock::kNone);
    } else if (f == 14) {
      StampDvFrame(frame, kFrame, DvClock::kUnset);
    } else {  // seconds on from the scene's first frame, never past its minute here
      DvStamp t = in->start;
      t.second += (f - in->first) * 1001 / 30000;
      StampDvFrame(frame, kFrame, DvClock::kSet, t);
    }
    w.AddFrame(std::vector<uint8_t>(frame, frame + (truncated && f > 0 ? 6 * 80 : kFrame)));
  }
  return w.Close() ? ::testing::AssertionSuccess()
                   : ::testing::AssertionFailure() << "could not write " << path;
}

}  // namespace testutil
