// This process's receiver: the listening socket "<dir>/<pid>", served on a
// GLib main context. Reads 12-byte requests, reads and validates the section
// they name, hands the message to the listeners and answers once all of them
// have completed. Main-loop thread only (no locks).
#pragma once

#include <glib.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vesk/core/ipc/ipc.h"
#include "vesk/core/ipc/ipc_wire.h"

namespace vesk::ipc {

class IpcReceiver {
 public:
  // Requests not complete after this long are dropped.
  static constexpr unsigned kRequestTimeoutMs = 10000;
  // Connections waiting for their request or their listeners at one time;
  // more are refused, so a flood cannot use up the UI process's descriptors.
  static constexpr size_t kMaxConnections = 32;

  static IpcReceiver& Get();  // never destroyed

  bool Start();
  void Stop();
  bool running() const { return listen_fd_ >= 0; }
  void AddListener(IPC::Listener* listener);
  void RemoveListener(IPC::Listener* listener);

 private:
  struct Connection {
    uint64_t serial = 0;
    int fd = -1;
    GSource* watch = nullptr;
    GSource* timeout = nullptr;
    unsigned char request[kIpcRequestBytes] = {};
    size_t received = 0;
  };
  // Alive while any listener still works on a message; its end answers.
  struct Delivery {
    std::shared_ptr<Connection> connection;
    int32_t id = 0;
    ~Delivery();
  };

  IpcReceiver() = default;

  static gboolean OnListenReadyThunk(gint fd, GIOCondition condition, gpointer self);
  static gboolean OnConnectionReadyThunk(gint fd, GIOCondition condition, gpointer serial);
  static gboolean OnRequestTimeoutThunk(gpointer serial);
  static void UnlinkAtExit();

  void AcceptAll();
  void ReadRequest(uint64_t serial);
  void HandleRequest(const std::shared_ptr<Connection>& connection);
  void Deliver(const std::shared_ptr<Connection>& connection, const IpcMessage& message);
  // Answers (when |answer|) and closes the connection.
  void Finish(Connection& connection, bool answer);
  void StopWatching(Connection& connection);

  int listen_fd_ = -1;
  pid_t owner_pid_ = 0;
  std::string socket_path_;
  GSource* listen_source_ = nullptr;
  GMainContext* context_ = nullptr;
  uint64_t next_serial_ = 1;
  std::map<uint64_t, std::shared_ptr<Connection>> connections_;
  std::vector<IPC::Listener*> listeners_;
  bool at_exit_registered_ = false;
};

}  // namespace vesk::ipc
