#include "OrvaneCore/Logging/OrvaneLogger.h"

#include <fmt/args.h>
#include <fmt/format.h>
#include <fmt/printf.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>
#include <system_error>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Platform/DynamicLibrary.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

TLogLevel LevelOfKind(TLogEntryKind AKind) {
  switch (AKind) {
    case TLogEntryKind::TraceEnter:
    case TLogEntryKind::TraceExit:
      return TLogLevel::Trace;
    case TLogEntryKind::GroupBegin:
    case TLogEntryKind::GroupEnd:
    case TLogEntryKind::Object:
    case TLogEntryKind::Value:
      return TLogLevel::Debug;
    case TLogEntryKind::Message:
      return TLogLevel::Info;
    case TLogEntryKind::Warning:
      return TLogLevel::Warning;
    case TLogEntryKind::Error:
    case TLogEntryKind::LastError:
    case TLogEntryKind::Exception:
      return TLogLevel::Error;
  }
  return TLogLevel::Error;
}

namespace {

std::string ArgAsText(const TLogArg& AArg) {
  return std::visit(
      [](const auto& AValue) -> std::string {
        if constexpr (std::is_same_v<std::decay_t<decltype(AValue)>, std::string>) {
          return AValue;
        } else {
          return fmt::format("{}", AValue);
        }
      },
      AArg.Value());
}

std::string UnformattedText(std::string_view AFormat, TLogArgs AArgs) {
  std::string LResult(AFormat);
  if (AArgs.size() == 0) return LResult;
  LResult += " [";
  bool LFirst = true;
  for (const TLogArg& LArg : AArgs) {
    if (!LFirst) LResult += ", ";
    LFirst = false;
    LResult += ArgAsText(LArg);
  }
  LResult += "]";
  return LResult;
}

}  // namespace

std::string FormatLogText(std::string_view AFormat, TLogArgs AArgs) {
  try {
    fmt::dynamic_format_arg_store<fmt::printf_context> LStore;
    LStore.reserve(AArgs.size(), 0);
    for (const TLogArg& LArg : AArgs) {
      std::visit([&LStore](const auto& AValue) { LStore.push_back(AValue); }, LArg.Value());
    }
    return fmt::vsprintf(fmt::string_view(AFormat.data(), AFormat.size()), LStore);
  } catch (...) {
    // A text that does not match its arguments still says what happened.
    try {
      return UnformattedText(AFormat, AArgs);
    } catch (...) {
      return std::string();
    }
  }
}

namespace {

// A logged file is read only up to this size: the log holds configuration and state files, not
// payloads.
constexpr size_t CMaxLoggedFileSize = 64 * 1024;

// Group nesting of the calling thread. Plain values only: threads may log while their thread-local
// objects are being destroyed.
thread_local int GGroupDepth = 0;
// Set while this thread hands an entry to the sinks: a sink that logs would otherwise feed itself.
thread_local bool GInSinks = false;

class TOrvaneLoggerCore final : public IOrvaneLogger {
public:
  TOrvaneLoggerCore() : FSinks(std::make_shared<const TSinkSet>()) {}

  void AddSink(std::shared_ptr<ILogSink> ASink) EXCLUDES(FLock) {
    if (!ASink) return;
    TLogLevel LLevel = ASink->Level();
    bool LWantsText = ASink->WantsObjectText();
    TMutexLock LLock(FLock);
    for (const TSinkSlot& LSlot : FSinks->Slots) {
      if (LSlot.Sink == ASink) return;
    }
    auto LNew = std::make_shared<TSinkSet>(*FSinks);
    LNew->Slots.push_back({std::move(ASink), LLevel, LWantsText});
    Publish(std::move(LNew));
  }

  void RemoveSink(const std::shared_ptr<ILogSink>& ASink) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    auto LNew = std::make_shared<TSinkSet>(*FSinks);
    std::erase_if(LNew->Slots, [&ASink](const TSinkSlot& ASlot) { return ASlot.Sink == ASink; });
    Publish(std::move(LNew));
  }

