#include "pipeline/RowBandPool.h"

#include <algorithm>

namespace tovira {

RowBandPool::RowBandPool(int32_t threads) : threads_(std::clamp<int32_t>(threads, 1, kMaxThreads)) {
  try {
    workers_.reserve(static_cast<size_t>(threads_ - 1));
    for (int32_t i = 1; i < threads_; ++i) workers_.emplace_back([this] { workerMain(); });
  } catch (...) {
    // The system gave fewer threads than asked for: the pool works with those it has (destroying a
    // thread that still runs would end the process).
  }
  threads_ = static_cast<int32_t>(workers_.size()) + 1;
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

void RowBandPool::work(uint32_t generation, Job job, void* context, int32_t bands) {
  for (;;) {
    uint64_t next = nextBand_.load(std::memory_order_acquire);
    int32_t band;
    do {
      band = static_cast<int32_t>(next & 0xFFFFFFFFu);
      if ((next >> 32) != generation || band >= bands) return;
    } while (!nextBand_.compare_exchange_weak(next, next + 1, std::memory_order_acq_rel));
    job(context, band, bands);
    if (bandsDone_.fetch_add(1, std::memory_order_acq_rel) + 1 == bands) {
      std::lock_guard<std::mutex> guard(lock_);  // the caller checks under the lock: no lost wake-up
      finished_.notify_all();
    }
  }
}

void RowBandPool::workerMain() {
  uint32_t seen = 0;
  for (;;) {
    Job job;
    void* context;
    int32_t bands;
    {
      std::unique_lock<std::mutex> guard(lock_);
      wake_.wait(guard, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      job = job_, context = context_, bands = bands_;
    }
    work(seen, job, context, bands);
  }
}

void RowBandPool::run(int32_t bands, Job job, void* context) {
  if (bands <= 0) return;
  if (workers_.empty() || bands == 1) {
    for (int32_t band = 0; band < bands; ++band) job(context, band, bands);
    return;
  }
  uint32_t generation;
  {
    std::lock_guard<std::mutex> guard(lock_);
    generation = ++generation_;
    job_ = job;
    context_ = context;
    bands_ = bands;
    bandsDone_.store(0, std::memory_order_relaxed);
    nextBand_.store(static_cast<uint64_t>(generation) << 32, std::memory_order_release);
  }
  wake_.notify_all();
  work(generation, job, context, bands);
  // Every band is done before the caller's context may go; a worker still on its way in finds none left.
  std::unique_lock<std::mutex> guard(lock_);
  finished_.wait(guard, [&] { return bandsDone_.load(std::memory_order_acquire) == bands; });
}

}  // namespace tovira
