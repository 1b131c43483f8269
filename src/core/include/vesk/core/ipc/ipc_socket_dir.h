// Where instance receivers live: one Unix stream socket per process, named by
// its pid, in a private per-user directory. Listing the directory is how a
// second start finds the running instance.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vesk::ipc {

// "<PrivateRuntimeDirectory()>/vesk_ipc_window": under $XDG_RUNTIME_DIR, or
// "<tmp>/vesk-<uid>/vesk_ipc_window" without a usable one.
std::string IpcSocketDirectoryPath();

// Creates the directory (mode 0700) when it is missing and checks it: a real
// directory (not a symlink), owned by us, no access for group or others.
// Logs and returns nullopt when it is anything else.
std::optional<std::string> EnsureIpcSocketDirectory();

// "<dir>/<pid>".
std::string IpcPeerSocketPath(const std::string& dir, uint32_t pid);

// The canonical decimal pid in a directory entry's name ("123", not "0123"
// or "12a"); nullopt for anything else.
std::optional<uint32_t> ParseIpcSocketName(const std::string& name);

// The user and the process at the other end of a connected Unix socket
// (SO_PEERCRED); nullopt when they cannot be had.
std::optional<uid_t> PeerUid(int fd);
std::optional<pid_t> PeerPid(int fd);

}  // namespace vesk::ipc
