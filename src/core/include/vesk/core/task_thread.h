// A thread of our own with a task queue and delayed tasks. Used for the IO
// worker and the memory trace.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <vector>

namespace vesk {

class TaskThread {
 public:
  using Task = std::function<void()>;

  explicit TaskThread(std::string name);
  ~TaskThread();  // Stops: queued tasks that are due run, later ones are dropped.
  TaskThread(const TaskThread&) = delete;
  TaskThread& operator=(const TaskThread&) = delete;

  void Start();
  void Stop();
  bool IsRunning() const;
  bool IsCurrent() const;
  const std::string& name() const { return name_; }
  long thread_id() const;

  // False once the thread is stopped (the task is dropped).
  bool PostTask(Task task);
  bool PostDelayedTask(Task task, std::chrono::milliseconds delay);

  // Returns once every task posted before the call has run. Must not be
  // called on this thread (that would wait forever): a debug check reports
  // it and the call returns at once.
  void Drain();

 private:
  struct Entry {
    std::chrono::steady_clock::time_point due;
    uint64_t sequence;
    Task task;
    bool operator>(const Entry& other) const {
      return due != other.due ? due > other.due : sequence > other.sequence;
    }
  };

  void Loop();
  void RunGuarded(const Task& task) const;

  const std::string name_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue_;
  uint64_t next_sequence_ = 0;
  bool running_ = false;
  bool stopping_ = false;
  long thread_id_ = 0;
  std::thread thread_;
};

}  // namespace vesk
