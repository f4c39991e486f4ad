// The engine's thread pool on its failure paths: an exception thrown by a
// job on any thread reaches the caller only once every thread has finished
// the job, and a resize that fails part-way leaves a smaller pool that runs
// jobs as before.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "likelihood/pool.h"

namespace {

using pedseg::ThreadPool;

struct Count {
  int32_t thrower = -1;  // the thread whose job throws
  std::atomic<int> started{0}, finished{0};
};

// Long enough that the other threads are still at work when the thrower
// leaves.
void job(void* raw, int32_t thread) {
  Count& c = *static_cast<Count*>(raw);
  ++c.started;
  if (thread == c.thrower) throw std::runtime_error("job of thread " + std::to_string(thread));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ++c.finished;
}

TEST(ThreadPool, AnExceptionReachesTheCallerAfterEveryThreadHasFinished) {
  ThreadPool pool;
  pool.resize(3);
  for (int32_t thrower : {0, 2}) {  // the calling thread, a worker
    SCOPED_TRACE(thrower);
    Count c;
    c.thrower = thrower;
    try {
      pool.run(&job, &c);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "job of thread " + std::to_string(thrower));
    }
    EXPECT_EQ(c.started.load(), 3);
    EXPECT_EQ(c.finished.load(), 2);
    Count next;  // the pool still works
    pool.run(&job, &next);
    EXPECT_EQ(next.finished.load(), 3);
  }
}

TEST(ThreadPool, AFailedResizeLeavesASmallerPoolThatRuns) {
  ThreadPool pool;
  pool.resize(2);
  pool.before_start = [](int32_t worker) {
    if (worker == 3)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  EXPECT_THROW(pool.resize(5), std::system_error);
  EXPECT_EQ(pool.size(), 3);  // the caller and the two workers started
  Count c;
  pool.run(&job, &c);
  EXPECT_EQ(c.finished.load(), 3);
  pool.before_start = nullptr;
  pool.resize(4);
  Count d;
  pool.run(&job, &d);
  EXPECT_EQ(d.finished.load(), 4);
}

}  // namespace
