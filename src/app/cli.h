// The command-line front end: torvane-cli update | info | list, over the
// same update procedure as the dialog.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace torvane {

struct CliOptions {
  std::string command;                    // "update", "info" or "list"
  std::vector<std::string> simulate;      // one SPEC per --simulate, in order
  bool simulateGiven = false;
  std::string traceFile;
  std::string settingsDir;
  bool json = false;
  bool help = false;
  bool version = false;
};

// Options may stand before or after the command. False with a message on a
// usage error. Without requireCommand (the dialog) no command is accepted.
bool ParseCliArguments(const std::vector<std::string>& args, CliOptions* options,
                       std::string* error, bool requireCommand = true);

std::string CliUsage();

struct SessionOptions;
class Sleeper;

// The session a front end runs with, from its parsed options.
SessionOptions SessionOptionsFor(const CliOptions& options, const std::string& programName,
                                 const std::string& description, Sleeper* sleeper);

// Runs one command; the result is the process exit status. outIsTerminal
// selects the progress bar over plain progress lines; sleeper, when given,
// takes the waits instead of the system (tests).
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool outIsTerminal, Sleeper* sleeper = nullptr);

}  // namespace torvane
