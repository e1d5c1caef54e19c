#include "AgentConfig.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <iterator>
#include <sstream>

#include "AgentSetup.h"
#include "OrvaneCore/Platform/FileReader.h"

namespace Orvane {

namespace {

std::string Trimmed(const std::string& AText) {
  const size_t LFirst = AText.find_first_not_of(" \t\r");
  if (LFirst == std::string::npos) return {};
  return AText.substr(LFirst, AText.find_last_not_of(" \t\r") - LFirst + 1);
}

// CLI11 names an option by its long name in its messages ("--log-level: ..."), never by the key.
bool MentionsOption(const std::string& AText, const std::string& AKey) {
  const std::string LName = "--" + AKey;
  for (size_t LAt = AText.find(LName); LAt != std::string::npos; LAt = AText.find(LName, LAt + 1)) {
    const size_t LEnd = LAt + LName.size();
    if (LEnd == AText.size() || !(std::isalnum(static_cast<unsigned char>(AText[LEnd])) || AText[LEnd] == '-'))
      return true;
  }
  return false;
}

}  // namespace

// CLI11's own reader of the file, whose items the owner aims at the command that runs.
class TAgentConfigFile::TFormat : public CLI::ConfigBase {
public:
  explicit TFormat(TAgentConfigFile& AOwner) : FOwner(AOwner) {}

