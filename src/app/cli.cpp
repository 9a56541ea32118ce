#include "app/cli.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "app/outcome.h"
#include "app/app_session.h"
#include "app/update_procedure.h"
#include "channel/camera_discovery.h"
#include "flash/flash_identification.h"

namespace torvane {

namespace {

constexpr const char* kVersionText = "torvane-cli 1.0.0";

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

// A status text without its line end, as one output line.
std::string AsLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

class CliView final : public UpdateView {
 public:
  CliView(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

  void ShowStatus(const std::string& text) override {
    EndBar();
    out_ << AsLine(text) << '\n';
    out_.flush();
  }
  void RepaintNow() override { out_.flush(); }
  void SetProgressRange(int minimum, int maximum) override {
    minimum_ = minimum;
    maximum_ = maximum;
  }
  void SetProgress(int position) override {
    const int span = maximum_ > minimum_ ? maximum_ - minimum_ : 1;
    const int percent = (position - minimum_) * 100 / span;
    if (terminal_) {
      constexpr int kWidth = 40;
      const int filled = percent * kWidth / 100;
      out_ << '\r' << '[' << std::string(static_cast<std::size_t>(filled), '#')
           << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << percent
           << '%';
      barOpen_ = true;
    } else {
      out_ << "progress: " << percent << "%\n";
    }
    out_.flush();
  }
  void EnableButton(bool) override {}
  void SetButtonCaption(const std::string&) override {}
  void Close() override {}

  void EndBar() {
    if (barOpen_) out_ << '\n';
    barOpen_ = false;
  }

 private:
  std::ostream& out_;
  bool terminal_;
  bool barOpen_ = false;
  int minimum_ = 0;
  int maximum_ = 100;
};

std::string BindingName(const ControlChannel& channel) {
  switch (channel.mode) {
    case ChannelMode::Tunnel: return "tunnel";
    case ChannelMode::ExtensionUnit:
      return channel.nodeProperty.Property.Set == XU_PROPERTY_SET_B ? "xu-b" : "xu";
    case ChannelMode::None: break;
  }
  return "none";
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
      continue;
    }
    quoted += c;
  }
  return quoted + "\"";
}

// Key-value output, as "key: value" lines or one JSON object.
class Report {
 public:
  void Add(const std::string& key, const std::string& value, bool jsonLiteral = false) {
    entries_.push_back({key, value, jsonLiteral});
  }
  void Write(std::ostream& out, bool json) const {
    if (!json) {
      for (const auto& e : entries_) out << e.key << ": " << e.value << '\n';
      return;
    }
    out << '{';
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const auto& e = entries_[i];
      out << (i ? ", " : "") << JsonString(e.key) << ": "
          << (e.literal ? e.value : JsonString(e.value));
    }
    out << "}\n";
  }

 private:
  struct Entry {
    std::string key;
    std::string value;
    bool literal;
  };
  std::vector<Entry> entries_;
};

int RunInfo(const UpdaterEnvironment& environment, const CliOptions& options, std::ostream& out,
            std::ostream& err) {
  CameraUpdater updater(environment);
  if (updater.Open(AnyFamily) != 0) {
    err << "torvane-cli: no camera found\n";
    return kExitFailure;
  }
  const ControlChannel& channel = *updater.engine.channel;
  Report report;
  report.Add("binding", BindingName(channel));
  report.Add("chip-id", Hex(ReadChipId(*updater.engine.channel)));
  report.Add("family", FamilyName(channel.chipFamily));

  FlashTypeCode code = 0;
  updater.DetectFlashType(&code);
  const auto kind = FlashKindForCode(code);
  report.Add("flash-code", Hex(code));
  report.Add("flash-kind", kind ? std::to_string(*kind) : "none", kind.has_value());

  std::vector<std::uint8_t> block(UpdateProcedure::kFlashBufferSize, 0);
  const bool blockRead = updater.ReadFirstBlock(block.data(), block.size(), 0, kind.value_or(0)) == 0;
  std::uint32_t version = 0;
  const bool versionRead = updater.ReadFirmwareVersion(&version) == 0;
  report.Add("flash-byte0", blockRead ? Hex(block[0]) : "unreadable");
  report.Add("version", versionRead ? Hex(version) : "unreadable");
  report.Add("code-version", versionRead ? Hex(version >> 8) : "unreadable");
  const bool qualifies = blockRead && versionRead && QualifiesForUpdate(block[0], version >> 8);
  report.Add("qualifies", options.json ? (qualifies ? "true" : "false") : (qualifies ? "yes" : "no"),
             true);
  report.Write(out, options.json);
  if (!blockRead || !versionRead) {
    err << "torvane-cli: the flash could not be read\n";
    return kExitFailure;
  }
  return kExitSuccess;
}

int RunList(DeviceEnvironment& devices, RequestObserver* observer, const CliOptions& options,
            std::ostream& out) {
  const auto list = ListDevices(devices, observer);
  if (options.json) out << '[';
  for (std::size_t i = 0; i < list.size(); ++i) {
    const DeviceSummary& d = list[i];
    std::string offers;
    if (d.bindFailed) {
      offers = "bind-failed";
    } else if (d.extensionUnit && d.tunnel) {
      offers = "both";
    } else if (d.extensionUnit) {
      offers = d.propertySetB ? "xu-b" : "xu";
    } else if (d.tunnel) {
      offers = "tunnel";
    } else {
      offers = "none";
    }
    // 0xFF is what a failed chip-ID read leaves.
    const bool readable = (d.extensionUnit || d.tunnel) && d.chipId != 0xFF;
    const std::string family = d.family ? FamilyName(*d.family) : "none";
    if (options.json) {
      out << (i ? ", " : "") << "{\"index\": " << i + 1 << ", \"name\": " << JsonString(d.name)
          << ", \"offers\": " << JsonString(offers);
      if (readable) {
        out << ", \"chip-id\": " << JsonString(Hex(d.chipId))
            << ", \"family\": " << JsonString(family);
      }
      out << '}';
    } else {
      out << i + 1 << ": " << d.name << "  offers: " << offers;
      if (readable) out << "  chip-id: " << Hex(d.chipId) << "  family: " << family;
      out << '\n';
    }
  }
  if (options.json) out << "]\n";
  if (list.empty() && !options.json) out << "no video capture devices\n";
  return kExitSuccess;
}

}  // namespace

