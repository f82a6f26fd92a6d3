// Writes the committed corpus of damaged and hostile AVI files (tests/corpus/files) and their
// expected outcomes (tests/corpus/expected.txt). Each file is a small good file with one thing
// broken; the outcome is what a viewer must do with it: open (with so many frames), or refuse
// with the stream message or the decoder message. Lines of the manifest for files this program
// does not make (the fuzzer's regression files) are kept.
//   dovrel-make-corpus CORPUSDIR        (CORPUSDIR holds files/ and expected.txt)
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "aviwriter.h"

namespace {

// Packets the library looks through at open for a picture that decodes
// (FrameDecoder::kLookAheadPackets).
constexpr int kLookAhead = 300;

using Bytes = std::vector<uint8_t>;

uint32_t Fcc(const char* s) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[i]);
  return v;
}
void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}
void Set16(Bytes& b, size_t at, uint16_t v) {
  b.at(at) = static_cast<uint8_t>(v);
  b.at(at + 1) = static_cast<uint8_t>(v >> 8);
}
void Set64(Bytes& b, size_t at, uint64_t v) {
  Set32(b, at, static_cast<uint32_t>(v));
  Set32(b, at + 4, static_cast<uint32_t>(v >> 32));
}
uint32_t Get32(const Bytes& b, size_t at) {
  return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8 | uint32_t{b.at(at + 2)} << 16 |
         uint32_t{b.at(at + 3)} << 24;
}

// ---- Building files chunk by chunk, remembering where each named chunk's header is ----------

class Builder {
 public:
  void Begin(const char* list, const char* type, const std::string& name = "") {
    Mark(name);
    Put32(out_, Fcc(list));
    open_.push_back(out_.size());
    Put32(out_, 0);
    Put32(out_, Fcc(type));
  }
  void End() {
    size_t at = open_.back();
    open_.pop_back();
    Set32(out_, at, static_cast<uint32_t>(out_.size() - at - 4));
  }
  void Chunk(const char* id, const Bytes& data, const std::string& name = "") {
    Mark(name);
    Put32(out_, Fcc(id));
    Put32(out_, static_cast<uint32_t>(data.size()));
    out_.insert(out_.end(), data.begin(), data.end());
    if (data.size() & 1) out_.push_back(0);
  }
  void Raw(const Bytes& data) { out_.insert(out_.end(), data.begin(), data.end()); }
  size_t Tell() const { return out_.size(); }
  size_t At(const std::string& name) const { return at_.at(name); }
  Bytes& bytes() { return out_; }

 private:
  void Mark(const std::string& name) {
    if (!name.empty()) at_[name] = out_.size();
  }
  Bytes out_;
  std::vector<size_t> open_;
  std::map<std::string, size_t> at_;
};

struct Stream {
  const char* type = "vids";
  uint32_t handler = 0;
  Bytes format;
  uint32_t length = 0;  // as declared in strh
};

Bytes Strh(const Stream& s) {
  Bytes b;
  Put32(b, Fcc(s.type));
  Put32(b, s.handler);
  for (int i = 0; i < 3; ++i) Put32(b, 0);  // flags, priority + language, initial frames
  Put32(b, 1001);                           // scale
  Put32(b, 30000);                          // rate
  Put32(b, 0);                              // start
  Put32(b, s.length);
  for (int i = 0; i < 3; ++i) Put32(b, 0);  // buffer size, quality, sample size
  for (int i = 0; i < 4; ++i) Put16(b, 0);  // frame rectangle
  return b;
}

Bytes Avih(uint32_t frames, uint32_t streams, uint32_t width, uint32_t height) {
  Bytes b;
  Put32(b, 33367);  // microseconds per frame
  Put32(b, 0), Put32(b, 0), Put32(b, 0x10);
  Put32(b, frames), Put32(b, 0), Put32(b, streams), Put32(b, 0), Put32(b, width), Put32(b, height);
  for (int i = 0; i < 4; ++i) Put32(b, 0);
  return b;
}

struct Frame {
  std::string id = "00dc";
  Bytes data;
  bool key = true;
};

struct AviLayout {
  std::vector<Stream> streams;
  std::vector<Frame> frames;
  enum { kIdx1, kIdx1Absolute, kNone } index = kIdx1;
  uint32_t avihFrames = 0;
  // Called inside movi after frame n (n = -1: before the first).
  std::function<void(Builder&, int)> inMovi;
  std::function<void(Builder&)> inHdrl;  // after the strl lists
};

// Builds the file; named chunks: riff, hdrl, avih, strl<i>, strh<i>, strf<i>, movi, f<n>, idx1.
Builder Avi(const AviLayout& layout) {
  Builder b;
  b.Begin("RIFF", "AVI ", "riff");
  b.Begin("LIST", "hdrl", "hdrl");
  int32_t w = 0, h = 0;
  if (!layout.streams.empty() && layout.streams[0].format.size() >= 12) {
    std::memcpy(&w, layout.streams[0].format.data() + 4, 4);
    std::memcpy(&h, layout.streams[0].format.data() + 8, 4);
  }
  b.Chunk("avih",
          Avih(layout.avihFrames ? layout.avihFrames : static_cast<uint32_t>(layout.frames.size()),
               static_cast<uint32_t>(layout.streams.size()), static_cast<uint32_t>(w),
               static_cast<uint32_t>(h < 0 ? -int64_t{h} : h)),
          "avih");
  for (size_t i = 0; i < layout.streams.size(); ++i) {
    const std::string n = std::to_string(i);
    b.Begin("LIST", "strl", "strl" + n);
    b.Chunk("strh", Strh(layout.streams[i]), "strh" + n);
    b.Chunk("strf", layout.streams[i].format, "strf" + n);
    b.End();
  }
  if (layout.inHdrl) layout.inHdrl(b);
  b.End();
  b.Begin("LIST", "movi", "movi");
  const size_t moviWord = b.At("movi") + 8;
  if (layout.inMovi) layout.inMovi(b, -1);
  std::vector<size_t> offsets;
  for (size_t i = 0; i < layout.frames.size(); ++i) {
    offsets.push_back(b.Tell());
    b.Chunk(layout.frames[i].id.c_str(), layout.frames[i].data, "f" + std::to_string(i));
    if (layout.inMovi) layout.inMovi(b, static_cast<int>(i));
  }
  b.End();
  if (layout.index != AviLayout::kNone) {
    Bytes idx;
    for (size_t i = 0; i < layout.frames.size(); ++i) {
      Put32(idx, Fcc(layout.frames[i].id.c_str()));
      Put32(idx, layout.frames[i].key ? 0x10 : 0);
      Put32(idx,
            static_cast<uint32_t>(offsets[i] - (layout.index == AviLayout::kIdx1 ? moviWord : 0)));
      Put32(idx, static_cast<uint32_t>(layout.frames[i].data.size()));
    }
    b.Chunk("idx1", idx, "idx1");
  }
  b.End();
  return b;
}