  void RemoveAllSinks() EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    Publish(std::make_shared<TSinkSet>());
  }

  bool IsActive() const override {
    return FLowestLevel.load(std::memory_order_relaxed) <= static_cast<int>(TLogLevel::Debug);
  }

  void TraceEnter(std::string_view AMethod, const TOrvaneObject* AObject) override {
    Log(TLogEntryKind::TraceEnter, [&](TLogEntry& AEntry, bool AWantsText) {
      AEntry.Text = AMethod;
      Attach(AEntry, AObject, AWantsText);
    });
  }

  void TraceExit(std::string_view AMethod, const TOrvaneObject* AObject) override {
    Log(TLogEntryKind::TraceExit, [&](TLogEntry& AEntry, bool AWantsText) {
      AEntry.Text = AMethod;
      Attach(AEntry, AObject, AWantsText);
    });
  }

  void BeginGroup(std::string_view ATitle) override {
    // The entry carries the depth outside the group; what follows on this thread is one deeper.
    Log(TLogEntryKind::GroupBegin, [&](TLogEntry& AEntry, bool) { AEntry.Text = ATitle; });
    ++GGroupDepth;
  }

  void EndGroup() override {
    // An unmatched EndGroup is dropped rather than pushing later entries out of their group.
    if (GGroupDepth == 0) return;
    --GGroupDepth;
    Log(TLogEntryKind::GroupEnd, [](TLogEntry&, bool) {});
  }

  void Message(std::string_view AText) override { Plain(TLogEntryKind::Message, AText); }
  void Message(std::string_view AFormat, TLogArgs AArgs) override {
    Formatted(TLogEntryKind::Message, AFormat, AArgs);
  }
  void Warning(std::string_view AText) override { Plain(TLogEntryKind::Warning, AText); }
  void Warning(std::string_view AFormat, TLogArgs AArgs) override {
    Formatted(TLogEntryKind::Warning, AFormat, AArgs);
  }
  void Error(std::string_view AText) override { Plain(TLogEntryKind::Error, AText); }
  void Error(std::string_view AFormat, TLogArgs AArgs) override {
    Formatted(TLogEntryKind::Error, AFormat, AArgs);
  }

  void MessageObject(std::string_view ATitle, const TOrvaneObject* AObject, int AKind) override {
    Log(TLogEntryKind::Object, [&](TLogEntry& AEntry, bool AWantsText) {
      AEntry.Text = ATitle;
      AEntry.ObjectKind = AKind;
      Attach(AEntry, AObject, AWantsText);
    });
  }

  void MessageObject(std::string_view AFormat, TLogArgs AArgs, const TOrvaneObject* AObject,
                     int AKind) override {
    Log(TLogEntryKind::Object, [&](TLogEntry& AEntry, bool AWantsText) {
      AEntry.Text = FormatLogText(AFormat, AArgs);
      AEntry.ObjectKind = AKind;
      Attach(AEntry, AObject, AWantsText);
    });
  }

  void StringValue(std::string_view AName, std::string_view AValue) override {
    Value(AName, [&](TLogEntry& AEntry, bool) { AEntry.Value = AValue; });
  }

  void IntegerValue(std::string_view AName, int64_t AValue) override {
    Value(AName, [&](TLogEntry& AEntry, bool) { AEntry.Value = std::to_string(AValue); });
  }

  void BooleanValue(std::string_view AName, bool AValue) override {
    Value(AName, [&](TLogEntry& AEntry, bool) { AEntry.Value = AValue ? "true" : "false"; });
  }

  void DateTimeValue(std::string_view AName, TDateTime AValue) override {
    Value(AName, [&](TLogEntry& AEntry, bool) { AEntry.Value = DateTimeToDisplay(AValue); });
  }

  void ObjectValue(std::string_view AName, const TOrvaneObject* AObject) override {
    Value(AName, [&](TLogEntry& AEntry, bool AWantsText) {
      if (!AObject) AEntry.Value = "(null)";
      Attach(AEntry, AObject, AWantsText);
    });
  }

  void StringsValue(std::string_view AName, const std::vector<std::string>& AValue) override {
    Value(AName, [&](TLogEntry& AEntry, bool) {
      for (size_t LIndex = 0; LIndex < AValue.size(); ++LIndex) {
        if (LIndex > 0) AEntry.Value += '\n';
        AEntry.Value += AValue[LIndex];
      }
    });
  }

  void FileContentValue(std::string_view AName, const std::string& AFileName) override {
    Value(AName, [&](TLogEntry& AEntry, bool) {
      // One byte beyond the bound tells whether the file goes on.
      const TFileResult LRead = ReadWholeFile(AFileName, AEntry.Value, {}, CMaxLoggedFileSize + 1);
      if (!LRead.Done()) {
        AEntry.ErrorCode = LRead.ErrorCode;
        // The reader's codes are errno values on every platform.
        AEntry.Value = "(" + AFileName + " cannot be read: " + std::generic_category().message(LRead.ErrorCode) + ")";
      } else if (AEntry.Value.size() > CMaxLoggedFileSize) {
        AEntry.Value.resize(CMaxLoggedFileSize);
        AEntry.Value += "\n(" + AFileName + " goes on beyond " + std::to_string(CMaxLoggedFileSize) + " bytes)";
      }
    });
  }

  void LastError(std::string_view AText, int AErrorCode) override {
    Log(TLogEntryKind::LastError, [&](TLogEntry& AEntry, bool) {
      AEntry.Text = AText;
      AEntry.ErrorCode = AErrorCode;
      AEntry.Value = OSErrorText(AErrorCode);
    });
  }

  void LogException(const std::exception& AException, std::string_view AContext) override {
    Log(TLogEntryKind::Exception, [&](TLogEntry& AEntry, bool) {
      AEntry.ExceptionClass = ExceptionClassName(AException);
      AEntry.Text = AException.what();
      AEntry.Value = AContext;
      if (auto LOSError = dynamic_cast<const EOSError*>(&AException))
        AEntry.ErrorCode = LOSError->ErrorCode();
    });
  }