std::string CliUsage() {
  return std::string(
             "usage: torvane-cli [OPTIONS] COMMAND [OPTIONS]\n"
             "\n"
             "Commands:\n"
             "  update   find the camera and update its firmware when it takes the update\n"
             "  info     read the camera's chip, flash and firmware version; writes nothing\n"
             "  list     list every video capture device and what it offers\n"
             "\n"
             "Options (before or after the command):\n"
             "  --simulate[=SPEC]  use an emulated camera instead of the system's devices;\n"
             "                     repeat to add more devices, in order\n"
             "  --trace FILE       write every control request to FILE\n"
             "  --settings DIR     read setting.ini from DIR instead of the program's directory\n"
             "  --json             info and list: print JSON\n"
             "  --help             show this text\n"
             "  --version          show the version\n"
             "\n") +
         SimulateSpecHelp() +
         "\n"
         "Exit status: 0 updated (or info/list done), 2 finished without an update,\n"
         "1 failure, 64 usage error.\n";
}

bool ParseCliArguments(const std::vector<std::string>& args, CliOptions* options,
                       std::string* error, bool requireCommand) {
  *options = CliOptions{};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto valueOf = [&](const std::string& name, std::string* value) {
      if (arg.size() > name.size() && arg.compare(0, name.size() + 1, name + "=") == 0) {
        *value = arg.substr(name.size() + 1);
        return true;
      }
      // An option in the value's place means the value is missing.
      if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) return false;
      *value = args[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--version" || arg == "-V") {
      options->version = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--simulate") {
      options->simulateGiven = true;
      options->simulate.emplace_back();
    } else if (arg.rfind("--simulate=", 0) == 0) {
      options->simulateGiven = true;
      options->simulate.push_back(arg.substr(11));
    } else if (arg == "--trace" || arg.rfind("--trace=", 0) == 0) {
      if (!valueOf("--trace", &options->traceFile) || options->traceFile.empty()) {
        *error = "--trace needs a file name";
        return false;
      }
    } else if (arg == "--settings" || arg.rfind("--settings=", 0) == 0) {
      if (!valueOf("--settings", &options->settingsDir) || options->settingsDir.empty()) {
        *error = "--settings needs a directory";
        return false;
      }
    } else if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option '" + arg + "'";
      return false;
    } else if (options->command.empty() && requireCommand) {
      if (arg != "update" && arg != "info" && arg != "list") {
        *error = "unknown command '" + arg + "'";
        return false;
      }
      options->command = arg;
    } else {
      *error = "unexpected argument '" + arg + "'";
      return false;
    }
  }
  if (requireCommand && options->command.empty() && !options->help && !options->version) {
    *error = "no command given";
    return false;
  }
  return true;
}

SessionOptions SessionOptionsFor(const CliOptions& options, const std::string& programName,
                                 const std::string& description, Sleeper* sleeper) {
  SessionOptions session;
  session.simulate = options.simulate;
  session.simulateGiven = options.simulateGiven;
  session.traceFile = options.traceFile;
  session.settingsDir = options.settingsDir;
  session.programName = programName;
  session.description = description;
  session.sleeper = sleeper;
  return session;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool outIsTerminal, Sleeper* sleeper) {
  CliOptions options;
  std::string error;
  if (!ParseCliArguments(args, &options, &error)) {
    err << "torvane-cli: " << error << "\n" << "Try 'torvane-cli --help'.\n";
    return kExitUsage;
  }
  if (options.help) {
    out << CliUsage();
    return kExitSuccess;
  }
  if (options.version) {
    out << kVersionText << '\n';
    return kExitSuccess;
  }

  const SessionOptions sessionOptions =
      SessionOptionsFor(options, kVersionText, "command: " + options.command, sleeper);
  bool usageError = false;
  std::unique_ptr<AppSession> session = AppSession::Create(sessionOptions, &error, &usageError);
  if (!session) {
    err << "torvane-cli: " << error << "\n";
    return usageError ? kExitUsage : kExitFailure;
  }
  const UpdaterEnvironment& environment = session->environment();
  TraceWriter* trace = session->trace();

  int status = kExitFailure;
  if (options.command == "update") {
    FirmwareImage image;
    CliView view(out, outIsTerminal);
    UpdateProcedure procedure(view, environment, image);
    procedure.OnBnClickedUpdate();
    view.EndBar();
    status = ExitStatusFor(procedure.lastOutcome());
    if (trace) trace->Comment(std::string("outcome: ") + OutcomeName(procedure.lastOutcome()));
  } else if (options.command == "info") {
    status = RunInfo(environment, options, out, err);
  } else {
    status = RunList(session->devices(), trace, options, out);
  }

  if (!session->Finish(&error)) {
    err << "torvane-cli: " << error << "\n";
    if (status == kExitSuccess) status = kExitFailure;
  }
  return status;
}

}  // namespace torvane