// The good file everything else is broken from: 8 x 4, 24-bit, three frames, idx1.
constexpr int32_t kW = 8, kH = 4;
Bytes Pixels(size_t n, int frame) {
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 5 + frame * 40);
  return v;
}
AviLayout Base(int frames = 3) {
  AviLayout s;
  s.streams.push_back({"vids", 0, AviWriter::Format(kW, kH, 24), static_cast<uint32_t>(frames)});
  for (int i = 0; i < frames; ++i) s.frames.push_back({"00dc", Pixels(DibStride(kW, 24) * kH, i)});
  return s;
}
AviLayout WithFormat(Bytes format, size_t frameBytes, int frames = 3) {
  AviLayout s = Base(frames);
  s.streams[0].format = std::move(format);
  for (int i = 0; i < frames; ++i) s.frames[i].data = Pixels(frameBytes, i);
  return s;
}

// ---- Walking a well-formed file, for truncation points and for edits of written files -------

struct Node {
  uint32_t id = 0, type = 0;  // type: the list's form, 0 for plain chunks
  size_t at = 0;              // header offset
  uint32_t size = 0;
  size_t data() const { return at + 8; }
  size_t end() const { return at + 8 + size; }
};

void Walk(const Bytes& b, size_t begin, size_t end, std::vector<Node>& out) {
  for (size_t at = begin; at + 8 <= end;) {
    Node n{Get32(b, at), 0, at, Get32(b, at + 4)};
    if (n.end() > end) break;
    if (n.id == Fcc("RIFF") || n.id == Fcc("LIST")) n.type = Get32(b, at + 8);
    out.push_back(n);
    if (n.type) Walk(b, at + 12, n.end(), out);
    at = n.end() + (n.size & 1);
  }
}
std::vector<Node> Nodes(const Bytes& b) {
  std::vector<Node> out;
  Walk(b, 0, b.size(), out);
  return out;
}
const Node& Find(const std::vector<Node>& nodes, const char* id, int nth = 0) {
  for (const Node& n : nodes)
    if ((n.id == Fcc(id) || n.type == Fcc(id)) && nth-- == 0) return n;
  std::fprintf(stderr, "dovrel-make-corpus: no %s\n", id);
  std::exit(1);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// ---- The corpus -----------------------------------------------------------------------------

struct Case {
  std::string name;
  Bytes bytes;
  std::string outcome;  // "opens N", "stream" or "decoder"
  std::string why;
};

std::vector<Case> g_cases;
void Add(const std::string& name, Bytes bytes, const std::string& outcome, const std::string& why) {
  g_cases.push_back({"g-" + name + ".avi", std::move(bytes), outcome, why});
}
// "opens N": N positions, each of which yields a frame; "decodes=K" when only K of them do.
std::string Opens(int frames, int failing = 0) {
  std::string s = "opens " + std::to_string(frames);
  return failing ? s + " decodes=" + std::to_string(frames - failing) : s;
}

// Cuts the file at every structural point: each chunk's header, the middle of its header and
// of its data, and its end. Until the video format is whole there is no stream; after that the
// frames whose chunks are whole are what opens, and none is the decoder's failure.
void Truncations(const std::string& prefix, const Bytes& file, int videoStream) {
  std::vector<Node> nodes = Nodes(file);
  size_t strfEnd = 0;
  int strl = 0;
  for (const Node& n : nodes) {
    if (n.type == Fcc("strl") && strl++ == videoStream) {
      std::vector<Node> inner;
      Walk(file, n.at + 12, n.end(), inner);
      strfEnd = Find(inner, "strf").end();
    }
  }
  const std::string tag = {'0', static_cast<char>('0' + videoStream), 'd', 'c'};
  std::set<size_t> cuts;
  for (const Node& n : nodes) {
    for (size_t c : {n.at, n.at + 4, n.data(), n.data() + 4, n.data() + n.size / 2, n.end()})
      if (c < file.size()) cuts.insert(c);
  }
  for (size_t cut : cuts) {
    int frames = 0;
    for (const Node& n : nodes)
      if (n.id == Fcc(tag.c_str()) && n.size > 0 && n.end() <= cut) ++frames;
    const std::string outcome = cut < strfEnd ? "stream" : frames == 0 ? "decoder" : Opens(frames);
    char name[64];
    std::snprintf(name, sizeof name, "%s-%05zu", prefix.c_str(), cut);
    Add(name, Bytes(file.begin(), file.begin() + static_cast<long>(cut)), outcome,
        "cut off after " + std::to_string(cut) + " bytes");
  }
}

Bytes Nest(const char* type, int depth, const Bytes& inner) {
  Bytes out = inner;
  for (int i = 0; i < depth; ++i) {
    Bytes outer;
    Put32(outer, Fcc("LIST"));
    Put32(outer, static_cast<uint32_t>(out.size() + 4));
    Put32(outer, Fcc(type));
    outer.insert(outer.end(), out.begin(), out.end());
    out.swap(outer);
  }
  return out;
}
Bytes ChunkBytes(const char* id, const Bytes& data) {
  Builder b;
  b.Chunk(id, data);
  return b.bytes();
}

void ContainerCases() {
  const Bytes base = Avi(Base()).bytes();
  Add("base", base, Opens(3), "the good file the others are broken from");
  Truncations("cut-idx1", base, 0);
  AviLayout none = Base();
  none.index = AviLayout::kNone;
  Truncations("cut-noindex", Avi(none).bytes(), 0);

  auto edit = [](AviLayout layout, const std::function<void(Builder&)>& change) {
    Builder b = Avi(layout);
    change(b);
    return b.bytes();
  };
  auto size = [](Builder& b, const char* name, uint32_t v) { Set32(b.bytes(), b.At(name) + 4, v); };

  Add("riff-size-huge", edit(Base(), [&](Builder& b) { size(b, "riff", 0xFFFFFFF0u); }), Opens(3),
      "RIFF size far past the end");
  Add("riff-size-zero", edit(Base(), [&](Builder& b) { size(b, "riff", 0); }), Opens(3),
      "RIFF size never written");
  Add("riff-size-short", edit(Base(), [&](Builder& b) { size(b, "riff", 16); }), "stream",
      "RIFF ends inside hdrl: no stream list in it");
  Add("hdrl-size-huge", edit(Base(), [&](Builder& b) { size(b, "hdrl", 0x7FFFFFF0u); }), "decoder",
      "hdrl swallows movi: the stream is there, its frames are not");
  Add("strl-size-past-hdrl",
      edit(Base(), [&](Builder& b) { size(b, "strl0", Get32(b.bytes(), b.At("hdrl") + 4) + 64); }),
      Opens(3), "strl runs past hdrl and into movi");
  Add("strh-size-huge", edit(Base(), [&](Builder& b) { size(b, "strh0", 0xFFFFFF00u); }), "stream",
      "strh runs past the file: strf is never reached");
  Add("strf-size-past-strl", edit(Base(), [&](Builder& b) { size(b, "strf0", 200); }), "stream",
      "strf runs past its strl");
  Add("strf-size-huge", edit(Base(), [&](Builder& b) { size(b, "strf0", 0xFFFFFFF0u); }), "stream",
      "strf runs past the file");
  Add("movi-size-huge", edit(Base(), [&](Builder& b) { size(b, "movi", 0xFFFFFFF0u); }), Opens(3),
      "movi swallows idx1: the frames are scanned");
  Add("movi-size-zero", edit(Base(), [&](Builder& b) { size(b, "movi", 0); }), Opens(3),
      "movi size never written: the rest of the file is movi");
  Add("idx1-size-huge", edit(Base(), [&](Builder& b) { size(b, "idx1", 0xFFFFFFF0u); }), Opens(3),
      "idx1 runs past the file: the frames are scanned");
  Add("idx1-size-odd", edit(Base(), [&](Builder& b) { size(b, "idx1", 47); }), Opens(2),
      "idx1 cut to two entries and a part: the index decides");
  Add("frame-size-huge-idx1", edit(Base(), [&](Builder& b) { size(b, "f2", 0xFFFFFFF0u); }),
      Opens(3), "last frame's chunk size past the file, idx1 gives the true size");
  Add("frame-size-huge-noindex", edit(none, [&](Builder& b) { size(b, "f2", 0xFFFFFFF0u); }),
      Opens(2), "last frame's chunk size past the file, no index: it is dropped");
  Add("frame-size-past-movi", edit(none, [&](Builder& b) { size(b, "f1", 300); }), Opens(1),
      "middle frame's chunk runs past movi, no index: the scan stops there");
  Add("frame-size-short-idx1", edit(Base(), [&](Builder& b) { size(b, "f1", 10); }), Opens(3, 1),
      "a chunk smaller than idx1 says: that frame does not decode");

  {  // A LIST too small for its type word inside movi, then the frames go on.
    AviLayout s = none;
    s.inMovi = [](Builder& b, int after) {
      if (after == 0) b.Raw({'L', 'I', 'S', 'T', 0, 0, 0, 0});
    };
    Add("list-size-zero-in-movi", Avi(s).bytes(), Opens(3), "an empty LIST between frames");
  }
  {  // A chunk id that is no chunk id: the scan gives up at it.
    AviLayout s = none;
    s.inMovi = [](Builder& b, int after) {
      if (after == 1) b.Raw({0x01, 0xFF, 0x00, 0x80, 4, 0, 0, 0, 1, 2, 3, 4});
    };
    Add("garbage-in-movi-noindex", Avi(s).bytes(), Opens(2),
        "binary garbage after frame 1, no index");
    s.index = AviLayout::kIdx1;
    Add("garbage-in-movi-idx1", Avi(s).bytes(), Opens(3),
        "binary garbage after frame 1, idx1 skips it");
  }

  // Deep nesting: a reader that recursed on every LIST would run out of stack.
  {
    AviLayout s = none;
    s.frames.erase(s.frames.begin() + 1);
    const Bytes deepFrame = Nest("rec ", 400, ChunkBytes("00dc", Pixels(96, 9)));
    s.inMovi = [&](Builder& b, int after) {
      if (after == 0) b.Raw(deepFrame);
    };
    Add("rec-nested-400", Avi(s).bytes(), Opens(2), "a frame 400 rec lists down is not followed");
    const Bytes shallow = Nest("rec ", 3, ChunkBytes("00dc", Pixels(96, 9)));
    s.inMovi = [&](Builder& b, int after) {
      if (after == 0) b.Raw(shallow);
    };
    Add("rec-nested-3", Avi(s).bytes(), Opens(3), "a frame 3 rec lists down is found");
    AviLayout h = Base();
    const Bytes deepJunk = Nest("abcd", 400, ChunkBytes("JUNK", Bytes(4, 0)));
    h.inHdrl = [&](Builder& b) { b.Raw(deepJunk); };
    Add("hdrl-nested-400", Avi(h).bytes(), Opens(3), "400 nested lists inside hdrl are skipped");
    const Bytes deepStrl = Nest("strl", 400, Bytes{});
    h.inHdrl = [&](Builder& b) { b.Raw(deepStrl); };
    Add("strl-nested-400", Avi(h).bytes(), Opens(3),
        "strl lists nested 400 deep after the real one");
    Builder top = Avi(Base());
    Bytes withTail = top.bytes();
    const Bytes deepTop = Nest("movi", 400, ChunkBytes("00dc", Pixels(96, 9)));
    withTail.insert(withTail.begin() + static_cast<long>(top.At("idx1")), deepTop.begin(),
                    deepTop.end());
    Set32(withTail, 4, static_cast<uint32_t>(withTail.size() - 8));
    Add("movi-nested-400", withTail, Opens(3), "movi lists nested 400 deep between movi and idx1");
  }
}

void IndexCases() {
  auto idx = [](Builder& b, int entry, int field) {
    return b.At("idx1") + 8 + 16 * entry + 4 * field;
  };
  {
    Builder b = Avi(Base());
    Bytes& v = b.bytes();
    Bytes entries(v.begin() + static_cast<long>(idx(b, 0, 0)),
                  v.begin() + static_cast<long>(idx(b, 3, 0)));
    for (int i = 0; i < 3; ++i)  // 2, 0, 1
      std::copy_n(entries.begin() + 16 * ((i + 2) % 3), 16,
                  v.begin() + static_cast<long>(idx(b, i, 0)));
    Add("idx1-out-of-order", v, Opens(3), "idx1 lists frames 2, 0, 1");
  }
  {  // movi ends before the last frame, which idx1 still names.
    Builder b = Avi(Base());
    Set32(b.bytes(), b.At("movi") + 4, static_cast<uint32_t>(b.At("f2") - b.At("movi") - 8));
    Add("idx1-entry-outside-movi", b.bytes(), Opens(3), "the last frame lies after movi's end");
  }
  {
    Builder b = Avi(Base());
    Set32(b.bytes(), idx(b, 1, 2), 0x7FFFFFF0u);
    Add("idx1-offset-past-file", b.bytes(), Opens(3),
        "an entry past the file: idx1 unused, scanned");
  }
  {
    Builder b = Avi(Base());
    Set32(b.bytes(), idx(b, 2, 3), 0xFFFFFFF0u);
    Add("idx1-size-past-file", b.bytes(), Opens(3), "an entry's size past the file: idx1 unused");
  }
  {
    Builder b = Avi(Base());
    Set32(b.bytes(), idx(b, 0, 2), 0);
    Add("idx1-first-at-movi-word", b.bytes(), Opens(3),
        "the first entry names no chunk: idx1 unused");
  }
  {
    Builder b = Avi(Base());
    Set32(b.bytes(), idx(b, 1, 2), 0);
    Add("idx1-middle-at-movi-word", b.bytes(), Opens(3, 1),
        "a later entry names no chunk: that frame fails");
  }
  {
    Builder b = Avi(Base());
    Set32(b.bytes(), idx(b, 1, 2), static_cast<uint32_t>(b.At("avih") - b.At("movi") - 8));
    Add("idx1-offset-before-movi", b.bytes(), Opens(3),
        "an offset that wraps past the file: idx1 unused");
  }
  {
    Builder b = Avi(Base());
    Set32(b.bytes(), idx(b, 1, 2), static_cast<uint32_t>(b.At("idx1") - b.At("movi") - 8));
    Add("idx1-entry-at-idx1", b.bytes(), Opens(3),
        "an entry points at idx1, too near the end: idx1 unused");
  }
  {
    Builder b = Avi(Base());
    for (int i = 0; i < 3; ++i) Set32(b.bytes(), idx(b, i, 1), 0x01);  // AVIIF_LIST
    Add("idx1-only-lists", b.bytes(), Opens(3),
        "every entry flagged as a list: the frames are scanned");
  }
  {
    Builder b = Avi(Base());
    for (int i = 0; i < 3; ++i) Set32(b.bytes(), idx(b, i, 0), Fcc("07dc"));
    Add("idx1-other-stream", b.bytes(), Opens(3), "entries for a stream that does not exist");
  }
  {
    Builder b = Avi(Base());
    for (int i = 0; i < 3; ++i) Set32(b.bytes(), idx(b, i, 3), 0);
    Add("idx1-sizes-zero", b.bytes(), "decoder", "idx1 says every frame was dropped");
  }
  {
    AviLayout s = Base();
    s.index = AviLayout::kIdx1Absolute;
    Add("idx1-absolute", Avi(s).bytes(), Opens(3), "offsets from the start of the file");
  }
  {
    AviLayout s = Base();
    s.avihFrames = 0x80000000u;
    s.streams[0].length = 0x80000000u;
    Add("length-2pow31", Avi(s).bytes(), Opens(3), "headers declare 2^31 frames; the index has 3");
    s.streams[0].length = 0xFFFFFFFFu;
    Add("length-max", Avi(s).bytes(), Opens(3), "headers declare 2^32 - 1 frames");
  }
  {
    Builder b = Avi(Base());
    Set32(b.bytes(), b.At("idx1") + 4, 0x80000000u);
    Add("idx1-2pow31-entries", b.bytes(), Opens(3), "idx1 claims 2^31 bytes of entries");
  }
}

// Our writer leaves room for 256 super index entries; the corpus keeps only those in use, so
// that its OpenDML files are small. Every size around the indx and every absolute offset
// behind it moves down.
Bytes WithoutSpareSlots(Bytes b) {
  const std::vector<Node> nodes = Nodes(b);
  const Node& indx = Find(nodes, "indx");
  const uint32_t used = Get32(b, indx.data() + 4);
  const size_t from = indx.data() + 24 + 16 * used, delta = indx.end() - from;
  for (const Node& n : nodes)
    if (n.at < from && n.end() >= indx.end())
      Set32(b, n.at + 4, static_cast<uint32_t>(n.size - delta));
  for (uint32_t i = 0; i < used; ++i) {
    const size_t at = indx.data() + 24 + 16 * i;
    Set32(b, at, static_cast<uint32_t>(Get32(b, at) - delta));  // small files: the high word is 0
  }
  for (const Node& n : nodes)
    if (n.id == Fcc("ix00"))
      Set32(b, n.data() + 12, static_cast<uint32_t>(Get32(b, n.data() + 12) - delta));
  b.erase(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(indx.end()));
  return b;
}

// OpenDML: indx super index -> ix## standard indexes, frames in RIFF AVI and RIFF AVIX lists.
void OpenDmlCases(const std::string& temp) {
  AviWriterOptions o;
  o.index = AviWriterOptions::Index::kOpenDml;
  o.riffLimit = 200;  // the first RIFF holds hdrl (with room for the super index) alone
  {
    AviWriter w(temp, AviWriter::Format(kW, kH, 24), o);
    for (int i = 0; i < 6; ++i) w.AddFrame(Pixels(96, i));
    if (!w.Close()) std::exit(1);
  }
  const Bytes odml = WithoutSpareSlots(ReadFile(temp));
  const std::vector<Node> nodes = Nodes(odml);
  int riffs = 0;
  for (const Node& n : nodes) riffs += n.id == Fcc("RIFF");
  if (riffs < 3) {
    std::fprintf(stderr, "dovrel-make-corpus: the OpenDML file has %d RIFFs\n", riffs);
    std::exit(1);
  }
  Add("odml", odml, Opens(6), "OpenDML: hdrl, then three AVIX RIFFs of two frames");
  // Only the cuts after hdrl: those inside it repeat the plain file's.
  {
    const size_t moviAt = Find(nodes, "movi").at;
    const size_t before = g_cases.size();
    Truncations("cut-odml", odml, 0);
    std::vector<Case> kept(g_cases.begin(), g_cases.begin() + static_cast<long>(before));
    for (size_t i = before; i < g_cases.size(); ++i)
      if (g_cases[i].bytes.size() >= moviAt) kept.push_back(g_cases[i]);
    g_cases.swap(kept);
  }

  const size_t indx = Find(nodes, "indx").data();  // wLongsPerEntry, type, count, id, 12 reserved
  const size_t super0 = indx + 24;                 // qwOffset, dwSize, dwDuration
  const size_t ix1 = Find(nodes, "ix00", 1).at;
  auto edited = [&](const std::function<void(Bytes&)>& change) {
    Bytes b = odml;
    change(b);
    return b;
  };
  Add("odml-super-past-file", edited([&](Bytes& b) { Set64(b, super0 + 16, 0x7FFFFFFF00ull); }),
      Opens(6), "a super index entry past the file: the movi lists are scanned");
  Add("odml-super-at-itself", edited([&](Bytes& b) { Set64(b, super0, indx - 8); }), Opens(6),
      "a super index entry naming the super index");
  Add("odml-super-twice", edited([&](Bytes& b) { Set64(b, super0 + 16, Get32(b, super0) | 0ull); }),
      Opens(6), "two super index entries name the same ix00");
  Add("odml-super-count-huge", edited([&](Bytes& b) { Set32(b, indx + 4, 0xFFFFFFFFu); }), Opens(6),
      "the super index claims 2^32 - 1 entries");
  Add("odml-super-longs-zero", edited([&](Bytes& b) { Set16(b, indx, 0); }), Opens(6),
      "super index entries of no size");
  Add("odml-super-at-frame", edited([&](Bytes& b) { Set64(b, super0, Find(nodes, "00dc").at); }),
      Opens(6), "a super index entry naming a frame chunk");
  Add("odml-ix-count-huge", edited([&](Bytes& b) { Set32(b, ix1 + 8 + 4, 0x40000000u); }), Opens(6),
      "an ix00 claims 2^30 entries");
  Add("odml-ix-past-file", edited([&](Bytes& b) { Set32(b, ix1 + 8 + 24, 0xFFFFFF00u); }), Opens(6),
      "an ix00 entry past the file");
  Add("odml-ix-base-huge", edited([&](Bytes& b) { Set64(b, ix1 + 8 + 12, 0xFFFFFFFFFFFFFF00ull); }),
      Opens(6), "an ix00 whose base offset wraps around");
  Add("odml-ix-at-ix", edited([&](Bytes& b) {
        const uint64_t base = Get32(b, ix1 + 8 + 12) | uint64_t{Get32(b, ix1 + 8 + 16)} << 32;
        for (int e = 0; e < 2; ++e)
          Set32(b, ix1 + 8 + 24 + 8 * e, static_cast<uint32_t>(ix1 + 8 - base));
      }),
      Opens(6), "an ix00's entries name the ix00 itself");
  Add("odml-ix-at-super", edited([&](Bytes& b) {
        const uint64_t base = Get32(b, ix1 + 8 + 12) | uint64_t{Get32(b, ix1 + 8 + 16)} << 32;
        for (int e = 0; e < 2; ++e)
          Set32(b, ix1 + 8 + 24 + 8 * e, static_cast<uint32_t>(indx - base));
      }),
      Opens(6), "an ix00's entries name the super index");
  Add("odml-super-out-of-order", edited([&](Bytes& b) {
        for (int i = 0; i < 4; ++i) std::swap(b[super0 + 16 + 4 * i], b[super0 + 32 + 4 * i]);
      }),
      Opens(6), "the super index lists two RIFFs the other way round");
  Add("odml-ix-longs-zero", edited([&](Bytes& b) { Set16(b, ix1 + 8, 0); }), Opens(6),
      "an ix00 with entries of no size");
  Add("odml-avix-size-huge",
      edited([&](Bytes& b) { Set32(b, Find(nodes, "AVIX", 2).at + 4, 0xFFFFFFF0u); }), Opens(6),
      "the last AVIX RIFF's size past the file");
  Add("odml-avix-size-zero", edited([&](Bytes& b) { Set32(b, Find(nodes, "AVIX", 0).at + 4, 0); }),
      Opens(6), "an AVIX size never written; the indexes still find every frame");
}

void FormatCases() {
  const size_t frame = 96;
  auto fmt = [](int32_t w, int32_t h, uint16_t bits, uint32_t compression = BI_RGB) {
    return AviWriter::Format(w, h, bits, compression, 96);
  };
  Add("size-65535x65535", Avi(WithFormat(fmt(65535, 65535, 24), frame)).bytes(), "decoder",
      "declared 65535 x 65535");
  Add("size-16384x16384", Avi(WithFormat(fmt(16384, 16384, 24), frame)).bytes(), "decoder",
      "each side at the limit, the area beyond it");
  Add("size-16385x1", Avi(WithFormat(fmt(16385, 1, 24), frame)).bytes(), "decoder",
      "width past the limit");
  Add("size-8000x5000", Avi(WithFormat(fmt(8000, 5000, 24), frame)).bytes(), "decoder",
      "within the limits, but no frame holds that many bytes");
  Add("height-zero", Avi(WithFormat(fmt(kW, 0, 24), frame)).bytes(), "decoder", "height 0");
  Add("width-zero", Avi(WithFormat(fmt(0, kH, 24), frame)).bytes(), "decoder", "width 0");
  Add("width-negative", Avi(WithFormat(fmt(-8, kH, 24), frame)).bytes(), "decoder", "width -8");
  Add("height-negative", Avi(WithFormat(fmt(kW, -kH, 24), frame)).bytes(), Opens(3),
      "a top-down DIB stream");
  Add("height-min", Avi(WithFormat(fmt(kW, INT32_MIN, 24), frame)).bytes(), "decoder",
      "height -2^31");
  Add("height-negative-mjpeg", Avi(WithFormat(fmt(16, -16, 24, Fcc("MJPG")), 64)).bytes(),
      "decoder", "a top-down MJPEG header over frames that are not JPEG");
  Add("bits-zero", Avi(WithFormat(fmt(kW, kH, 0), frame)).bytes(), "decoder", "0 bits per pixel");
  Add("bits-7", Avi(WithFormat(fmt(kW, kH, 7), frame)).bytes(), "decoder", "7 bits per pixel");
  Add("bitfields-no-masks", Avi(WithFormat(fmt(kW, kH, 16, BI_BITFIELDS), 64)).bytes(), "decoder",
      "BI_BITFIELDS without its masks");
  {
    Bytes f = fmt(kW, kH, 24);
    Set32(f, 20, 0xFFFFFFFFu);
    Add("sizeimage-huge", Avi(WithFormat(f, frame)).bytes(), Opens(3), "biSizeImage 2^32 - 1");
    Set32(f, 0, 0xFFFFFFFFu);
    Add("bisize-huge", Avi(WithFormat(f, frame)).bytes(), Opens(3), "biSize 2^32 - 1");
  }
  Add("frames-short", Avi(WithFormat(fmt(kW, kH, 24), 10)).bytes(), "decoder",
      "every frame shorter than the format needs");
  {
    AviLayout s = Base();
    s.frames[1].data.resize(10);
    Add("frame1-short", Avi(s).bytes(), Opens(3, 1), "one frame shorter than the format needs");
  }
  {
    AviLayout s = Base();
    s.frames[0].data.clear();
    Add("frame0-empty", Avi(s).bytes(), Opens(3), "the first frame dropped: it shows the next one");
    for (Frame& f : s.frames) f.data.clear();
    Add("frames-all-empty", Avi(s).bytes(), "decoder", "zero-length frames throughout");
    s.index = AviLayout::kNone;
    Add("frames-all-empty-noindex", Avi(s).bytes(), "decoder",
        "zero-length frames throughout, no index");
    s.frames.clear();
    Add("frames-none", Avi(s).bytes(), "decoder", "an empty movi");
  }

  // Palettes: 8 x 4 at 8 bits is 32 bytes a frame, at 4 bits 16.
  auto pal = [](uint16_t bits, uint32_t clrUsed, int entries) {
    Bytes f = AviWriter::Format(kW, kH, bits);
    Set32(f, 32, clrUsed);
    for (int i = 0; i < entries; ++i) Put32(f, 0x00102030u * static_cast<uint32_t>(i + 1));
    return f;
  };
  Add("pal8-short", Avi(WithFormat(pal(8, 256, 4), 32)).bytes(), Opens(3),
      "256 colours declared, 4 given");
  Add("pal8-none", Avi(WithFormat(pal(8, 0, 0), 32)).bytes(), Opens(3), "no palette at all");
  Add("pal8-clrused-huge", Avi(WithFormat(pal(8, 0xFFFFFFFFu, 2), 32)).bytes(), Opens(3),
      "2^32 - 1 colours declared, 2 given");
  Add("pal4-clrused-300", Avi(WithFormat(pal(4, 300, 16), 16)).bytes(), Opens(3),
      "300 colours for 4 bits");
  Add("pal1-odd-width",
      Avi(WithFormat(
              [&] {
                Bytes f = AviWriter::Format(13, 3, 1);
                Put32(f, 0), Put32(f, 0xFFFFFF);
                return f;
              }(),
              12))
          .bytes(),
      Opens(3), "1 bit, 13 pixels a row");
  {
    // RLE8: each row a run of 8 pixels of colour 1, then end of line; end of picture.
    Bytes rle;
    for (int y = 0; y < kH; ++y)
      for (uint8_t b : {uint8_t{8}, static_cast<uint8_t>(y % 2), uint8_t{0}, uint8_t{0}})
        rle.push_back(b);
    rle.push_back(0);
    rle.push_back(1);
    AviLayout s = WithFormat(pal(8, 256, 2), rle.size());
    Set32(s.streams[0].format, 16, BI_RLE8);
    for (Frame& f : s.frames) f.data = rle;
    Add("rle8-short-palette", Avi(s).bytes(), Opens(3),
        "RLE8 frames, 256 colours declared, 2 given");
  }
  const Bytes whole = fmt(kW, kH, 24);
  Add("strf-20", Avi(WithFormat(Bytes(whole.begin(), whole.begin() + 20), frame)).bytes(), "stream",
      "strf shorter than the bitmap header");
  Add("strf-39", Avi(WithFormat(Bytes(whole.begin(), whole.begin() + 39), frame)).bytes(), "stream",
      "strf one byte short of the bitmap header");
  Add("strf-empty", Avi(WithFormat({}, frame)).bytes(), "stream", "an empty strf");

  // Compressed formats over frames that are not what they claim.
  const Bytes junk = Pixels(200, 3);
  for (const char* tag : {"MJPG", "dvsd", "XVID", "H264"}) {
    AviLayout s = WithFormat(fmt(kW * 2, kH * 4, 24, Fcc(tag)), junk.size());
    for (Frame& f : s.frames) f.data = junk;
    std::string name = tag;
    for (char& c : name) c = static_cast<char>(std::tolower(c));
    Add("junk-" + name, Avi(s).bytes(), "decoder", std::string(tag) + " frames of junk");
  }
  Add("codec-unknown", Avi(WithFormat(fmt(kW, kH, 24, Fcc("QQQQ")), frame)).bytes(), "decoder",
      "a FourCC no decoder knows");
  Add("mjpeg-65535x65535", Avi(WithFormat(fmt(65535, 65535, 24, Fcc("MJPG")), 64)).bytes(),
      "decoder", "MJPEG declared 65535 x 65535");
}

void StreamCases() {
  {
    AviLayout s = Base();
    s.streams[0].type = "auds";
    Add("audio-only", Avi(s).bytes(), "stream", "the only stream is audio");
    s.streams.clear();
    Add("no-streams", Avi(s).bytes(), "stream", "hdrl without strl");
  }
  {
    AviLayout s = Base();
    Stream audio{"auds", 0, Bytes(16, 0), 0};
    s.streams.insert(s.streams.begin(), audio);
    for (Frame& f : s.frames) f.id = "01dc";
    Add("video-second", Avi(s).bytes(), Opens(3), "audio stream 0, video stream 1");
    s.streams.insert(s.streams.begin(), 63, audio);
    for (Frame& f : s.frames) f.id = "40dc";
    Add("video-65th", Avi(s).bytes(), "stream", "64 audio streams before the video one");
  }
  {
    Builder b = Avi(Base());
    Set32(b.bytes(), b.At("strh0") + 4, 40);  // strh of 40 bytes, then 16 bytes of "chunk"
    Add("strh-short", b.bytes(), "stream", "strh too short to be one");
  }
  {
    Builder b = Avi(Base());
    Set32(b.bytes(), b.At("strh0"), Fcc("strx"));
    Add("strh-missing", b.bytes(), "stream", "strl without strh");
  }
  {
    Builder b = Avi(Base());
    Set32(b.bytes(), 8, Fcc("WAVE"));
    Add("form-wave", b.bytes(), "stream", "a RIFF that is not AVI");
    Set32(b.bytes(), 8, Fcc("AVI "));
    Set32(b.bytes(), 0, Fcc("RIFX"));
    Add("riff-rifx", b.bytes(), "stream", "big-endian RIFF");
    Set32(b.bytes(), 0, Fcc("RIFF"));
    Set32(b.bytes(), b.At("hdrl") + 8, Fcc("hdrX"));
    Add("hdrl-missing", b.bytes(), "stream", "no hdrl list");
  }
  {
    AviLayout s = Base();
    s.inHdrl = [](Builder& b) {  // a second video strl after the first: not the one used
      b.Begin("LIST", "strl");
      b.Chunk("strh", Strh({"vids", 0, {}, 1}));
      b.Chunk("strf", AviWriter::Format(65535, 65535, 24));
      b.End();
    };
    Add("two-video-streams", Avi(s).bytes(), Opens(3), "the first video stream is the one opened");
    Builder b = Avi(s);
    Bytes v = b.bytes();
    // A second hdrl after the first: ignored.
    const size_t hdrlEnd = b.At("movi");
    Bytes second(v.begin() + static_cast<long>(b.At("hdrl")),
                 v.begin() + static_cast<long>(hdrlEnd));
    Set32(second, 12 + 8 + 56 + 12 + 8 + 56 + 8 + 4, 65535);  // the second hdrl's first width
    v.insert(v.begin() + static_cast<long>(hdrlEnd), second.begin(), second.end());
    Set32(v, 4, static_cast<uint32_t>(v.size() - 8));
    // idx1 offsets count from movi, which moved with it.
    Add("two-hdrl", v, Opens(3), "a second hdrl list is not read");
  }
}

// ---- Compressed pictures made by hand: tiny, and able to declare any size ---------------------

// A grey JPEG of w x h: one component, every block's coefficients 0, with Huffman tables of a
// single one-bit code. Progressive (SOF2: only the DC scan) or baseline.
Bytes Jpeg(uint16_t w, uint16_t h, bool progressive, int components = 1) {
  Bytes j = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
  j.insert(j.end(), 64, 1);
  auto be16 = [&j](size_t v) {
    j.push_back(static_cast<uint8_t>(v >> 8));
    j.push_back(static_cast<uint8_t>(v));
  };
  j.insert(j.end(), {0xFF, static_cast<uint8_t>(progressive ? 0xC2 : 0xC0)});
  be16(8 + 3 * components);
  j.push_back(8);
  be16(h);
  be16(w);
  j.push_back(static_cast<uint8_t>(components));
  for (int c = 1; c <= components; ++c) j.insert(j.end(), {static_cast<uint8_t>(c), 0x11, 0});
  for (uint8_t table : {0x00, 0x10}) {  // DC 0, AC 0: symbol 0 (no difference, end of block)
    j.insert(j.end(), {0xFF, 0xC4, 0x00, 0x14, table, 1});
    j.insert(j.end(), 15, 0);
    j.push_back(0);
  }
  j.insert(j.end(), {0xFF, 0xDA});
  be16(6 + 2 * components);
  j.push_back(static_cast<uint8_t>(components));
  for (int c = 1; c <= components; ++c) j.insert(j.end(), {static_cast<uint8_t>(c), 0x00});
  j.insert(j.end(), {0, static_cast<uint8_t>(progressive ? 0 : 63), 0});
  // Two bits a block; a picture larger than its data ends early, as a damaged one does.
  const size_t blocks = size_t{(w + 7u) / 8} * ((h + 7u) / 8) * static_cast<size_t>(components);
  j.insert(j.end(), std::min<size_t>((blocks + 3) / 4, 64), 0);
  j.insert(j.end(), {0xFF, 0xD9});
  return j;
}

class BitWriter {
 public:
  void Bits(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bits_.push_back((v >> i) & 1);
  }
  void Ue(uint32_t v) {
    int n = 0;
    while ((v + 1) >> (n + 1)) ++n;
    Bits(0, n);
    Bits(v + 1, n + 1);
  }
  void Align() {
    while (bits_.size() % 8) bits_.push_back(0);
  }
  // The NAL unit: its header byte, then the bits with start codes escaped.
  Bytes Nal(uint8_t header, bool trailing = true) {
    if (trailing) {
      Bits(1, 1);
      Align();
    }
    Bytes out = {0, 0, 0, 1, header};
    int zeros = 0;
    for (size_t i = 0; i < bits_.size(); i += 8) {
      uint8_t byte = 0;
      for (int b = 0; b < 8; ++b) byte = static_cast<uint8_t>(byte << 1 | bits_[i + b]);
      if (zeros >= 2 && byte <= 3) {
        out.push_back(3);
        zeros = 0;
      }
      out.push_back(byte);
      zeros = byte == 0 ? zeros + 1 : 0;
    }
    return out;
  }

 private:
  std::vector<uint8_t> bits_;
};

// An H.264 access unit: sequence and picture parameters for widthMbs x heightMbs macroblocks
// and an IDR picture whose first macroblock is raw samples (I_PCM) of the given grey; a
// picture of more macroblocks stops there, as a damaged one does.
Bytes H264(uint32_t widthMbs, uint32_t heightMbs, uint8_t grey, uint32_t idrId) {
  BitWriter sps;
  sps.Bits(66, 8), sps.Bits(0xC0, 8), sps.Bits(30, 8);  // baseline, level 3
  sps.Ue(0), sps.Ue(0), sps.Ue(2), sps.Ue(1);           // id, frame_num bits 4, poc type 2, 1 ref
  sps.Bits(0, 1), sps.Ue(widthMbs - 1), sps.Ue(heightMbs - 1);
  sps.Bits(0b1100, 4);  // frames only, direct 8x8, no cropping, no VUI
  BitWriter pps;
  pps.Ue(0), pps.Ue(0), pps.Bits(0, 2), pps.Ue(0), pps.Ue(0), pps.Ue(0), pps.Bits(0, 3);
  pps.Ue(1), pps.Ue(1), pps.Ue(1);  // qp, qs and chroma offsets 0 (se(0) is ue(0)'s code)
  pps.Bits(0b100, 3);               // deblocking control present
  BitWriter idr;
  idr.Ue(0), idr.Ue(7), idr.Ue(0), idr.Bits(0, 4), idr.Ue(idrId);  // I slice, frame_num 0
  idr.Bits(0, 2), idr.Ue(0), idr.Ue(1);  // reference marking, qp delta 0, no deblocking
  idr.Ue(25);                            // I_PCM
  idr.Align();
  for (int i = 0; i < 256 + 128; ++i) idr.Bits(i < 256 ? grey : 0x80, 8);
  Bytes out = sps.Nal(0x67);
  for (const Bytes& nal : {pps.Nal(0x68), idr.Nal(0x65)})
    out.insert(out.end(), nal.begin(), nal.end());
  return out;
}

// Bytes in which no decoder finds a picture.
Bytes Junk(size_t n, int seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(0x41 + (i * 7 + seed) % 26);
  return b;
}

void DamagedStreamCases() {
  auto stream = [](const char* tag, const std::vector<Bytes>& frames, bool index = true) {
    AviLayout s = Base(0);
    s.streams[0].format = AviWriter::Format(16, 16, 24, Fcc(tag), 0);
    s.streams[0].length = static_cast<uint32_t>(frames.size());
    if (!index) s.index = AviLayout::kNone;
    for (const Bytes& f : frames) s.frames.push_back({"00dc", f});
    return Avi(s).bytes();
  };
  const Bytes grey = Jpeg(16, 16, false), mjpegBomb = Jpeg(16000, 16000, true, 3);
  Add("mjpeg-progressive-16000", stream("MJPG", {mjpegBomb, grey, grey, mjpegBomb}), Opens(4, 2),
      "progressive JPEGs of 16000 x 16000 in a 16 x 16 stream: no such picture");
  Add("mjpeg-frame-32x32", stream("MJPG", {grey, Jpeg(32, 32, false), grey}), Opens(3, 1),
      "a JPEG of 32 x 32 in a 16 x 16 stream is none of its pictures");
  Add("h264-sps-16000", stream("H264", {H264(1000, 1000, 50, 0), H264(1, 1, 90, 1)}), Opens(2, 1),
      "an H.264 picture of 16000 x 16000 in a 16 x 16 stream, then a good one");
  {
    std::vector<Bytes> frames = {H264(1, 1, 120, 0)};
    for (int i = 1; i < 200; ++i) frames.push_back(Junk(6, i));
    Add("h264-junk-after-first", stream("H264", frames, false), Opens(200, 199),
        "one H.264 picture, then 199 packets of junk");
  }
  std::vector<Bytes> frames;
  for (int i = 0; i < kLookAhead - 1; ++i) frames.push_back(Junk(4, i));
  frames.push_back(grey);
  Add("mjpeg-first-at-lookahead", stream("MJPG", frames, false), Opens(kLookAhead, kLookAhead - 1),
      "the first picture that decodes is the last one looked for at open");
  frames.insert(frames.begin(), Junk(4, 99));
  Add("mjpeg-first-past-lookahead", stream("MJPG", frames, false), "decoder",
      "the first picture that decodes comes too late");
  frames = {Junk(40, 1), grey, Jpeg(16, 16, true), grey};
  Add("mjpeg-first-damaged", stream("MJPG", frames), Opens(4, 1),
      "the first picture is damaged: the stream opens, black until the next");
}

bool WriteFile(const std::string& path, const Bytes& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dovrel-make-corpus CORPUSDIR\n");
    return 2;
  }
  const std::string dir = argv[1], files = dir + "/files", manifest = dir + "/expected.txt";
  ::mkdir(files.c_str(), 0777);
  const std::string temp = files + "/.odml-temp";
  ContainerCases();
  IndexCases();
  OpenDmlCases(temp);
  ::unlink(temp.c_str());
  FormatCases();
  StreamCases();
  DamagedStreamCases();

  // The files this program made before go; the others (fuzzer regressions) stay.
  if (DIR* d = ::opendir(files.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::strncmp(e->d_name, "g-", 2) == 0) ::unlink((files + "/" + e->d_name).c_str());
    ::closedir(d);
  }
  std::vector<std::string> kept;
  {
    std::ifstream in(manifest);
    bool header = true;
    for (std::string line; std::getline(in, line);) {
      if (header && (line.empty() || line[0] == '#')) continue;
      header = false;
      if (line.rfind("g-", 0) != 0) kept.push_back(line);
    }
  }
  std::ofstream out(manifest, std::ios::trunc);
  out << "# Damaged and hostile AVI files and what opening each must do: \"opens N\" (N frames),\n"
         "# \"stream\" (the stream message) or \"decoder\" (the decoder message); \"decodes=K\" "
         "when only K\n"
         "# of the N positions yield a frame of their own (the others repeat the picture before). "
         "The g- files are made\n"
         "# by fuzz/make_corpus.cpp (dovrel-make-corpus tests/corpus); the others are the "
         "fuzzer's\n"
         "# finds, added by hand.\n";
  std::set<std::string> names;
  size_t total = 0;
  for (const Case& c : g_cases) {
    if (!names.insert(c.name).second) {
      std::fprintf(stderr, "dovrel-make-corpus: %s twice\n", c.name.c_str());
      return 1;
    }
    if (!WriteFile(files + "/" + c.name, c.bytes)) return 1;
    total += c.bytes.size();
    char line[256];
    std::snprintf(line, sizeof line, "%-34s %-18s # %s\n", c.name.c_str(), c.outcome.c_str(),
                  c.why.c_str());
    out << line;
  }
  for (const std::string& line : kept) out << line << "\n";
  std::printf("%zu files, %zu bytes\n", g_cases.size(), total);
  return out ? 0 : 1;
}