  std::vector<CLI::ConfigItem> from_config(std::istream& AInput) const override {
    const std::string LText{std::istreambuf_iterator<char>(AInput), std::istreambuf_iterator<char>()};
    std::istringstream LCopy(LText);
    std::vector<CLI::ConfigItem> LItems = CLI::ConfigBase::from_config(LCopy);
    FOwner.SelectItems(LText, LItems);
    return LItems;
  }

private:
  TAgentConfigFile& FOwner;
};

TAgentConfigFile::TAgentConfigFile(CLI::App& AApp, CLI::App& ARun, const std::vector<CLI::App*>& AOtherReaders)
    : FApp(AApp), FRun(ARun), FFormat(std::make_shared<TFormat>(*this)) {
  FReaders.push_back(&ARun);
  FReaders.insert(FReaders.end(), AOtherReaders.begin(), AOtherReaders.end());
  for (CLI::App* LReader : FReaders) FReaderNames += (FReaderNames.empty() ? "" : " and ") + LReader->get_name();

  // CLI11 reads the file for the main command only; the readers hand it the option.
  FConfig = FApp.set_config("--config", "", "Read the options of " + FReaderNames +
                                                " from this file, key = value a line (the command line wins)");
  FConfig->type_name("FILE");
  FApp.config_formatter(FFormat);
  for (CLI::App* LReader : FReaders) {
    LReader->fallthrough();
    for (CLI::App* LCommand : LReader->get_subcommands([](CLI::App*) { return true; })) LCommand->fallthrough();
    LReader->footer("--config FILE reads these options from FILE: key = value a line, the key being the option "
                    "without its dashes; the command line wins");
  }
  FPrint = FRun.add_flag("--print-config")
               ->description("Print the settings from --config and the command line, and exit")
               ->configurable(false);
}

TAgentConfigFile::~TAgentConfigFile() = default;

std::optional<int> TAgentConfigFile::Parse(int AArgc, const char* const* AArgv, std::ostream& AOut,
                                           std::ostream& AErr) {
  FWarnings = &AErr;
  FReading = false;
  try {
    FApp.parse(AArgc, AArgv);
  } catch (const CLI::FileError& E) {
    return FileFailure(FConfig->results().empty() ? std::string() : FConfig->results().front(), E.what(), AErr);
  } catch (const CLI::ParseError& E) {
    // --help is a success; every other parse failure is a usage error.
    return FApp.exit(E, AOut, AErr) == 0 ? CExitSuccess : CExitUsage;
  }

  if (FConfig->count() > 0) {
    if (!ParsedReader()) {
      Fail("--config is an option of " + FReaderNames + " only", AErr);
      return CExitUsage;
    }
    FFileName = FConfig->results().front();
    FReading = true;
    try {
      FApp.parse(AArgc, AArgv);
    } catch (const CLI::FileError& E) {
      return FileFailure(FFileName, E.what(), AErr);
    } catch (const CLI::ParseError& E) {
      return ValueFailure(E.what(), AErr);
    }
  }
  if (FPrint->count() > 0) {
    PrintSettings(AOut);
    return CExitSuccess;
  }
  return std::nullopt;
}

void TAgentConfigFile::SelectItems(const std::string& AText, std::vector<CLI::ConfigItem>& AItems) {
  if (!FReading) {
    AItems.clear();
    return;
  }
  FText = AText;
  FAppliedKeys.clear();
  CLI::App* LReader = ParsedReader();
  std::vector<CLI::ConfigItem> LKept;
  for (CLI::ConfigItem& LItem : AItems) {
    if (LItem.name == "++" || LItem.name == "--") continue;  // where a section begins or ends
    if (!LItem.parents.empty() || !IsKey(LItem.name)) {
      Fail("warning: " + Where(LItem.fullname(), LItem.name) + "unknown key \"" + LItem.fullname() + "\" is ignored",
           *FWarnings);
      continue;
    }
    const CLI::Option* LOption = LReader->get_option_no_throw("--" + LItem.name);
    if (!LOption || !LOption->get_configurable()) continue;  // another command's key
    LItem.parents = {LReader->get_name()};
    FAppliedKeys.push_back(LItem.name);
    LKept.push_back(std::move(LItem));
  }
  AItems = std::move(LKept);
}

CLI::App* TAgentConfigFile::ParsedReader() const {
  for (CLI::App* LReader : FReaders)
    if (LReader->parsed()) return LReader;
  return nullptr;
}

bool TAgentConfigFile::IsKey(const std::string& AName) const {
  for (const CLI::App* LReader : FReaders) {
    const CLI::Option* LOption = LReader->get_option_no_throw("--" + AName);
    if (LOption && LOption->get_configurable()) return true;
  }
  return false;
}

// CLI11 keeps no line numbers: the key's first line that sets it.
size_t TAgentConfigFile::LineOf(const std::string& AKey) const {
  std::istringstream LLines(FText);
  std::string LLine;
  for (size_t LNumber = 1; std::getline(LLines, LLine); ++LNumber) {
    LLine = Trimmed(LLine);
    if (LLine.empty() || LLine[0] == '#' || LLine[0] == ';' || LLine[0] == '[') continue;
    std::string LName = Trimmed(LLine.substr(0, LLine.find('=')));
    if (LName.size() >= 2 && (LName.front() == '"' || LName.front() == '\'') && LName.back() == LName.front())
      LName = LName.substr(1, LName.size() - 2);
    if (LName == AKey) return LNumber;
  }
  return 0;
}

std::string TAgentConfigFile::Where(const std::string& AKey, const std::string& AKeyInSection) const {
  size_t LLine = LineOf(AKey);
  if (LLine == 0 && !AKeyInSection.empty()) LLine = LineOf(AKeyInSection);
  return FFileName + (LLine > 0 ? ":" + std::to_string(LLine) : std::string()) + ": ";
}

int TAgentConfigFile::FileFailure(const std::string& AFileName, const std::string& AWhat, std::ostream& AErr) const {
  // CLI11 says "does not exist" for every failure; the file's reader says why.
  std::string LContent;
  const TFileResult LRead = ReadWholeFile(AFileName, LContent, {.RegularOnly = true});
  Fail("cannot read the configuration file " + (LRead.Done() ? AFileName + ": " + AWhat : LRead.Error), AErr);
  return CExitUsage;
}

int TAgentConfigFile::ValueFailure(const std::string& AWhat, std::ostream& AErr) const {
  for (const std::string& LKey : FAppliedKeys) {
    if (MentionsOption(AWhat, LKey)) {
      Fail(Where(LKey) + "key \"" + LKey + "\": " + AWhat, AErr);
      return CExitUsage;
    }
  }
  Fail(FFileName + ": " + AWhat, AErr);
  return CExitUsage;
}

void TAgentConfigFile::PrintSettings(std::ostream& AOut) {
  // Every key, the unset ones with their defaults; an empty value stands for the built-in default,
  // so the output is itself a configuration file of the same settings.
  for (CLI::Option* LOption : FRun.get_options()) {
    if (!LOption->get_configurable() || LOption->count() > 0) continue;
    LOption->capture_default_str();
    LOption->run_callback_for_default();
  }
  AOut << FRun.config_to_str(true, false) << std::flush;
}

}  // namespace Orvane
