#pragma once

#include <memory>
#include <string>
#include <thread>

#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

enum class TLogEntryKind {
  TraceEnter,
  TraceExit,
  GroupBegin,
  GroupEnd,
  Message,
  Warning,
  Error,
  Object,  // a message with an attached object
  Value,   // a named value
  LastError,
  Exception,
};

// Detail levels, lowest first. A sink records entries at or above its level.
enum class TLogLevel { Trace, Debug, Info, Warning, Error, Off };

// The level at which an entry kind is recorded: traces at Trace; values, objects and groups at
// Debug; messages at Info; warnings; errors, OS errors and exceptions at Error.
TLogLevel LevelOfKind(TLogEntryKind AKind);

// One log entry, as it was at the moment of logging. Attached objects are kept as their class
// name and text, never as a pointer.
struct TLogEntry {
  TLogEntryKind Kind = TLogEntryKind::Message;
  std::string Text;         // message, method name, group title, value name, exception message
  std::string Value;        // a named value as text; the context text of an exception
  std::string ObjectClass;  // class name of the attached object ("" when none)
  std::string ObjectText;   // the attached object as text (filled only for sinks that want it)
  int ObjectKind = 0;       // the entry kind a caller gave an object entry
  int ErrorCode = 0;        // LastError
  std::string ExceptionClass;
  int Depth = 0;  // group nesting on the logging thread
  TDateTime Time = 0;
  std::thread::id ThreadId;
};

// Receives entries from the logger. Write is called from any thread, possibly at once from
// several; a sink synchronises itself.
struct ILogSink {
  virtual ~ILogSink() = default;
  virtual TLogLevel Level() const = 0;
  // Whether ObjectText must be filled (writing an object as XML costs time).
  virtual bool WantsObjectText() const = 0;
  virtual void Write(const TLogEntry& AEntry) = 0;
};

// Sinks attached to the process-wide logger. Adding or removing a sink is thread-safe.
void AddLogSink(std::shared_ptr<ILogSink> ASink);
void RemoveLogSink(const std::shared_ptr<ILogSink>& ASink);
void RemoveAllLogSinks();

}  // namespace Orvane
