#include "pipeline/RowBandPool.h"

#include <algorithm>

namespace tovira {

RowBandPool::RowBandPool(int32_t threads) : threads_(std::clamp<int32_t>(threads, 1, kMaxThreads)) {
  workers_.reserve(static_cast<size_t>(threads_ - 1));
  for (int32_t i = 1; i < threads_; ++i) workers_.emplace_back([this] { workerMain(); });
}

RowBandPool::~RowBandPool() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

int32_t RowBandPool::DefaultThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return std::clamp<int32_t>(n == 0 ? 1 : static_cast<int32_t>(n), 1, kMaxThreads);
}

// Takes bands until none is left.
void RowBandPool::work() {
  for (int32_t band; (band = nextBand_.fetch_add(1, std::memory_order_relaxed)) < bands_;)
    job_(context_, band, bands_);
}

void RowBandPool::workerMain() {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> guard(lock_);
      wake_.wait(guard, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
    }
    work();
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (--busy_ == 0) finished_.notify_one();
    }
  }
}

void RowBandPool::run(int32_t bands, Job job, void* context) {
  if (bands <= 0) return;
  if (workers_.empty() || bands == 1) {
    for (int32_t band = 0; band < bands; ++band) job(context, band, bands);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    job_ = job;
    context_ = context;
    bands_ = bands;
    nextBand_.store(0, std::memory_order_relaxed);
    busy_ = static_cast<int32_t>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  work();
  // Every worker leaves the job before the next one can change job_, context_ or bands_.
  std::unique_lock<std::mutex> guard(lock_);
  finished_.wait(guard, [&] { return busy_ == 0; });
}

}  // namespace tovira
