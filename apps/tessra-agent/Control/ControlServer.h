#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "Control/ControlProtocol.h"
#include "OrvaneCore/Logging/LogLimiter.h"
#include "OrvaneCore/Platform/FileHandle.h"
#include "WakeablePoll.h"

namespace Orvane {

// What one peer may cost the agent. Times are real milliseconds: a peer does not run on the
// agent's clock, sped up or not.
struct TControlServerLimits {
  int IdleMs = 1000;    // from the connection to a complete request line
  int WriteMs = 10000;  // for the peer to take the whole answer
  // When this many are open, the connection that has waited longest without a complete request
  // is closed for a new one; only when every one is being answered is the new one told to retry.
  std::size_t MaxClients = 64;
  std::size_t MaxRequestBytes = CMaxRequestBytes;
};

// Listens on the control socket and answers each request with the handler. One thread serves all
// peers with poll() over non-blocking sockets, so a peer that stalls, floods or never reads costs
// a slot and its deadline, never the agent's or another peer's progress. The handler runs on that
// thread, one request at a time.
//
// Only peers of the agent's own effective user are served (the kernel's peer credentials, on top
// of the socket file's mode 0600). Whatever a peer can make it log goes through the log limiter, so
// a flood of connections costs a few lines a minute. Start and Stop belong to the owner's thread.
class TControlServer {
public:
  using THandler = std::function<TControlAnswer(const TControlRequest&)>;

  TControlServer(std::string ASocketPath, THandler AHandler, TControlServerLimits ALimits = {},
                 TLogLimiter& ALogLimiter = OrvaneLogLimiter());
  ~TControlServer();
  TControlServer(const TControlServer&) = delete;
  TControlServer& operator=(const TControlServer&) = delete;

  // Binds (replacing a socket file that nobody listens on any more), makes the file 0600, listens
  // and starts the thread. Throws when the path is too long, when something that is not a socket
  // or a live agent's socket is in the way, or when a system call fails; nothing is left behind.
  void Start();
  // Ends the thread and closes every connection (answers already made are flushed as far as the
  // socket takes them without waiting), then removes the socket file. Returns as soon as the
  // handler call in progress, if any, is over. Called from the handler it only asks the thread to
  // end; the owner's Stop or the destructor then joins it.
  void Stop();

  const std::string& GetSocketPath() const { return FSocketPath; }

private:
  struct TLoop;

  void RemoveStaleSocket();
  void CloseHandles();

  std::string FSocketPath;
  THandler FHandler;
  TControlServerLimits FLimits;
  TLogLimiter& FLogLimiter;
  // Set by Start before the thread exists and cleared by Stop after it is joined, so the thread
  // reads them without a lock.
  TFileHandle FListen;
  std::optional<TWakeablePoll> FWake;
  uint64_t FSocketDevice = 0;  // identity of our socket file, so Stop never removes a successor's
  uint64_t FSocketInode = 0;
  std::thread FThread;
};

}  // namespace Orvane
