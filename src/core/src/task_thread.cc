#include "vesk/core/task_thread.h"

#include <pthread.h>

#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/tick.h"

namespace vesk {

TaskThread::TaskThread(std::string name) : name_(std::move(name)) {}

TaskThread::~TaskThread() { Stop(); }

void TaskThread::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_) return;
  running_ = true;
  stopping_ = false;
  thread_ = std::thread([this] { Loop(); });
  // Thread names are limited to 15 characters by the kernel.
  pthread_setname_np(thread_.native_handle(), name_.substr(0, 15).c_str());
}

void TaskThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
  queue_ = {};
}

bool TaskThread::IsRunning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_ && !stopping_;
}

bool TaskThread::IsCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }

long TaskThread::thread_id() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return thread_id_;
}

bool TaskThread::PostTask(Task task) { return PostDelayedTask(std::move(task), {}); }

bool TaskThread::PostDelayedTask(Task task, std::chrono::milliseconds delay) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ || stopping_) return false;
    queue_.push(Entry{std::chrono::steady_clock::now() + delay, next_sequence_++, std::move(task)});
  }
  wake_.notify_all();
  return true;
}

void TaskThread::Drain() {
  if (IsCurrent()) {
    VESK_DCHECK(!IsCurrent()) << "drain of " << name_ << " on its own thread";
    return;
  }
  std::mutex done_mutex;
  std::condition_variable done_signal;
  bool done = false;
  const bool posted = PostTask([&] {
    std::lock_guard<std::mutex> lock(done_mutex);
    done = true;
    done_signal.notify_all();
  });
  if (!posted) return;
  std::unique_lock<std::mutex> lock(done_mutex);
  done_signal.wait(lock, [&] { return done; });
}

void TaskThread::RunGuarded(const Task& task) const {
  const std::string where = name_ + " task";
  Guarded(where.c_str(), task);
}

void TaskThread::Loop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    thread_id_ = CurrentThreadId();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    if (stopping_) {
      // Run what is due now so a drain posted before the stop still returns.
      while (!queue_.empty() && queue_.top().due <= std::chrono::steady_clock::now()) {
        Task task = std::move(const_cast<Entry&>(queue_.top()).task);
        queue_.pop();
        lock.unlock();
        RunGuarded(task);
        lock.lock();
      }
      return;
    }
    if (queue_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto due = queue_.top().due;
    if (due > std::chrono::steady_clock::now()) {
      wake_.wait_until(lock, due);
      continue;
    }
    Task task = std::move(const_cast<Entry&>(queue_.top()).task);
    queue_.pop();
    lock.unlock();
    RunGuarded(task);
    lock.lock();
  }
}

}  // namespace vesk
