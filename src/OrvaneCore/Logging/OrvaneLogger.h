#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

// One argument of a printf-style log text ("%s", "%d"). Arguments travel as values so that callers
// never compile against the formatting library.
class TLogArg {
public:
  TLogArg(int AValue) : FValue(static_cast<int64_t>(AValue)) {}
  TLogArg(long AValue) : FValue(static_cast<int64_t>(AValue)) {}
  TLogArg(long long AValue) : FValue(static_cast<int64_t>(AValue)) {}
  TLogArg(unsigned AValue) : FValue(static_cast<uint64_t>(AValue)) {}
  TLogArg(unsigned long AValue) : FValue(static_cast<uint64_t>(AValue)) {}
  TLogArg(unsigned long long AValue) : FValue(static_cast<uint64_t>(AValue)) {}
  TLogArg(double AValue) : FValue(AValue) {}
  TLogArg(const char* AValue) : FValue(std::string(AValue ? AValue : "")) {}
  TLogArg(std::string_view AValue) : FValue(std::string(AValue)) {}
  TLogArg(const std::string& AValue) : FValue(AValue) {}

  using TValue = std::variant<int64_t, uint64_t, double, std::string>;
  const TValue& Value() const { return FValue; }

private:
  TValue FValue;
};

using TLogArgs = std::initializer_list<TLogArg>;

// printf-style formatting of a log text; a text that does not match its arguments is returned as
// it stands with the arguments appended, never an exception.
std::string FormatLogText(std::string_view AFormat, TLogArgs AArgs);

// The host logger. Texts passed in are the system's own, exactly. Every call is thread-safe and
// never throws.
struct IOrvaneLogger {
  virtual ~IOrvaneLogger() = default;

  // True when detailed entries (traces, values, attached objects) are recorded somewhere.
  virtual bool IsActive() const = 0;

  virtual void TraceEnter(std::string_view AMethod, const TOrvaneObject* AObject = nullptr) = 0;
  virtual void TraceExit(std::string_view AMethod, const TOrvaneObject* AObject = nullptr) = 0;

  // A titled group; the entries logged on this thread until EndGroup belong to it.
  virtual void BeginGroup(std::string_view ATitle) = 0;
  virtual void EndGroup() = 0;

  virtual void Message(std::string_view AText) = 0;
  virtual void Message(std::string_view AFormat, TLogArgs AArgs) = 0;
  virtual void Warning(std::string_view AText) = 0;
  virtual void Warning(std::string_view AFormat, TLogArgs AArgs) = 0;
  virtual void Error(std::string_view AText) = 0;
  virtual void Error(std::string_view AFormat, TLogArgs AArgs) = 0;

  // A message with an attached object ("object entry"); AKind is the entry kind the caller names.
  virtual void MessageObject(std::string_view ATitle, const TOrvaneObject* AObject, int AKind = 0) = 0;
  virtual void MessageObject(std::string_view AFormat, TLogArgs AArgs, const TOrvaneObject* AObject,
                             int AKind = 0) = 0;

  // Named values.
  virtual void StringValue(std::string_view AName, std::string_view AValue) = 0;
  virtual void IntegerValue(std::string_view AName, int64_t AValue) = 0;
  virtual void BooleanValue(std::string_view AName, bool AValue) = 0;
  virtual void DateTimeValue(std::string_view AName, TDateTime AValue) = 0;
  virtual void ObjectValue(std::string_view AName, const TOrvaneObject* AObject) = 0;
  virtual void StringsValue(std::string_view AName, const std::vector<std::string>& AValue) = 0;
  // The content of a file (read when logged; a missing file is logged as such).
  virtual void FileContentValue(std::string_view AName, const std::string& AFileName) = 0;

  // An error with the operating system's error code (errno), its text included.
  virtual void LastError(std::string_view AText, int AErrorCode) = 0;
  // A caught exception with a context text ("TJobScheduler.UpdateQueue").
  virtual void LogException(const std::exception& AException, std::string_view AContext) = 0;
};

// The process-wide logger; never null.
IOrvaneLogger* OrvaneLogger();

// Inside a catch block: logs the exception being handled with a context text. What is not a
// std::exception is logged as an unknown exception, so a guard that catches everything still says
// what happened. Outside a catch block it does nothing.
void LogCurrentException(std::string_view AContext);

}  // namespace Orvane
