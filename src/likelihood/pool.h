// The engine's thread pool: workers sleep on a condition variable between
// jobs and the calling thread waits on one at the end, so no thread spins
// while a busy machine could give the core to a thread with work.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace pedseg {

class ThreadPool {
 public:
  using Job = void (*)(void* ctx, int32_t thread);

  ThreadPool() = default;
  ~ThreadPool() { resize(1); }
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // The caller and the workers.
  int32_t size() const { return static_cast<int32_t>(workers_.size()) + 1; }

  // Stops the workers and starts n - 1 new ones.  When starting one throws,
  // the pool keeps the workers already started (a smaller but usable pool)
  // and the exception reaches the caller.
  void resize(int32_t n);

  // Runs job(ctx, t) on every thread t = 0..size()-1 (0 is the caller) and
  // returns when all have finished.  An exception thrown by the job on any
  // thread is rethrown here (the caller's first), once every thread is done.
  void run(Job job, void* ctx);

  // For tests: called before each worker is started, as a failing thread
  // start would be.
  std::function<void(int32_t worker)> before_start;

 private:
  void work(int32_t id, uint64_t seen);

  std::vector<std::thread> workers_;
  std::mutex mu_;
  std::condition_variable start_, done_;
  Job job_ = nullptr;
  void* ctx_ = nullptr;
  int32_t running_ = 0;
  uint64_t generation_ = 0;
  bool stop_ = false;
  std::exception_ptr error_;  // the first a worker threw in the current job
};

// OMP_NUM_THREADS when it holds a positive number, else every core the
// process may run on.
int32_t default_threads();

}  // namespace pedseg
