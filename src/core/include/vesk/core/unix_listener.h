// A listening Unix socket at a path in one of our private directories, for
// the servers that peers reach by path (the page channel, the proxy
// resolver).
#pragma once

#include <string>

namespace vesk {

// Replaces a leftover socket file at |path| (an earlier process with our
// pid), then binds and listens, non-blocking and close-on-exec. The socket,
// or -1 after logging the failure with |what| ("Page channel") in front.
int ListenOnUnixSocket(const std::string& path, const char* what);

// 32 random hex digits: the secret a peer names in its first message.
std::string NewPeerToken();

}  // namespace vesk
