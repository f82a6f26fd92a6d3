// dovrel-grab: the viewer's picture at a scroll position, written as a BMP file (a PNG file when
// the name ends in .png) without a window. Without --priority, the field the video shot first
// comes first, as the viewer starts. --info describes the stream, and with a position the DV
// recording date, time and time code of its frame; --scenes lists where each scene starts.
//   dovrel-grab VIDEO POSITION OUT.bmp|OUT.png [--view 1/30|1/60] [--priority even|odd]
//   dovrel-grab VIDEO --all OUTDIR [--view ...] [--priority ...]
//   dovrel-grab VIDEO --info [POSITION] [--view ...]
//   dovrel-grab VIDEO --scenes [--view ...]
// Exit status: 0 done, 1 the file could not be opened or a picture not written, 2 usage; ended
// by a signal, as that signal ends a program, with no half-written file left behind.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "classBMPAVI.h"
#include "fileio.h"
#include "positions.h"

namespace {

int Usage(const char* why) {
  std::fprintf(stderr,
               "dovrel-grab: %s\n"
               "usage: dovrel-grab VIDEO POSITION OUT.bmp|OUT.png [--view 1/30|1/60] "
               "[--priority even|odd]\n"
               "       dovrel-grab VIDEO --all OUTDIR [--view 1/30|1/60] [--priority even|odd]\n"
               "       dovrel-grab VIDEO --info [POSITION] [--view 1/30|1/60]\n"
               "       dovrel-grab VIDEO --scenes [--view 1/30|1/60]\n",
               why);
  return 2;
}

std::string FourCCText(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((v >> (8 * i)) & 0xFF);
    s += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return s;
}

const char* FieldOrderText(AviFieldOrder order) {
  switch (order) {
    case AviFieldOrder::kProgressive:
      return "progressive";
    case AviFieldOrder::kTopFirst:
      return "top first";
    case AviFieldOrder::kBottomFirst:
      return "bottom first";
    default:
      return "unknown";
  }
}

bool ParsePosition(const std::string& text, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < 0) return false;
  *out = v;
  return true;
}

// Interrupted or told to stop: the save under way leaves nothing, then the signal does its usual.
void OnEndingSignal(int sig) {
  RemoveReplaceInProgress();
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(sig, &dfl, nullptr);
  raise(sig);  // delivered when this handler returns
}

bool IsPngName(const std::string& name) {
  std::string last = name.substr(name.size() - std::min<size_t>(name.size(), 4));
  for (char& c : last) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return last == ".png";
}

// The picture of one position, as the viewer paints it.
void Fetch(classBMPAVI& source, int32_t position, bool whole, int16_t priority) {
  source.GetDIBAVI(FrameOfPosition(position, whole));
  if (!whole) source.SeparateDIB(SeparateTypeOfPosition(position, whole, priority));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> plain;
  bool whole = true, info = false, scenes = false;
  int16_t priority = -1;  // none given: the video's own
  std::string allDir;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--view" && i + 1 < argc) {
      std::string v = argv[++i];
      if (v != "1/30" && v != "1/60") return Usage("--view takes 1/30 or 1/60");
      whole = v == "1/30";
    } else if (a == "--priority" && i + 1 < argc) {
      std::string v = argv[++i];
      if (v != "even" && v != "odd") return Usage("--priority takes even or odd");
      priority = v == "odd" ? 1 : 0;
    } else if (a == "--all" && i + 1 < argc) {
      allDir = argv[++i];
    } else if (a == "--info") {
      info = true;
    } else if (a == "--scenes") {
      scenes = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return Usage(("unknown option " + a).c_str());
    } else {
      plain.push_back(a);
    }
  }
  const bool single = !info && !scenes && allDir.empty();
  const size_t wanted = single ? 3 : info ? plain.size() : 1;  // --info: a position or none
  if (plain.empty() || plain.size() != wanted || (info && plain.size() > 2) ||
      int{info} + int{scenes} + int{!allDir.empty()} > 1)
    return Usage("wrong arguments");
  long position = 0;
  const bool positioned = single || plain.size() == 2;
  if (positioned && !ParsePosition(plain[1], &position))
    return Usage("POSITION must be a number of 0 or more");

  struct sigaction ending {};
  ending.sa_handler = OnEndingSignal;
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &ending, nullptr);

  classBMPAVI source;
  if (source.GetEnable(plain[0]) != kFalse) return 1;  // the message is already on standard error

  const int32_t last = LastPosition(source.GetFrameMax(), whole);  // as the window's range
  if (positioned && position > last)
    return Usage(("POSITION is beyond the last position, " + std::to_string(last)).c_str());
  if (info) {
    const AVISTREAMINFO si = source.StreamInfo();
    const int32_t frames = source.FrameCount();
    const uint32_t tag = si.biCompression > BI_BITFIELDS ? si.biCompression : si.fccHandler;
    std::printf("width %d\nheight %d\nframes %d\ncodec %s%s\nfield order %s\n", source.biWidth(),
                source.biHeight(), frames, si.szName,
                tag ? (" (" + FourCCText(tag) + ")").c_str() : "",
                FieldOrderText(source.FieldOrder()));
    if (positioned) {
      const std::string text =
          RecordingText(source.RecordingOf(FrameOfPosition(static_cast<int32_t>(position), whole)));
      if (!text.empty()) std::printf("recording %s\n", text.c_str());
    }
    return 0;
  }
  if (scenes) {  // the first position of each scene's first frame, in the view's numbering
    for (int32_t f = source.NextScene(-1); f >= 0 && (whole || f <= kFieldFrameMax);
         f = source.NextScene(f)) {
      const DvRecording r = source.RecordingOf(f);
      std::printf("%d %s\n", whole ? f : 2 * f,
                  r.recorded ? DateTimeText(*r.recorded).c_str() : "");
    }
    return 0;
  }
  if (priority < 0) priority = PriorityOfFieldOrder(source.FieldOrder());

  if (single) {
    Fetch(source, static_cast<int32_t>(position), whole, priority);
    const bool png = IsPngName(plain[2]);
    if ((png ? source.WriteToPNGFile(plain[2]) : source.WriteToBMPFile(plain[2])) != kTrue) {
      std::fprintf(stderr, "dovrel-grab: could not write %s\n", plain[2].c_str());
      return 1;
    }
    return 0;
  }

  ::mkdir(allDir.c_str(), 0777);
  const bool progress = ::isatty(STDERR_FILENO);
  // Numbers padded to the last one's width (at least 5), so that names sort in position order.
  const int digits = std::max(5, static_cast<int>(std::to_string(last).size()));
  for (int32_t p = 0; p <= last; ++p) {  // last < 2^31 - 1: p cannot overflow
    Fetch(source, p, whole, priority);
    const std::string number = std::to_string(p);
    const std::string name = "/pos-" + std::string(digits - number.size(), '0') + number + ".bmp";
    if (source.WriteToBMPFile(allDir + name) != kTrue) {
      std::fprintf(stderr, "%sdovrel-grab: could not write %s%s\n", progress ? "\n" : "",
                   allDir.c_str(), name.c_str());
      return 1;
    }
    if (progress) std::fprintf(stderr, "\r%d/%d", p + 1, last + 1);
  }
  if (progress) std::fprintf(stderr, "\n");
  return 0;
}
