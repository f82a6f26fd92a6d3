// Decoded pictures of a stream that predicts pictures from others, kept so that stepping
// backward does not decode from the keyframe again at every step. A jump or a backward step
// decodes from the keyframe up to its target; a jump keeps the pictures nearest before its
// target here, a step back that finds none of them every picture on the way, in the decoder's
// own pixel format (refcounted: no copy, and half the bytes of 24-bit rows for 4:2:0), converted
// only when shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

struct AVFrame;

// Bytes of pictures a decoder keeps: 256 MB holds a GOP of 250 pictures at 720 x 480 (about half
// a megabyte each in 4:2:0), or 80 HD pictures; a machine with less than 2 GB of memory gives an
// eighth of what it has. Read once.
size_t PictureCacheBudget();
// Bytes of pictures a jump keeps, the nearest before its target: a few dozen SD pictures, a dozen
// HD ones, so that a jump costs about what decoding from the keyframe costs.
inline constexpr size_t kJumpKeepsBytes = size_t{32} << 20;
// Tests only: the budget of the decoders made from now on (0: the one above again).
void SetPictureCacheBudgetForTesting(size_t bytes);

class PictureCache {
 public:
  explicit PictureCache(size_t budget) : budget_(budget), limit_(budget) {}

  // The picture of a packet's display number, or null.
  const AVFrame* Find(int32_t display) const;
  // Keeps no more than so many bytes from now on (never more than the budget), dropping the
  // earliest pictures down to that.
  void Limit(size_t bytes);
  void DropAfter(int32_t display);  // the pictures shown after display
  // Keeps a reference to f as display's picture, then drops pictures until the cache is within
  // its budget: first those shown after target (already stepped past on the way back), then the
  // earliest. So a window larger than the budget keeps the pictures nearest its target. A
  // picture larger than the budget, or without memory for the reference, is not kept.
  void Keep(int32_t display, const AVFrame* f, int32_t target);

 private:
  struct FrameFree {
    void operator()(AVFrame* f) const;
  };
  using Frames = std::map<int32_t, std::unique_ptr<AVFrame, FrameFree>>;
  static size_t BytesOf(const AVFrame* f);
  void Drop(Frames::iterator it);

  size_t budget_;
  size_t limit_;      // of the budget, what is kept now
  size_t bytes_ = 0;  // of the pictures' buffers, as allocated
  Frames frames_;     // display number -> picture (a reference of ours)
};
