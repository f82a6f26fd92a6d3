#include "picturecache.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>

extern "C" {
#include <libavutil/frame.h>
}

namespace {

constexpr size_t kBudgetBytes = size_t{256} << 20;
std::atomic<size_t> g_testBudget{0};

}  // namespace

size_t PictureCacheBudget() {
  static const size_t budget = [] {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return kBudgetBytes;
    return std::min(kBudgetBytes, static_cast<size_t>(pages) * static_cast<size_t>(pageSize) / 8);
  }();
  const size_t test = g_testBudget.load();
  return test ? test : budget;
}

void SetPictureCacheBudgetForTesting(size_t bytes) {
  g_testBudget.store(bytes);
}

const AVFrame* PictureCache::Find(int32_t display) const {
  auto it = frames_.find(display);
  return it == frames_.end() ? nullptr : it->second.get();
}

size_t PictureCache::BytesOf(const AVFrame* f) {
  size_t n = sizeof(AVFrame);
  for (const AVBufferRef* b : f->buf)
    if (b) n += b->size;
  for (int i = 0; i < f->nb_extended_buf; ++i) n += f->extended_buf[i]->size;
  return n;
}

void PictureCache::Limit(size_t bytes) {
  limit_ = std::min(bytes, budget_);
  while (bytes_ > limit_) Drop(frames_.begin());
}

void PictureCache::DropAfter(int32_t display) {
  while (!frames_.empty() && std::prev(frames_.end())->first > display)
    Drop(std::prev(frames_.end()));
}

void PictureCache::Keep(int32_t display, const AVFrame* f, int32_t target) {
  if (auto it = frames_.find(display); it != frames_.end()) Drop(it);
  const size_t size = BytesOf(f);
  if (size > limit_) return;
  std::unique_ptr<AVFrame, FrameFree> kept(av_frame_clone(f));  // a reference: no pixels copied
  if (!kept) return;
  try {
    frames_.emplace(display, std::move(kept));
  } catch (const std::bad_alloc&) {
    return;  // keeping is a saving, never a reason for a fetch to fail
  }
  bytes_ += size;
  while (bytes_ > limit_) {
    auto last = std::prev(frames_.end());
    Drop(last->first > target ? last : frames_.begin());
  }
}

void PictureCache::FrameFree::operator()(AVFrame* f) const {
  av_frame_free(&f);
}

void PictureCache::Drop(Frames::iterator it) {
  bytes_ -= BytesOf(it->second.get());
  frames_.erase(it);
}
