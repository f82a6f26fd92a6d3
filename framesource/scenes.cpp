#include "scenes.h"

#include <algorithm>
#include <utility>

namespace {
// Each round follows one stretch of continuous times; a round ends at a jump (the answer) or at
// a frame that continues the recording after frames without a time, or after the clock drifted
// from where the round began, where the next round begins. A round reads a few dozen frames; a
// capture of damaged frames that needs more rounds than these, or more reads, is answered with
// the frame the last round stopped at.
constexpr int kMaxRounds = 16;
constexpr size_t kMaxReadsPerCall = 256;
}  // namespace

SceneSearch::SceneSearch(int32_t frames, int64_t rateNum, int64_t rateDen, TimeOf timeOf)
    : frames_(std::max(frames, 0)),
      rateNum_(rateNum > 0 ? rateNum : 30000),
      rateDen_(rateDen > 0 ? rateDen : 1001),
      timeOf_(std::move(timeOf)) {}

std::optional<int64_t> SceneSearch::At(int32_t frame) {
  auto [it, added] = seen_.try_emplace(frame);
  if (added) {
    ++reads_;
    it->second = timeOf_(frame);
  }
  return it->second;
}

// Within a second of what the frames between take, either way: the times are whole seconds.
bool SceneSearch::Continuous(const Stamp& a, const Stamp& b) const {
  const int64_t clock = (b.time - a.time) * rateNum_;
  const int64_t frames = int64_t{b.frame - a.frame} * rateDen_;
  return clock - frames <= rateNum_ && frames - clock <= rateNum_;
}

// Frames without a time come in runs: from the frame, steps grow until one has a time, then the
// run's edge lies between that step and the one before. The nearest timed frame from `frame` on in
// direction dir (-1 or +1): steps that double until one is timed, then bisection between it and the
// last untimed one seen.
std::optional<SceneSearch::Stamp> SceneSearch::NearestTimed(int dir, int32_t frame) {
  const int32_t end = dir < 0 ? 0 : frames_ - 1;                        // the last frame that way
  frame = dir < 0 ? std::min(frame, frames_ - 1) : std::max(frame, 0);  // may start past an end
  if (frame < 0 || frame >= frames_) return std::nullopt;
  if (auto t = At(frame)) return Stamp{frame, *t};
  int32_t untimed = frame;
  for (int64_t step = 1;; step *= 2) {
    const int64_t ahead = frame + dir * step;
    const int32_t q = static_cast<int32_t>(dir < 0 ? std::max<int64_t>(ahead, end)
                                                   : std::min<int64_t>(ahead, end));
    if (auto t = At(q)) {
      Stamp timed{q, *t};
      while (std::abs(untimed - timed.frame) > 1) {
        const int32_t m = untimed + (timed.frame - untimed) / 2;
        if (auto tm = At(m)) {
          timed = {m, *tm};
        } else {
          untimed = m;
        }
      }
      return timed;
    }
    untimed = q;
    if (q == end) return std::nullopt;
  }
}

int32_t SceneSearch::StartAfter(Stamp anchor) {
  int32_t found = -1;
  for (int round = 0; round < kMaxRounds && seen_.size() < kMaxReadsPerCall; ++round) {
    auto continues = [&](int32_t f, Stamp* out) {
      auto t = At(f);
      if (!t || !Continuous(anchor, {f, *t})) return false;
      *out = {f, *t};
      return true;
    };
    Stamp last = anchor;  // continuous; the first frame that is not lies after it
    int32_t first = -1;
    for (int64_t step = 1; first < 0; step *= 2) {
      if (last.frame == frames_ - 1) return -1;  // continuous to the end
      const int32_t q = static_cast<int32_t>(std::min<int64_t>(anchor.frame + step, frames_ - 1));
      if (!continues(q, &last)) first = q;
    }
    while (first - last.frame > 1) {
      const int32_t m = last.frame + (first - last.frame) / 2;
      if (!continues(m, &last)) first = m;
    }
    const std::optional<Stamp> next = NearestTimed(+1, first);
    if (!next) return -1;
    found = next->frame;
    if (!Continuous(last, *next)) return found;
    anchor = *next;
  }
  return found;
}

int32_t SceneSearch::StartOf(Stamp anchor) {
  int32_t found = anchor.frame;
  for (int round = 0; round < kMaxRounds && seen_.size() < kMaxReadsPerCall; ++round) {
    auto continues = [&](int32_t f, Stamp* out) {
      auto t = At(f);
      if (!t || !Continuous({f, *t}, anchor)) return false;
      *out = {f, *t};
      return true;
    };
    Stamp first = anchor;  // continuous; the last frame that is not lies before it
    int32_t last = -1;
    for (int64_t step = 1; last < 0; step *= 2) {
      if (first.frame == 0) return 0;
      const int32_t q = static_cast<int32_t>(std::max<int64_t>(anchor.frame - step, 0));
      if (!continues(q, &first)) last = q;
    }
    while (first.frame - last > 1) {
      const int32_t m = last + (first.frame - last) / 2;
      if (!continues(m, &first)) last = m;
    }
    found = first.frame;
    const std::optional<Stamp> before = NearestTimed(-1, last);
    if (!before || !Continuous(*before, first)) return found;
    anchor = *before;
  }
  return found;
}

int32_t SceneSearch::Next(int32_t frame) {
  seen_.clear();
  if (frame >= frames_ - 1) return -1;
  if (const std::optional<Stamp> anchor = NearestTimed(-1, frame)) return StartAfter(*anchor);
  const std::optional<Stamp> first = NearestTimed(+1, std::max(frame + 1, 0));
  return first ? first->frame : -1;
}

int32_t SceneSearch::Previous(int32_t frame) {
  seen_.clear();
  if (frame <= 0) return -1;
  const std::optional<Stamp> anchor = NearestTimed(-1, frame - 1);
  return anchor ? StartOf(*anchor) : -1;
}
