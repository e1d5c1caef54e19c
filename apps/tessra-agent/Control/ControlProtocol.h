#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"

namespace Orvane {

// The wire format of the agent's control channel (a Unix stream socket in the data directory).
// One connection carries one request and its answer; the agent closes it after the answer.
//
// Request: one line of UTF-8 text ended by "\n". Its fields are separated by a tab: the command
// first, then its arguments, each possibly empty ("pull\t" is "pull" with one empty argument,
// "pull" has none). Inside a field a backslash, a tab, a line feed and a carriage return are
// written "\\", "\t", "\n" and "\r", so any text survives and the line holds no raw line break.
// The line, without its "\n", is at most CMaxRequestBytes long.
//
// Answer: a status line "OK <byte count>\n" or "ERROR <byte count>\n" (the count in decimal),
// followed by exactly that many bytes of text, unescaped; the text may hold many lines. Then the
// agent closes the connection.
//
//   > enqueue\tComputer Scanner\n
//   < OK 26\nComputer Scanner is queued.
struct TControlRequest {
  std::string Command;
  std::vector<std::string> Arguments;

  bool operator==(const TControlRequest&) const = default;
};

struct TControlAnswer {
  bool Ok = false;
  std::string Text;  // may hold many lines

  bool operator==(const TControlAnswer&) const = default;
};

inline constexpr std::size_t CMaxRequestBytes = 64 * 1024;
// An answer announcing more text than this is broken (a status of every job stays far below).
inline constexpr std::size_t CMaxAnswerBytes = 64 * 1024 * 1024;
inline constexpr const char* CControlSocketName = "control.sock";  // in the data directory

// DIR/control.sock.
std::string ControlSocketPath(const std::string& ADataDir);
// The socket address of APath. Throws EArgumentException when the path does not fit a Unix socket
// address (107 bytes): a long data directory cannot hold the control socket.
sockaddr_un ControlSocketAddress(const std::string& APath);

// A failure of the control channel itself: a time-out, a broken answer, a request that cannot be
// sent.
ORVANE_DECLARE_EXCEPTION(EControlError, Exception);

// The request as one line, "\n" included.
std::string EncodeRequest(const TControlRequest& ARequest);
// A line without its "\n". Nothing for garbage: an empty command, a raw line break, an unknown or
// unfinished escape, a NUL byte, or bytes that are not UTF-8.
std::optional<TControlRequest> DecodeRequest(std::string_view ALine);

std::string EncodeAnswer(const TControlAnswer& AAnswer);

// Reads an answer from bytes as they arrive.
class TControlAnswerReader {
public:
  // Takes the next bytes and returns how many of them belong to the answer; once the answer is
  // complete the rest is not taken. Throws EControlError for a status line that is not one.
  std::size_t Feed(std::string_view ABytes);
  bool IsComplete() const { return FComplete; }
  // The answer so far; complete once IsComplete().
  const TControlAnswer& GetAnswer() const { return FAnswer; }

private:
  std::string FStatusLine;
  bool FHaveStatus = false;
  bool FComplete = false;
  std::size_t FExpected = 0;
  TControlAnswer FAnswer;

  void ParseStatusLine();
};

}  // namespace Orvane
