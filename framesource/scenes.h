// Where recordings start, found from the recording times of a few frames. Within one recording
// the camera's clock rises with the frames; a scene starts at a frame whose time jumps from the
// last frame before it that has one: backwards, or forwards by more than a second beyond the
// frames between. Frames without a time (a dropout, an unset clock) neither start nor end a
// scene. The first frame with a time starts the first scene.
//
// The search reads frames at growing distances while their times stay continuous with where it
// started, then narrows down between the last continuous frame and the first that is not: a
// few dozen reads wherever the next scene is, in a capture of any length.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

class SceneSearch {
 public:
  // The recording time of a frame in seconds, or none. Frames per second is rateNum / rateDen.
  using TimeOf = std::function<std::optional<int64_t>(int32_t frame)>;
  SceneSearch(int32_t frames, int64_t rateNum, int64_t rateDen, TimeOf timeOf);

  // The first frame of the next scene after `frame`, or -1 when no scene starts after it.
  int32_t Next(int32_t frame);
  // The first frame of the last scene that starts before `frame`, or -1 when none does.
  int32_t Previous(int32_t frame);
  // Frames read since the search was made: each frame is read once per call.
  int64_t Reads() const { return reads_; }

 private:
  struct Stamp {
    int32_t frame;
    int64_t time;
  };
  std::optional<int64_t> At(int32_t frame);
  bool Continuous(const Stamp& a, const Stamp& b) const;
  std::optional<Stamp> NearestTimed(int dir, int32_t frame);
  int32_t StartAfter(Stamp anchor);
  int32_t StartOf(Stamp anchor);

  int32_t frames_;
  int64_t rateNum_, rateDen_;
  TimeOf timeOf_;
  std::map<int32_t, std::optional<int64_t>> seen_;  // this call's reads
  int64_t reads_ = 0;
};
