// The instance channel: one-way messages from a second start to the running
// instance. Every process owns a receiver socket (docs/ipc-protocol.md); a
// sender finds another process's receiver, puts the message into a fresh
// shared-memory section, sends a 12-byte request naming it and waits for the
// answer, which the receiver gives once every listener has finished with the
// message. Listeners finish asynchronously, so the receiver's main loop never
// waits for a page.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vesk {

class IPC {
 public:
  // Held by a listener while it works on a message. The sender is released
  // once every listener's Completion has been run or destroyed; dropping one
  // counts as done, so a listener cannot hold a sender by forgetting it.
  // Main-loop thread only.
  class Completion {
   public:
    Completion() = default;
    explicit Completion(std::shared_ptr<void> delivery) : delivery_(std::move(delivery)) {}
    Completion(Completion&&) = default;
    Completion& operator=(Completion&&) = default;
    Completion(const Completion&) = delete;
    Completion& operator=(const Completion&) = delete;
    void Run() { delivery_.reset(); }
    bool pending() const { return delivery_ != nullptr; }

   private:
    std::shared_ptr<void> delivery_;
  };

  class Listener {
   public:
    virtual ~Listener() = default;
    // Called on the receiver's thread for every valid message, once per
    // registered listener, in registration order.
    virtual void OnMessage(const IPC& sender, int32_t id, const std::string& data, Completion done) = 0;
  };

  // How long a sender waits for the answer before it gives up (and logs).
  static constexpr std::chrono::milliseconds kDefaultAnswerTimeout{30000};

  IPC(uint32_t remote_process_id, std::string remote_receiver);
  virtual ~IPC();
  IPC(const IPC&) = default;
  IPC& operator=(const IPC&) = default;

  uint32_t remote_process_id() const { return remote_process_id_; }
  // The peer's socket path; empty in the description handed to listeners.
  const std::string& remote_receiver() const { return remote_receiver_; }

  // Hands one message to the peer and waits for its answer. True when the
  // peer answered; false when it is gone, the section could not be made, the
  // message is over the size limit, or no answer came within |answer_timeout|.
  bool Send(int32_t id, const std::string& data,
            std::chrono::milliseconds answer_timeout = kDefaultAnswerTimeout) const;

  enum class SendOutcome {
    kAnswered,
    kUnreachable,  // no connection (gone, or its backlog full)
    kClosed,       // closed without an answer: full, or the request was refused
    kTimedOut,
    kNotSent,  // the section could not be made, or the message is too large
  };
  // Send, telling why it failed; kUnreachable and kClosed are worth a retry.
  SendOutcome SendForOutcome(int32_t id, const std::string& data,
                             std::chrono::milliseconds answer_timeout = kDefaultAnswerTimeout) const;

  // The receiver of process |pid| of this user, connected and checked: the
  // peer must be that very process (SO_PEERCRED pid) of our user. Nothing
  // when it cannot be reached or is served by anyone else (logged).
  static std::optional<IPC> ConnectToProcess(uint32_t pid);

  // Calls |callback| with each live receiver of another process of this user
  // (lowest pid first) until it returns true. Sockets nobody listens on are
  // removed on the way. When no callback returned true, logs "IPC EnumWindows
  // Failed" with the last system error. Always returns true.
  static bool EnumerateRemotes(const std::function<bool(const IPC&)>& callback);

  // Creates this process's receiver socket and serves it on the thread's
  // default main context (the UI main loop). Idempotent; false when the
  // socket could not be made (logged).
  static bool CreateReceiver();
  // Creates the receiver if needed and appends |listener| (not owned).
  static void AddListener(Listener* listener);
  static void RemoveListener(Listener* listener);
  // Stops serving, answers nothing more, closes open connections and removes
  // the socket file. Also runs at normal process exit.
  static void Shutdown();

 private:
  struct Connection;

  uint32_t remote_process_id_;
  std::string remote_receiver_;
  // A connection made while enumerating, used by the first Send.
  std::shared_ptr<Connection> connection_;
};

}  // namespace vesk
