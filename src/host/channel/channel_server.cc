#include "channel/channel_server.h"

#include <glib.h>
#include <unistd.h>

#include <cstdlib>

#include "channel/channel_thread.h"
#include "vesk/core/file_util.h"
#include "vesk/core/guarded.h"
#include "vesk/core/logging.h"
#include "vesk/core/runtime_dir.h"
#include "vesk/core/thread_check.h"
#include "vesk/core/unix_listener.h"

namespace vesk {
namespace {

// "<private runtime dir>/vesk_channel", created 0700 and owned by us; the
// same directory as the instance lock's, also without $XDG_RUNTIME_DIR.
std::string ChannelDirectory() {
  const std::string base = PrivateRuntimeDirectory();
  if (base.empty()) return std::string();
  const std::string dir = JoinPath(base, "vesk_channel");
  return EnsurePrivateDirectory(dir) ? dir : std::string();
}

}  // namespace

// What the main-loop tasks of one run of the channel share with it: a task
// or answer that comes after Stop finds the mailbox stopped and does nothing.
struct ChannelServer::Session {
  Handler handler;
  std::shared_ptr<AnswerMailbox> mailbox;
  std::shared_ptr<MainLane> main_lane;
};

ChannelServer& ChannelServer::Get() {
  static ChannelServer* server = new ChannelServer;
  return *server;
}

bool ChannelServer::Start(Handler handler, PublishedAnswer published) {
  VESK_REQUIRE_MAIN_THREAD();
  if (listen_fd_ >= 0) return true;
  const std::string dir = ChannelDirectory();
  if (dir.empty()) {
    VESK_LOG(ERROR) << "Page channel: no private runtime directory";
    return false;
  }
  auto session = std::make_shared<Session>(
      Session{handler, std::make_shared<AnswerMailbox>(), std::make_shared<MainLane>(handler)});
  if (!session->mailbox->usable()) return false;
  socket_path_ = JoinPath(dir, std::to_string(::getpid()));
  listen_fd_ = ListenOnUnixSocket(socket_path_, "Page channel");
  if (listen_fd_ < 0) return false;
  if (token_.empty()) token_ = NewPeerToken();
  owner_pid_ = ::getpid();
  if (!at_exit_registered_) {
    // A start that ends before the main loop never reaches Stop.
    at_exit_registered_ = true;
    std::atexit(&ChannelServer::UnlinkAtExit);
  }
  ChannelThread::Callbacks callbacks;
  callbacks.answer_here = std::move(published);
  callbacks.to_main = [session](channel::Request request, uint64_t ticket,
                                std::shared_ptr<ConnectionWire> wire) {
    PostToMain(session, std::move(request), ticket, std::move(wire));
  };
  callbacks.to_main_lane = [session](std::shared_ptr<ConnectionWire> wire, channel::FrameReader unread) {
    HandToMainLane(session, std::move(wire), std::move(unread));
  };
  session_ = session;
  thread_ = std::make_unique<ChannelThread>(listen_fd_, token_, session->mailbox, std::move(callbacks));
  return true;
}

void ChannelServer::Stop() {
  VESK_REQUIRE_MAIN_THREAD();
  thread_.reset();  // joins the thread, which has closed its connections
  if (session_) session_->main_lane->CloseAll();
  session_.reset();
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    ::unlink(socket_path_.c_str());
  }
  listen_fd_ = -1;
}

void ChannelServer::UnlinkAtExit() {
  ChannelServer& server = Get();
  // Only the process that made the socket removes it (not a forked child).
  if (server.listen_fd_ >= 0 && server.owner_pid_ == ::getpid()) ::unlink(server.socket_path_.c_str());
}

void ChannelServer::PostToMain(std::shared_ptr<Session> session, channel::Request request, uint64_t ticket,
                               std::shared_ptr<ConnectionWire> wire) {
  VESK_REQUIRE_CHANNEL_THREAD();
  struct Task {
    std::shared_ptr<Session> session;
    channel::Request request;
    uint64_t ticket;
    std::shared_ptr<ConnectionWire> wire;
  };
  static constexpr GSourceFunc kRun = [](gpointer data) -> gboolean {
    VESK_REQUIRE_MAIN_THREAD();
    auto* task = static_cast<Task*>(data);
    const std::shared_ptr<AnswerMailbox> mailbox = task->session->mailbox;
    if (mailbox->stop_requested()) return G_SOURCE_REMOVE;  // the channel has stopped
    // Written here, without waiting (the socket is non-blocking; what it
    // does not take now, the channel's thread writes later), then the
    // channel's thread resumes reading the connection.
    Answer answer = [mailbox, asker = task->ticket, wire = task->wire](channel::Response response) {
      VESK_REQUIRE_MAIN_THREAD();
      if (mailbox->stop_requested()) return;
      wire->Write(channel::Frame(channel::EncodeResponse(response)));
      mailbox->Post(asker);
    };
    ServeOnMainThread(task->session->handler, task->request, std::move(answer));
    return G_SOURCE_REMOVE;
  };
  // An idle source attached from this thread wakes the main loop; it never
  // runs the task here, whoever owns the main context at the moment.
  g_autoptr(GSource) source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, kRun,
                        new Task{std::move(session), std::move(request), ticket, std::move(wire)},
                        [](gpointer data) { delete static_cast<Task*>(data); });
  g_source_attach(source, nullptr);
}

void ChannelServer::HandToMainLane(std::shared_ptr<Session> session, std::shared_ptr<ConnectionWire> wire,
                                   channel::FrameReader unread) {
  VESK_REQUIRE_CHANNEL_THREAD();
  struct Task {
    std::shared_ptr<Session> session;
    std::shared_ptr<ConnectionWire> wire;
    channel::FrameReader unread;
  };
  static constexpr GSourceFunc kRun = [](gpointer data) -> gboolean {
    VESK_REQUIRE_MAIN_THREAD();
    auto* task = static_cast<Task*>(data);
    // After a stop the connection closes with the task.
    if (!task->session->mailbox->stop_requested())
      task->session->main_lane->Adopt(std::move(task->wire), std::move(task->unread));
    return G_SOURCE_REMOVE;
  };
  g_autoptr(GSource) source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, kRun, new Task{std::move(session), std::move(wire), std::move(unread)},
                        [](gpointer data) { delete static_cast<Task*>(data); });
  g_source_attach(source, nullptr);
}

}  // namespace vesk
