// A small pool of worker threads that the frame pipeline splits a frame over, in bands of rows.
//
// The pool is made once for a stream (the camera creates it when streaming starts and destroys it when
// streaming stops) and reused for every frame: running a job allocates nothing and starts no thread.
// The calling thread works on bands too, so a pool of N threads has N - 1 workers; a pool of 1 thread
// runs everything on the caller. Jobs must not throw.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tovira {

class RowBandPool {
 public:
  using Job = void (*)(void* context, int32_t band, int32_t bands);

  // threads: total threads working on a job, the caller included (limited to 1..kMaxThreads).
  explicit RowBandPool(int32_t threads);
  ~RowBandPool();
  RowBandPool(const RowBandPool&) = delete;
  RowBandPool& operator=(const RowBandPool&) = delete;

  int32_t threads() const { return threads_; }

  // Runs job(context, band, bands) for band = 0 .. bands-1, spread over the pool's threads, and
  // returns when every band is done. Only one thread may run jobs on a pool at a time.
  void run(int32_t bands, Job job, void* context);

  // A sensible thread count for this machine: the hardware threads, at most kMaxThreads.
  static int32_t DefaultThreads();
  static constexpr int32_t kMaxThreads = 16;

  // Working memory of the job that runs on the pool, kept for the life of the pool: it grows when a
  // larger frame asks for more and is then reused, so a stream allocates it once. Contents are left over
  // from the previous job.
  uint8_t* scratch(size_t bytes) {
    if (scratch_.size() < bytes) scratch_.resize(bytes);
    return scratch_.data();
  }

 private:
  void workerMain();
  // Takes bands of job `generation` while there are any; returns when none is left or the pool has
  // moved on to another job.
  void work(uint32_t generation, Job job, void* context, int32_t bands);

  int32_t threads_;
  std::vector<std::thread> workers_;
  std::mutex lock_;
  std::condition_variable wake_, finished_;
  bool stopping_ = false;
  // The current job, written under the lock before the generation moves on.
  uint32_t generation_ = 0;
  Job job_ = nullptr;
  void* context_ = nullptr;
  int32_t bands_ = 0;
  // The job's generation (high 32 bits) and its next band (low 32 bits): a worker that wakes late, with
  // an older job in hand, cannot take a band of a newer one. The caller waits for the bands done, never
  // for a worker that found nothing left to do.
  std::atomic<uint64_t> nextBand_{0};
  std::atomic<int32_t> bandsDone_{0};
  std::vector<uint8_t> scratch_;
};

// Rows [begin, end) of band `band` of `bands` over `rows` rows: equal shares, the remainder spread
// over the first bands.
inline void BandRows(int32_t rows, int32_t band, int32_t bands, int32_t& begin, int32_t& end) {
  const int32_t share = rows / bands, extra = rows % bands;
  begin = band * share + (band < extra ? band : extra);
  end = begin + share + (band < extra ? 1 : 0);
}

}  // namespace tovira
