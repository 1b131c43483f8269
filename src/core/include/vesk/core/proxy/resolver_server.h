// The UI process's end of the proxy-resolver module: a Unix stream socket in
// the private runtime directory, served by a thread of its own so that a
// connection's question never waits for the main loop. Each line carries the
// token handed to the engine's network process (resolver_wire.h); the
// answers come from ProxyManager.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace vesk {

class ProxyResolverServer {
 public:
  static ProxyResolverServer& Get();

  // Creates the socket and starts the thread; false (logged) when that
  // fails. Starting twice keeps the first.
  bool Start();
  // Stops the thread, closes the socket and removes its file.
  void Stop();
  bool started() const { return listen_fd_ >= 0; }
  const std::string& socket_path() const { return socket_path_; }
  const std::string& token() const { return token_; }
  // Questions answered so far (tests, benchmarks).
  uint64_t answered() const { return answered_.load(); }

 private:
  ProxyResolverServer() = default;
  void Serve();
  static void UnlinkAtExit();

  int listen_fd_ = -1;
  int wake_fd_ = -1;  // an eventfd that ends the thread
  int owner_pid_ = 0;
  bool at_exit_registered_ = false;
  std::string socket_path_;
  std::string token_;
  std::thread thread_;
  std::atomic<uint64_t> answered_{0};
};

}  // namespace vesk
