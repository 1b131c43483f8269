// The shared-memory section that carries one instance message. The sender
// creates it exclusively before its request and removes it after the answer;
// the receiver only reads it, while the sender waits. Only the creator ever
// removes a name: had the receiver removed it, a second sender could create
// the same name anew and the first sender's clean-up would then remove the
// second one's section before it was read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk::ipc {

class IpcSendSection {
 public:
  IpcSendSection() = default;
  ~IpcSendSection() { Close(); }
  IpcSendSection(const IpcSendSection&) = delete;
  IpcSendSection& operator=(const IpcSendSection&) = delete;

  // Creates |name| (O_CREAT|O_EXCL, mode 0600) of text + 1 bytes and writes
  // the text and a NUL. An existing section of that name is never reused:
  // when |name_taken| is given, that case sets it and fails silently;
  // otherwise, and on every other failure, "Create IPC Shared Memory Failed"
  // or "Map IPC Shared Memory Failed" is logged with the system error.
  bool Create(const std::string& name, std::string_view text, bool* name_taken = nullptr);
  // Removes the name (gone already is fine) and closes the descriptor.
  void Close();

 private:
  std::string name_;
  int fd_ = -1;
};

// Opens |name| read-only and returns its text: the bytes before the first
// NUL, never past the section's size. Logs "Open Existed IPC Shared Memory
// Failed" or "Map Existed IPC Shared Memory Failed" with the system error;
// refuses (and logs) a section of another user or one larger than
// kMaxIpcSectionBytes.
std::optional<std::string> ReadIpcSection(const std::string& name);

// Removes this user's sections whose receiver pid no longer runs: what a
// sender killed while it waited left behind. A section of a live receiver
// is never touched (its sender may still be waiting). |shm_dir| is where
// the system keeps POSIX shared memory. Returns how many were removed.
int RemoveLeftoverIpcSections(const std::string& shm_dir = "/dev/shm");

}  // namespace vesk::ipc