private:
  struct TSinkSlot {
    std::shared_ptr<ILogSink> Sink;
    // A sink's level and wish for object text are taken when it is added.
    TLogLevel Level;
    bool WantsObjectText;
  };
  struct TSinkSet {
    std::vector<TSinkSlot> Slots;
  };

  // Replaces the sink set. Writers that copied the old set finish with it; the sinks they hold
  // stay alive until then.
  void Publish(std::shared_ptr<const TSinkSet> ASinks) REQUIRES(FLock) {
    int LLowest = static_cast<int>(TLogLevel::Off);
    for (const TSinkSlot& LSlot : ASinks->Slots) LLowest = std::min(LLowest, static_cast<int>(LSlot.Level));
    FSinks = std::move(ASinks);
    FLowestLevel.store(LLowest, std::memory_order_relaxed);
  }

  std::shared_ptr<const TSinkSet> Sinks() const EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return FSinks;
  }

  static void Attach(TLogEntry& AEntry, const TOrvaneObject* AObject, bool AWantsText) {
    if (!AObject) return;
    AEntry.ObjectClass = AObject->ClassName();
    if (AWantsText) AEntry.ObjectText = AObject->LogText();
  }

  void Plain(TLogEntryKind AKind, std::string_view AText) {
    Log(AKind, [&](TLogEntry& AEntry, bool) { AEntry.Text = AText; });
  }

  void Formatted(TLogEntryKind AKind, std::string_view AFormat, TLogArgs AArgs) {
    Log(AKind, [&](TLogEntry& AEntry, bool) { AEntry.Text = FormatLogText(AFormat, AArgs); });
  }

  template <class TFill>
  void Value(std::string_view AName, TFill AFill) {
    Log(TLogEntryKind::Value, [&](TLogEntry& AEntry, bool AWantsText) {
      AEntry.Text = AName;
      AFill(AEntry, AWantsText);
    });
  }

  // Builds the entry with AFill (given whether object text is wanted) and hands it to every sink
  // whose level takes it. Nothing is built when no sink takes the kind.
  template <class TFill>
  void Log(TLogEntryKind AKind, TFill&& AFill) noexcept {
    TLogLevel LLevel = LevelOfKind(AKind);
    if (static_cast<int>(LLevel) < FLowestLevel.load(std::memory_order_relaxed)) return;
    if (GInSinks) return;
    try {
      std::shared_ptr<const TSinkSet> LSinks = Sinks();
      bool LTaken = false;
      bool LWantsText = false;
      for (const TSinkSlot& LSlot : LSinks->Slots) {
        if (LLevel < LSlot.Level) continue;
        LTaken = true;
        LWantsText = LWantsText || LSlot.WantsObjectText;
      }
      if (!LTaken) return;

      TLogEntry LEntry;
      LEntry.Kind = AKind;
      LEntry.Depth = GGroupDepth;
      LEntry.ThreadId = std::this_thread::get_id();
      try {
        LEntry.Time = Now();
      } catch (...) {
        LEntry.Time = CNoDateTime;
      }
      try {
        AFill(LEntry, LWantsText);
      } catch (const std::exception& LException) {
        // An object that cannot describe itself must not cost the entry.
        LEntry.Value += LEntry.Value.empty() ? "" : " ";
        LEntry.Value += std::string("(log text failed: ") + LException.what() + ")";
      } catch (...) {
        LEntry.Value += LEntry.Value.empty() ? "(log text failed)" : " (log text failed)";
      }

      GInSinks = true;
      for (const TSinkSlot& LSlot : LSinks->Slots) {
        if (LLevel < LSlot.Level) continue;
        try {
          LSlot.Sink->Write(LEntry);
        } catch (...) {
          // One failing sink must not keep the entry from the others.
        }
      }
      GInSinks = false;
    } catch (...) {
      GInSinks = false;
    }
  }

  mutable TMutex FLock;
  std::shared_ptr<const TSinkSet> FSinks GUARDED_BY(FLock);
  // The lowest level of all sinks (Off without sinks): the check that keeps inactive logging cheap.
  std::atomic<int> FLowestLevel{static_cast<int>(TLogLevel::Off)};
};

// Created once and never destroyed, so that code running at process exit may still log.
TOrvaneLoggerCore& LoggerCore() {
  static TOrvaneLoggerCore* const LCore = new TOrvaneLoggerCore();
  return *LCore;
}

}  // namespace

IOrvaneLogger* OrvaneLogger() {
  return &LoggerCore();
}

void LogCurrentException(std::string_view AContext) {
  if (!std::current_exception()) return;
  try {
    throw;
  } catch (const std::exception& LException) {
    OrvaneLogger()->LogException(LException, AContext);
  } catch (...) {
    OrvaneLogger()->LogException(Exception("Unknown exception"), AContext);
  }
}

void AddLogSink(std::shared_ptr<ILogSink> ASink) {
  LoggerCore().AddSink(std::move(ASink));
}

void RemoveLogSink(const std::shared_ptr<ILogSink>& ASink) {
  LoggerCore().RemoveSink(ASink);
}

void RemoveAllLogSinks() {
  LoggerCore().RemoveAllSinks();
}

}  // namespace Orvane
