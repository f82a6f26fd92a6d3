// Every file of the corpus opened as the viewer opens it: the outcome the manifest gives, and
// for those that open, every position fetched, line-doubled and painted. A failed open must
// leave the previous file's picture and hold nothing.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "classBMPAVI.h"
#include "devicecontext.h"
#include "sourceprobe.h"
#include "testutil.h"

namespace {

const std::string kDir = DOVREL_CORPUS_DIR;

struct Expected {
  std::string name;
  std::string outcome;  // opens, stream, decoder
  int frames = -1;      // for opens
  int decodes = -1;     // positions that yield a frame of their own; all when not given
};

std::vector<Expected> Manifest() {
  std::vector<Expected> out;
  std::ifstream in(kDir + "/expected.txt");
  for (std::string line; std::getline(in, line);) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    Expected e;
    if (!(words >> e.name >> e.outcome)) continue;
    if (e.outcome == "opens") words >> e.frames;
    e.decodes = e.frames;
    for (std::string word; words >> word;)
      if (word.rfind("decodes=", 0) == 0) e.decodes = std::stoi(word.substr(8));
    out.push_back(e);
  }
  return out;
}

// The picture of a good file, opened first on the instance that then opens a corpus file.
void OpenGood(classBMPAVI& source) {
  ASSERT_EQ(source.GetEnable(kDir + "/files/g-base.avi"), kFalse);
  ASSERT_EQ(source.GetDIBAVI(2), 0);
}

// Positions at which the library yields a picture of their own, stepping from the first on
// (the frame source cannot tell: one that does not decode shows the picture before).
std::vector<bool> DecodingPositions(const std::string& path) {
  AVIFileInit();
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  std::vector<bool> decoding;
  if (AVIFileOpen(&file, path.c_str(), OF_READ, nullptr) == AVIERR_OK &&
      AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK) {
    if (PGETFRAME frames = AVIStreamGetFrameOpen(stream, nullptr)) {
      for (int32_t pos = 0; pos < AVIStreamLength(stream); ++pos) {
        EXPECT_NE(AVIStreamGetFrame(frames, pos), nullptr);
        decoding.push_back(AVIStreamFrameDecoded(frames));
      }
      AVIStreamGetFrameClose(frames);
    }
  }
  AVIStreamRelease(stream);
  AVIFileRelease(file);
  AVIFileExit();
  return decoding;
}

// Every position fetched in order, painted and line-doubled as the 1/60 view does: one that
// does not decode shows the last picture that did as a whole frame (black before the first),
// never the doubled one.
void CheckOpened(classBMPAVI& source, const Expected& e, const std::vector<bool>& decoding) {
  ASSERT_TRUE(Peek(source).IsOpen());
  const int32_t last = source.GetFrameMax();
  EXPECT_EQ(last + 1, e.frames);
  const BITMAPINFOHEADER& h = Peek(source).InfoHeader();
  ASSERT_EQ(h.biBitCount, 24);
  ASSERT_GT(h.biWidth, 0);
  ASSERT_GT(h.biHeight, 0);
  ASSERT_EQ(int64_t{h.biSizeImage}, DibStride(h.biWidth, 24) * h.biHeight);
  ASSERT_EQ(decoding.size(), static_cast<size_t>(last + 1));
  std::vector<uint8_t> whole(h.biSizeImage, 0);
  DeviceContext dc(720, 500);
  for (int32_t pos = 0; pos <= last; ++pos) {
    EXPECT_EQ(source.GetDIBAVI(pos), 0);
    ASSERT_EQ(Peek(source).DIBBits().size(), h.biSizeImage) << "position " << pos;
    if (decoding[pos])
      whole = Peek(source).DIBBits();
    else
      EXPECT_EQ(Peek(source).DIBBits(), whole) << "position " << pos << " keeps the picture before";
    EXPECT_EQ(source.PutToDC(&dc, 0, 20, 720, 480), std::min<int32_t>(h.biHeight, 480));
    source.SeparateDIB(static_cast<int16_t>(pos % 2));
    EXPECT_EQ(source.PutToDC(&dc, 0, 20, 720, 480), std::min<int32_t>(h.biHeight, 480));
  }
  // Positions outside the stream leave the picture as it is.
  const std::vector<uint8_t> shown = Peek(source).DIBBits();
  source.GetDIBAVI(-1);
  source.GetDIBAVI(last + 1);
  EXPECT_EQ(Peek(source).DIBBits(), shown);
}

}  // namespace

TEST(Corpus, EveryFileHasItsOutcome) {
  const std::vector<Expected> manifest = Manifest();
  ASSERT_GT(manifest.size(), 100u);
  for (const Expected& e : manifest) {
    SCOPED_TRACE(e.name);
    const std::string path = kDir + "/files/" + e.name;
    {
      testutil::MessageRecorder shown;
      classBMPAVI source;
      const int16_t failed = source.GetEnable(path);
      if (e.outcome == "opens") {
        EXPECT_EQ(failed, kFalse) << (shown.messages().empty() ? "" : shown.messages()[0]);
        if (failed != kFalse) continue;  // on to the next file: every one that fails is named
        EXPECT_TRUE(shown.messages().empty());
        const std::vector<bool> decoding = DecodingPositions(path);
        CheckOpened(source, e, decoding);
        EXPECT_EQ(std::count(decoding.begin(), decoding.end(), true), e.decodes);
      } else {
        EXPECT_TRUE(e.outcome == "stream" || e.outcome == "decoder") << e.outcome;
        EXPECT_EQ(failed, kTrue);
        EXPECT_EQ(shown.messages(),
                  std::vector<std::string>{e.outcome == "stream" ? kMsgNoStream : kMsgNoDecoder});
        EXPECT_FALSE(Peek(source).IsOpen());
        EXPECT_EQ(Peek(source).Stream(), nullptr);
        EXPECT_EQ(AVIFileUseCount(), 0);
      }
    }
    EXPECT_EQ(AVIFileUseCount(), 0);
    if (e.outcome == "opens") continue;

    // After a good file, the failed open keeps the good file's picture and header.
    testutil::MessageRecorder shown;
    classBMPAVI source;
    OpenGood(source);
    const std::vector<uint8_t> pixels = Peek(source).DIBBits();
    const std::vector<uint8_t> header = Peek(source).InfoHeaderBytes();
    EXPECT_EQ(source.GetEnable(path), kTrue);
    EXPECT_EQ(shown.messages().size(), 1u);
    EXPECT_EQ(Peek(source).DIBBits(), pixels);
    EXPECT_EQ(Peek(source).InfoHeaderBytes(), header);
    EXPECT_FALSE(Peek(source).IsOpen());
    DeviceContext dc(64, 64);
    EXPECT_EQ(source.PutToDC(&dc, 0, 20, 720, 480), 4);
  }
  EXPECT_EQ(AVIFileUseCount(), 0);
}

