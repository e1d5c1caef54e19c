#include "OrvaneCore/Logging/TextLogSink.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string_view>
#include <type_traits>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Platform/LogFile.h"

namespace Orvane {

namespace {

spdlog::level::level_enum SpdLevel(TLogLevel ALevel) {
  switch (ALevel) {
    case TLogLevel::Trace:
      return spdlog::level::trace;
    case TLogLevel::Debug:
      return spdlog::level::debug;
    case TLogLevel::Info:
      return spdlog::level::info;
    case TLogLevel::Warning:
      return spdlog::level::warn;
    case TLogLevel::Error:
      return spdlog::level::err;
    case TLogLevel::Off:
      return spdlog::level::off;
  }
  return spdlog::level::err;
}

const char* LevelName(TLogLevel ALevel) {
  switch (ALevel) {
    case TLogLevel::Trace:
      return "TRACE";
    case TLogLevel::Debug:
      return "DEBUG";
    case TLogLevel::Info:
      return "INFO ";
    case TLogLevel::Warning:
      return "WARN ";
    case TLogLevel::Error:
    case TLogLevel::Off:
      break;
  }
  return "ERROR";
}

void AppendLines(std::vector<std::string>& ALines, std::string_view AText) {
  size_t LStart = 0;
  while (LStart <= AText.size()) {
    size_t LEnd = AText.find('\n', LStart);
    if (LEnd == std::string_view::npos) LEnd = AText.size();
    std::string_view LLine = AText.substr(LStart, LEnd - LStart);
    if (!LLine.empty() && LLine.back() == '\r') LLine.remove_suffix(1);
    ALines.emplace_back(LLine);
    LStart = LEnd + 1;
  }
}

std::string WithClass(const std::string& AText, const TLogEntry& AEntry) {
  return AEntry.ObjectClass.empty() ? AText : AText + " [" + AEntry.ObjectClass + "]";
}

// The entry as lines: the first goes after the line prefix, the others are indented below it.
std::vector<std::string> EntryLines(const TLogEntry& AEntry) {
  std::vector<std::string> LLines;
  switch (AEntry.Kind) {
    case TLogEntryKind::TraceEnter:
      LLines.push_back(WithClass("Enter " + AEntry.Text, AEntry));
      break;
    case TLogEntryKind::TraceExit:
      LLines.push_back(WithClass("Exit " + AEntry.Text, AEntry));
      break;
    case TLogEntryKind::GroupBegin:
      LLines.push_back(AEntry.Text + " {");
      break;
    case TLogEntryKind::GroupEnd:
      LLines.push_back("}");
      break;
    case TLogEntryKind::Message:
    case TLogEntryKind::Warning:
    case TLogEntryKind::Error:
      AppendLines(LLines, AEntry.Text);
      break;
    case TLogEntryKind::Object:
      LLines.push_back(WithClass(AEntry.Text, AEntry));
      if (!AEntry.ObjectText.empty()) AppendLines(LLines, AEntry.ObjectText);
      break;
    case TLogEntryKind::Value:
      if (!AEntry.ObjectClass.empty()) {
        LLines.push_back(AEntry.Text + " = [" + AEntry.ObjectClass + "]");
        if (!AEntry.ObjectText.empty()) AppendLines(LLines, AEntry.ObjectText);
      } else if (AEntry.Value.find('\n') != std::string::npos) {
        LLines.push_back(AEntry.Text + " =");
        AppendLines(LLines, AEntry.Value);
      } else {
        LLines.push_back(AEntry.Text + " = " + AEntry.Value);
      }
      break;
    case TLogEntryKind::LastError:
      LLines.push_back(AEntry.Text + ": error " + std::to_string(AEntry.ErrorCode) + " (" + AEntry.Value +
                       ")");
      break;
    case TLogEntryKind::Exception:
      LLines.push_back(AEntry.ExceptionClass + ": " + AEntry.Text +
                       (AEntry.Value.empty() ? "" : " (" + AEntry.Value + ")"));
      break;
  }
  return LLines;
}

// "2026-12-06 16:50:00.123 DEBUG [140245...]   Count = 3", continuation lines aligned under the text.
std::string FormatEntry(const TLogEntry& AEntry) {
  std::ostringstream LThread;
  LThread << AEntry.ThreadId;
  std::string LPrefix = DateTimeToDisplay(AEntry.Time) + " " + LevelName(LevelOfKind(AEntry.Kind)) + " [" +
                        LThread.str() + "] ";
  std::string LIndent(static_cast<size_t>(std::max(AEntry.Depth, 0)) * 2, ' ');
  std::string LMoreIndent(LPrefix.size() + LIndent.size() + 4, ' ');

  std::vector<std::string> LLines = EntryLines(AEntry);
  std::string LResult = LPrefix + LIndent + LLines.front();
  for (size_t LIndex = 1; LIndex < LLines.size(); ++LIndex) {
    LResult += '\n';
    LResult += LMoreIndent + LLines[LIndex];
  }
  return LResult;
}

// The log file's name as spdlog takes it: where spdlog is built for wide names (Windows), UTF-16, so
// that a name beyond ASCII is not narrowed to the system's code page.
template <class TSpdFileName = spdlog::filename_t>
TSpdFileName SpdFileName(const std::string& AUtf8) {
  if constexpr (std::is_same_v<TSpdFileName, std::string>) {
    return AUtf8;
  } else {
    const std::u16string LWide = Utf8ToUtf16(AUtf8);
    return TSpdFileName(LWide.begin(), LWide.end());
  }
}

}  // namespace

struct TTextLogSink::TState {
  TTextLogSinkOptions Options;
  std::shared_ptr<spdlog::logger> Logger;
};

TTextLogSink::TTextLogSink(TTextLogSinkOptions AOptions) : FState(std::make_unique<TState>()) {
  FState->Options = std::move(AOptions);
  std::vector<spdlog::sink_ptr> LSinks;
  try {
    if (FState->Options.Console) {
      auto LConsole = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
      LConsole->set_pattern("%^%v%$");
      LSinks.push_back(std::move(LConsole));
    }
    if (!FState->Options.FileName.empty()) {
      spdlog::file_event_handlers LHandlers;
      LHandlers.before_open = [LName = FState->Options.FileName](const spdlog::filename_t&) {
        PrepareLogFile(LName);
      };
      // Processes the agent starts must not inherit the log file.
      LHandlers.after_open = [](const spdlog::filename_t&, std::FILE* AFile) {
        KeepFromChildProcesses(AFile);
      };
      auto LFile = std::make_shared<spdlog::sinks::basic_file_sink_mt>(SpdFileName(FState->Options.FileName),
                                                                       false, LHandlers);
      LFile->set_pattern("%v");
      LSinks.push_back(std::move(LFile));
    }
  } catch (const std::exception& LException) {
    throw EFileError("Cannot open the log file " + FState->Options.FileName + ": " + LException.what());
  }
  FState->Logger = std::make_shared<spdlog::logger>("orvane", LSinks.begin(), LSinks.end());
  FState->Logger->set_level(spdlog::level::trace);
  FState->Logger->flush_on(spdlog::level::warn);
}

TTextLogSink::~TTextLogSink() {
  try {
    FState->Logger->flush();
  } catch (...) {
  }
}

TLogLevel TTextLogSink::Level() const {
  return FState->Options.Level;
}

// Objects come in at Debug; their text is only worth building when this sink writes them.
bool TTextLogSink::WantsObjectText() const {
  return FState->Options.Level <= TLogLevel::Debug;
}

void TTextLogSink::Write(const TLogEntry& AEntry) {
  TLogLevel LLevel = LevelOfKind(AEntry.Kind);
  if (LLevel < FState->Options.Level) return;
  std::string LLine = FormatEntry(AEntry);
  FState->Logger->log(SpdLevel(LLevel), spdlog::string_view_t(LLine.data(), LLine.size()));
}

void TTextLogSink::Flush() {
  FState->Logger->flush();
}

}  // namespace Orvane
