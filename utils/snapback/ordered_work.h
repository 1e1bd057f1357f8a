// Jobs 0..count-1 done on worker threads, their results taken in job order
// by the calling thread, which alone prints and writes. At most `window`
// results wait at a time, so memory holds that many jobs' worth however many
// jobs there are. With one thread, or none to be had, each job is done by
// the taker when it asks for it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace snapback {

template <typename Result>
class OrderedWork {
 public:
  // `work(job, worker)` runs on worker `worker` (0..threads-1); a worker
  // does one job at a time, so per-worker state needs no lock. Throws
  // std::bad_alloc, with no thread left running, when memory runs out.
  OrderedWork(size_t count, size_t threads, std::function<Result(size_t, size_t)> work)
      : count_(count),
        window_(threads < 1 ? 1 : 2 * threads),
        work_(std::move(work)),
        slots_(window_) {
    if (threads < 2) return;
    workers_.reserve(threads);
    try {
      for (size_t t = 0; t < threads; ++t) workers_.emplace_back([this, t] { Serve(t); });
    } catch (const std::system_error&) {
      // No more threads to be had: the ones started serve alone, or the
      // taker does the jobs itself.
    } catch (...) {
      Stop();
      throw;
    }
  }

  ~OrderedWork() { Stop(); }

  OrderedWork(const OrderedWork&) = delete;
  OrderedWork& operator=(const OrderedWork&) = delete;

  // The result of the next job, in order; rethrows what the job threw.
  // Asking for more results than there are jobs throws std::logic_error.
  Result TakeNext() {
    const size_t job = taken_;
    if (job >= count_) throw std::logic_error("OrderedWork::TakeNext: every result has been taken");
    if (workers_.empty()) {
      ++taken_;
      return work_(job, 0);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[job % window_];
    taker_waits_ = true;
    ready_.wait(lock, [&] { return slot.done; });
    taker_waits_ = false;
    slot.done = false;
    ++taken_;
    // A slot is free again: one idle worker may take up a job.
    if (idle_workers_ > 0) room_.notify_one();
    if (slot.failure) std::rethrow_exception(std::exchange(slot.failure, nullptr));
    Result result = std::move(*slot.result);
    slot.result.reset();
    return result;
  }

 private:
  struct Slot {
    bool done = false;
    std::optional<Result> result;
    std::exception_ptr failure;
  };

  // Ends and joins the workers started.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    room_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
  }

  void Serve(size_t worker) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ++idle_workers_;
      room_.wait(lock, [&] { return stopping_ || (next_ < count_ && next_ < taken_ + window_); });
      --idle_workers_;
      if (stopping_) return;
      const size_t job = next_++;
      lock.unlock();
      std::optional<Result> result;
      std::exception_ptr failure;
      try {
        result.emplace(work_(job, worker));
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      Slot& slot = slots_[job % window_];
      slot.result = std::move(result);
      slot.failure = failure;
      slot.done = true;
      if (taker_waits_) ready_.notify_one();
    }
  }

  const size_t count_;
  const size_t window_;
  const std::function<Result(size_t, size_t)> work_;
  std::vector<Slot> slots_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable room_;   // idle workers wait here for a job they may take up
  std::condition_variable ready_;  // the taker waits here for its result
  size_t next_ = 0;                // the next job a worker takes up
  size_t taken_ = 0;               // results taken so far
  int idle_workers_ = 0;
  bool taker_waits_ = false;
  bool stopping_ = false;
};

// The workers worth starting for `jobs` jobs on this machine, at least one.
inline size_t WorkerCount(size_t jobs) {
  constexpr size_t kMaxWorkers = 8;
  size_t n = std::thread::hardware_concurrency();
  if (n > kMaxWorkers) n = kMaxWorkers;
  if (n > jobs) n = jobs;
  return n < 1 ? 1 : n;
}

}  // namespace snapback