// The manifest and the folder agree, and the corpus stays small enough to commit.
TEST(Corpus, ManifestNamesEveryFile) {
  std::set<std::string> listed;
  for (const Expected& e : Manifest())
    EXPECT_TRUE(listed.insert(e.name).second) << e.name << " twice";
  std::set<std::string> present;
  uint64_t total = 0;
  for (const std::string& name : testutil::FolderEntries(kDir + "/files")) {
    if (name[0] == '.') continue;
    present.insert(name);
    const uint64_t size = testutil::FileSize(kDir + "/files/" + name);
    EXPECT_LE(size, 8192u) << name;
    total += size;
  }
  EXPECT_EQ(listed, present);
  EXPECT_LT(total, 1u << 20);
}

// The committed files are what their generator makes today, byte for byte, with the same
// outcomes: a change to either shows here rather than drifting apart.
TEST(Corpus, GeneratorRemakesTheCommittedFiles) {
  testutil::TempDir dir;
  const testutil::RunResult run = testutil::RunProgram({DOVREL_MAKE_CORPUS, dir.path()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  size_t made = 0;
  for (const std::string& name : testutil::FolderEntries(dir.File("files"))) {
    if (name[0] == '.') continue;
    ++made;
    EXPECT_EQ(testutil::ReadFile(dir.File("files/" + name)),
              testutil::ReadFile(kDir + "/files/" + name))
        << name;
  }
  std::vector<Expected> generated;
  for (const Expected& e : Manifest())
    if (e.name.rfind("g-", 0) == 0) generated.push_back(e);
  EXPECT_EQ(made, generated.size());
  std::ifstream remade(dir.File("expected.txt")), committed(kDir + "/expected.txt");
  std::string a, b;
  while (std::getline(remade, a)) {
    if (a.rfind("g-", 0) != 0) continue;
    while (std::getline(committed, b) && b.rfind("g-", 0) != 0) {
    }
    EXPECT_EQ(a, b);
  }
}

// Nesting far deeper than a committed file could hold: a reader that recursed into every
// list would run out of stack here.
TEST(Corpus, VeryDeepListsInMovi) {
  testutil::TempDir dir;
  const std::string path = dir.File("deep.avi");
  AviWriterOptions none;
  none.index = AviWriterOptions::Index::kNone;
  testutil::WritePatternClip(path, 8, 4, 2, none);
  std::vector<uint8_t> file = testutil::ReadFile(path);
  // Our writer ends the file with movi: what is appended and counted in movi's and RIFF's
  // sizes lies inside it.
  size_t movi = 0;
  for (size_t i = 0; i + 12 <= file.size(); ++i)
    if (std::memcmp(&file[i], "LIST", 4) == 0 && std::memcmp(&file[i + 8], "movi", 4) == 0)
      movi = i;
  ASSERT_GT(movi, 0u);
  constexpr int kDepth = 200000;
  const std::vector<uint8_t> frame = testutil::Pattern(8, 4, 7);
  std::vector<uint8_t> tail;
  auto put32 = [&tail](uint32_t v) {
    for (int i = 0; i < 4; ++i) tail.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (int level = 0; level < kDepth; ++level) {
    tail.insert(tail.end(), {'L', 'I', 'S', 'T'});
    put32(static_cast<uint32_t>(12 * (kDepth - level - 1) + 4 + 8 + frame.size()));
    tail.insert(tail.end(), {'r', 'e', 'c', ' '});
  }
  for (int copy = 0; copy < 2; ++copy) {  // one at the bottom, one after the lists
    tail.insert(tail.end(), {'0', '0', 'd', 'c'});
    put32(static_cast<uint32_t>(frame.size()));
    tail.insert(tail.end(), frame.begin(), frame.end());
  }
  file.insert(file.end(), tail.begin(), tail.end());
  auto add32 = [&file](size_t at, size_t more) {
    uint32_t v;
    std::memcpy(&v, &file[at], 4);
    v += static_cast<uint32_t>(more);
    std::memcpy(&file[at], &v, 4);
  };
  add32(4, tail.size());
  add32(movi + 4, tail.size());
  testutil::WriteFile(path, file);

  testutil::MessageRecorder shown;
  classBMPAVI source;
  ASSERT_EQ(source.GetEnable(path), kFalse);
  EXPECT_EQ(source.GetFrameMax(), 2);  // the two written frames and the one after the lists
  source.GetDIBAVI(2);
  EXPECT_TRUE(testutil::SameDib(frame, Peek(source).DIBBits(), 8, 4));
}
