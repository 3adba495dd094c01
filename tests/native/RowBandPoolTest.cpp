// The pool the frame pipeline splits frames over: every band exactly once per job, many jobs in a row
// on the same threads, the workers and the caller working at once, and band edges without gaps.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "pipeline/RowBandPool.h"

namespace tovira::test {
namespace {

struct Counts {
  std::vector<std::atomic<int>> hits;
  explicit Counts(int n) : hits(n) {}
};

void Count(void* context, int32_t band, int32_t bands) {
  auto& c = *static_cast<Counts*>(context);
  c.hits[band].fetch_add(1);
  (void)bands;
}

TEST(RowBandPool, EveryBandRunsExactlyOnceInEveryJob) {
  for (int32_t threads : {1, 2, 3, 5}) {
    RowBandPool pool(threads);
    EXPECT_EQ(threads, pool.threads());
    for (int job = 0; job < 40; ++job) {
      const int bands = 1 + job % 9;
      Counts counts(bands);
      pool.run(bands, Count, &counts);
      for (int b = 0; b < bands; ++b) ASSERT_EQ(1, counts.hits[b].load()) << threads << " threads, job " << job;
    }
  }
}

// Each band waits until three different threads hold one: only a pool whose two workers and caller
// all take part gets through (a generous time-out keeps a broken pool from hanging the test).
struct Meeting {
  std::mutex lock;
  std::condition_variable changed;
  std::set<std::thread::id> present;
  bool met = false;
};

void Meet(void* context, int32_t, int32_t) {
  auto& m = *static_cast<Meeting*>(context);
  std::unique_lock<std::mutex> guard(m.lock);
  m.present.insert(std::this_thread::get_id());
  if (m.present.size() == 3) m.met = true;
  m.changed.notify_all();
  m.changed.wait_for(guard, std::chrono::seconds(60), [&] { return m.met; });
}

TEST(RowBandPool, BandsRunOnTheWorkersAndTheCallerAtOnce) {
  RowBandPool pool(3);
  for (int job = 0; job < 3; ++job) {
    Meeting meeting;
    pool.run(3, Meet, &meeting);
    EXPECT_TRUE(meeting.met);
    EXPECT_EQ(1u, meeting.present.count(std::this_thread::get_id()));
  }
  EXPECT_EQ(1, RowBandPool(0).threads());  // limited to 1..16
  EXPECT_EQ(RowBandPool::kMaxThreads, RowBandPool(99).threads());
}

TEST(RowBandPool, BandRowsCoverTheRowsInOrderWithoutGaps) {
  for (int32_t rows : {0, 1, 7, 16, 97, 2748})
    for (int32_t bands : {1, 2, 3, 4, 32}) {
      int32_t next = 0;
      for (int32_t band = 0; band < bands; ++band) {
        int32_t begin, end;
        BandRows(rows, band, bands, begin, end);
        ASSERT_EQ(next, begin);
        ASSERT_LE(end - begin, rows / bands + 1);
        next = end;
      }
      EXPECT_EQ(rows, next);
    }
}

}  // namespace
}  // namespace tovira::test
