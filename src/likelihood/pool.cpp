#include "likelihood/pool.h"

#include <sched.h>

#include <algorithm>
#include <cstdlib>

namespace pedseg {

void ThreadPool::resize(int32_t n) {
  if (n == size()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  start_.notify_all();
  for (std::thread& t : workers_) t.join();
  workers_.clear();
  stop_ = false;
  // A worker waits for the first job after this point, whenever it starts.
  const uint64_t seen = generation_;
  for (int32_t i = 1; i < n; ++i) {
    if (before_start) before_start(i);
    workers_.emplace_back([this, i, seen] { work(i, seen); });
  }
}

void ThreadPool::run(Job job, void* ctx) {
  if (workers_.empty()) {
    job(ctx, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    job_ = job;
    ctx_ = ctx;
    running_ = static_cast<int32_t>(workers_.size());
    ++generation_;
  }
  start_.notify_all();
  std::exception_ptr error;
  try {
    job(ctx, 0);
  } catch (...) {
    error = std::current_exception();
  }
  {
    std::unique_lock<std::mutex> lock(mu_);
    done_.wait(lock, [this] { return running_ == 0; });
    if (!error) error = error_;
    error_ = nullptr;
  }
  if (error) std::rethrow_exception(error);
}

void ThreadPool::work(int32_t id, uint64_t seen) {
  for (;;) {
    Job job;
    void* ctx;
    {
      std::unique_lock<std::mutex> lock(mu_);
      start_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      job = job_;
      ctx = ctx_;
    }
    std::exception_ptr error;
    try {
      job(ctx, id);
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mu_);
    if (error && !error_) error_ = error;
    if (--running_ == 0) done_.notify_one();
  }
}

int32_t default_threads() {
  if (const char* s = std::getenv("OMP_NUM_THREADS")) {
    char* end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (end != s && v > 0) return static_cast<int32_t>(std::min(v, 256L));
  }
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int32_t>(n) : 1;
}

}  // namespace pedseg
