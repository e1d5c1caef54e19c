#pragma once

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
struct ConfigItem;
}  // namespace CLI

namespace Orvane {

// The agent's configuration file. `--config FILE` on run (and on the other commands given, ctl)
// reads the command's options from FILE through CLI11's own configuration-file support: one
// `key = value` a line, the key being the option's long name without its dashes (`data-dir`,
// `log-level`), so that every option a command gains is a key at once. The command line wins over
// the file. A command reads the keys it has and passes over the other commands' keys in silence
// (ctl takes `data-dir` from the file that configures run). A key no command knows, or one inside a
// `[section]`, is a warning naming the file and line and is ignored, so that an older agent still
// starts on a newer file. A value a key refuses, or a file that cannot be read, is a usage error
// (exit code 2) naming the file, the key and the key's line.
// `run --print-config` prints run's merged settings, in the file's syntax, and ends the program.
class TAgentConfigFile {
public:
  // Adds the options to the commands of AApp; call before Parse.
  TAgentConfigFile(CLI::App& AApp, CLI::App& ARun, const std::vector<CLI::App*>& AOtherReaders);
  ~TAgentConfigFile();
  TAgentConfigFile(const TAgentConfigFile&) = delete;
  TAgentConfigFile& operator=(const TAgentConfigFile&) = delete;

  // Parses the command line and the file it names. Empty when the parsed command is to run; else
  // the program's exit code, after help, the printed settings or the error went to AOut or AErr.
  std::optional<int> Parse(int AArgc, const char* const* AArgv, std::ostream& AOut = std::cout,
                           std::ostream& AErr = std::cerr);

private:
  class TFormat;

  // CLI11 hands the file's items here: those of the command that runs are kept, aimed at it.
  void SelectItems(const std::string& AText, std::vector<CLI::ConfigItem>& AItems);
  CLI::App* ParsedReader() const;
  bool IsKey(const std::string& AName) const;
  size_t LineOf(const std::string& AKey) const;
  // "FILE:LINE: " of a key; a key of a [section] is looked up by its own name too.
  std::string Where(const std::string& AKey, const std::string& AKeyInSection = {}) const;
  int FileFailure(const std::string& AFileName, const std::string& AWhat, std::ostream& AErr) const;
  int ValueFailure(const std::string& AWhat, std::ostream& AErr) const;
  void PrintSettings(std::ostream& AOut);

  CLI::App& FApp;
  CLI::App& FRun;
  std::vector<CLI::App*> FReaders;  // FRun first
  std::string FReaderNames;         // "run and ctl"
  CLI::Option* FConfig = nullptr;
  CLI::Option* FPrint = nullptr;
  std::shared_ptr<TFormat> FFormat;
  std::ostream* FWarnings = &std::cerr;
  // The first parse checks the command line alone, so that what the second parse refuses is the file's.
  bool FReading = false;
  std::string FFileName;
  std::string FText;
  std::vector<std::string> FAppliedKeys;  // in the file's order
};

}  // namespace Orvane
