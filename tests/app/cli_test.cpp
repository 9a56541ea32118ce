#include "app/cli.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "emulator/emulated_camera.h"
#include "flash/flash_identification.h"
#include "programming/firmware_image.h"
#include "support/recording_sleeper.h"
#include "support/scratch_directory.h"

namespace torvane {
namespace {

using fakes::ScratchDirectory;
using Args = std::vector<std::string>;

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

CliRun RunCommand(const Args& args, bool terminal = false) {
  std::ostringstream out;
  std::ostringstream err;
  RecordingSleeper sleeper;  // downloads do not wait
  const int status = RunCli(args, out, err, terminal, &sleeper);
  return {status, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

// One request line of a trace file.
struct TracedRequest {
  std::string op;
  std::uint32_t selector;
  std::string length;  // decimal or "-"
  std::string data;    // lower-case hex or "-"
  std::string status;  // 0x%08x
};

struct Trace {
  std::vector<std::string> comments;
  std::vector<TracedRequest> requests;
  // Request and wait lines in order: "R<index>" or "SLEEP <ms>".
  std::vector<std::string> events;
};

// Reads a trace file; every line must be a comment, a request or a wait.
Trace ReadTrace(const std::filesystem::path& path) {
  static const std::regex kRequest(
      "^(SET|GET|LEN) ([0-9]+) ([0-9]+|-) ([0-9a-f]+|-) (0x[0-9a-f]{8})$");
  static const std::regex kSleep("^SLEEP ([0-9]+)$");
  Trace trace;
  for (const std::string& line : Lines(ReadFile(path))) {
    std::smatch m;
    if (!line.empty() && line[0] == '#') {
      trace.comments.push_back(line);
    } else if (std::regex_match(line, m, kRequest)) {
      TracedRequest request{m[1], static_cast<std::uint32_t>(std::stoul(m[2])), m[3], m[4], m[5]};
      if (request.op == "LEN") {
        EXPECT_EQ(request.data, "-") << line;
      } else {
        if (request.length == "-") {
          ADD_FAILURE() << "SET and GET carry a length: " << line.substr(0, 40);
        } else if (request.data != "-") {
          EXPECT_EQ(request.data.size(), 2 * std::stoul(request.length)) << line.substr(0, 40);
        }
      }
      trace.events.push_back("R" + std::to_string(trace.requests.size()));
      trace.requests.push_back(request);
    } else if (std::regex_match(line, m, kSleep)) {
      trace.events.push_back(line);
    } else {
      ADD_FAILURE() << "not a trace line: " << line.substr(0, 80);
    }
  }
  return trace;
}

// 1-based index of the first request with op and selector; 0 when none.
std::uint32_t FirstIndexOf(const Trace& trace, const std::string& op, std::uint32_t selector) {
  for (std::size_t i = 0; i < trace.requests.size(); ++i) {
    if (trace.requests[i].op == op && trace.requests[i].selector == selector) {
      return static_cast<std::uint32_t>(i + 1);
    }
  }
  return 0;
}

// The trace of a clean update over spec.
Trace CleanUpdateTrace(const std::string& spec) {
  ScratchDirectory directory;
  const auto file = directory.Path() / "trace.txt";
  const CliRun run = RunCommand({"update", "--simulate=" + spec, "--trace", file.string()});
  EXPECT_EQ(run.status, kExitSuccess) << run.out << run.err;
  return ReadTrace(file);
}

// "key: value" lines, or one flat JSON object of strings, numbers and
// literals, as ordered pairs.
using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs KeyValueLines(const std::string& text) {
  Pairs pairs;
  for (const std::string& line : Lines(text)) {
    const auto colon = line.find(": ");
    if (colon == std::string::npos) {
      ADD_FAILURE() << "not key: value: " << line;
      continue;
    }
    pairs.emplace_back(line.substr(0, colon), line.substr(colon + 2));
  }
  return pairs;
}

Pairs JsonObject(const std::string& text) {
  static const std::regex kMember(R"re(\s*"([^"\\]*)"\s*:\s*("([^"\\]*)"|[-0-9a-z]+)\s*(,|\}))re");
  Pairs pairs;
  const auto open = text.find('{');
  if (open == std::string::npos) {
    ADD_FAILURE() << "no JSON object: " << text;
    return pairs;
  }
  std::string rest = text.substr(open + 1);
  std::smatch m;
  while (std::regex_search(rest, m, kMember, std::regex_constants::match_continuous)) {
    pairs.emplace_back(m[1], m[3].matched ? m[3].str() : m[2].str());
    const bool last = m[4] == "}";
    rest = m.suffix();
    if (last) {
      EXPECT_EQ(rest, "\n");
      return pairs;
    }
  }
  ADD_FAILURE() << "malformed JSON object: " << text;
  return pairs;
}

const char* const kPrepare = "Prepare information...";
const char* const kFound = "Zanfor Webcam is found.";

TEST(Cli, EachOutcomePrintsItsLinesAndExitStatus) {
  const Trace clean = CleanUpdateTrace("");
  const std::uint32_t firstBlockRead = FirstIndexOf(clean, "GET", 15);
  const std::uint32_t firstDownloadBlock = FirstIndexOf(clean, "SET", 10);
  ASSERT_NE(firstBlockRead, 0u);
  ASSERT_NE(firstDownloadBlock, 0u);

  struct Case {
    std::string spec;
    int status;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", 0,
       {kPrepare, kFound, "progress: 10%", "Downloading ...", "progress: 50%", "progress: 100%",
        "Update completed,please reboot your system."}},
      {"chip=0x63", 2,
       {kPrepare, kFound, "progress: 10%", "progress: 0%", "FlashCode is v90, finished."}},
      {"byte0=0x89,version=0x13201", 2,
       {kPrepare, kFound, "progress: 10%", "progress: 0%", "FlashCode is v132, finished."}},
      {"binding=none", 1, {kPrepare, "Please plug in Zanfor 5830 webcam(2)."}},
      {"chip=0x12", 1, {kPrepare, "Please plug in Zanfor 5830 webcam(2)."}},
      {"readblock=0", 1, {kPrepare, kFound, "upload flash error, please plug usb again!"}},
      {"unplug=" + std::to_string(firstBlockRead + 1), 1,
       {kPrepare, kFound, "Get flash version err, plug again!"}},
      {"fail=" + std::to_string(firstDownloadBlock), 1,
       {kPrepare, kFound, "progress: 10%", "Downloading ...", "progress: 50%", "progress: 0%",
        "Upgrade failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    const CliRun run = RunCommand({"update", "--simulate=" + c.spec});
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(Lines(run.out), c.lines);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_EQ(run.err, "");
  }
}

TEST(Cli, OnATerminalProgressIsABarAndStatusesKeepTheirLines) {
  const CliRun run = RunCommand({"update", "--simulate"}, true);
  EXPECT_EQ(run.status, kExitSuccess);
  EXPECT_EQ(run.out.find("progress:"), std::string::npos);
  EXPECT_NE(run.out.find("\r["), std::string::npos);
  EXPECT_NE(run.out.find("] 100%\n"), std::string::npos);
  for (const char* status : {kPrepare, kFound, "Downloading ...",
                             "Update completed,please reboot your system."}) {
    const auto at = run.out.find(status);
    ASSERT_NE(at, std::string::npos) << status;
    EXPECT_TRUE(at == 0 || run.out[at - 1] == '\n') << status;
    EXPECT_EQ(run.out[at + std::string(status).size()], '\n') << status;
  }
}

TEST(Cli, UsageErrorsNameTheCulpritAndExit64) {
  ScratchDirectory directory;
  const std::string trace = (directory.Path() / "trace.txt").string();
  struct Case {
    Args args;
    const char* culprit;
  };
  const Case cases[] = {
      {{}, "no command"},
      {{"frob"}, "'frob'"},
      {{"--simulate", "frob"}, "'frob'"},
      {{"update", "--frob"}, "'--frob'"},
      {{"--frob", "update"}, "'--frob'"},
      {{"update", "info"}, "'info'"},
      {{"--json"}, "no command"},
      {{"update", "--trace"}, "--trace"},
      {{"update", "--trace="}, "--trace"},
      {{"update", "--trace", "--simulate"}, "--trace"},
      {{"update", "--settings"}, "--settings"},
      {{"update", "--simulate=colour=red"}, "'colour'"},
      {{"--simulate=part=0x82", "info"}, "'0x82'"},
      {{"list", "--simulate=binding=usb"}, "'usb'"},
      {{"update", "--simulate", "--simulate=fail=0"}, "'fail'"},
      {{"update", "--trace", trace, "--simulate=chip=0x1ff"}, "'0x1ff'"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) joined += arg + ' ';
    SCOPED_TRACE(joined);
    const CliRun run = RunCommand(c.args);
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_NE(run.err.find(c.culprit), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(trace)) << "a usage error touches no file";
}

TEST(Cli, OptionsMeanTheSameBeforeAndAfterTheCommand) {
  ScratchDirectory directory;
  const std::string spec = "--simulate=chip=0x85,part=0x7c";
  const auto t1 = directory.Path() / "1.txt";
  const auto t2 = directory.Path() / "2.txt";
  const auto t3 = directory.Path() / "3.txt";
  const CliRun after = RunCommand({"update", spec, "--trace", t1.string()});
  const CliRun before = RunCommand({"--trace", t2.string(), spec, "update"});
  const CliRun around = RunCommand({spec, "update", "--trace=" + t3.string()});
  EXPECT_EQ(after.status, kExitSuccess);
  for (const CliRun* run : {&before, &around}) {
    EXPECT_EQ(run->status, after.status);
    EXPECT_EQ(run->out, after.out);
    EXPECT_EQ(run->err, after.err);
  }
  EXPECT_FALSE(ReadFile(t1).empty());
  EXPECT_EQ(ReadFile(t2), ReadFile(t1));
  EXPECT_EQ(ReadFile(t3), ReadFile(t1));

  const CliRun infoAfter = RunCommand({"info", "--json", "--simulate"});
  const CliRun infoBefore = RunCommand({"--json", "--simulate", "info"});
  EXPECT_EQ(infoAfter.status, kExitSuccess);
  EXPECT_EQ(infoBefore.out, infoAfter.out);
}

TEST(Cli, HelpAndVersionExitZeroWithoutTouchingDevices) {
  ScratchDirectory directory;
  const auto trace = directory.Path() / "trace.txt";
  const CliRun help = RunCommand({"update", "--help", "--simulate", "--trace", trace.string()});
  EXPECT_EQ(help.status, kExitSuccess);
  for (const char* word : {"update", "info", "list", "--simulate", "--trace", "--settings",
                           "--json", "--version", "chip=", "unplug="}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
  EXPECT_FALSE(std::filesystem::exists(trace));

  const CliRun version = RunCommand({"--version"});
  EXPECT_EQ(version.status, kExitSuccess);
  EXPECT_EQ(version.out.rfind("torvane-cli ", 0), 0u) << version.out;
  EXPECT_EQ(Lines(version.out).size(), 1u);
}

TEST(Cli, TheTraceListsEveryRequestWithTheBytesSent) {
  const Trace trace = CleanUpdateTrace("");
  ASSERT_FALSE(trace.comments.empty());
  ASSERT_FALSE(trace.requests.empty());
  for (const TracedRequest& r : trace.requests) EXPECT_EQ(r.status, "0x00000000");

  // The chip ID register (0x20FF) goes low byte first, its value comes back.
  bool chipRead = false;
  for (std::size_t i = 0; i + 1 < trace.requests.size() && !chipRead; ++i) {
    const TracedRequest& a = trace.requests[i];
    const TracedRequest& b = trace.requests[i + 1];
    chipRead = a.op == "SET" && a.selector == 2 && a.length == "2" && a.data == "ff20" &&
               b.op == "GET" && b.selector == 3 && b.length == "1" && b.data == "a3";
  }
  EXPECT_TRUE(chipRead);

  // The block size query and the first block as it was sent: the carried
  // image with the flash-type byte of the fitted part.
  const std::uint32_t firstLength = FirstIndexOf(trace, "LEN", 10);
  ASSERT_NE(firstLength, 0u);
  EXPECT_EQ(trace.requests[firstLength - 1].length, "4096");
  std::vector<std::uint8_t> image(EmbeddedFirmware().begin(), EmbeddedFirmware().end());
  image[*FlashTypeOffsetFor(FamilyAx)] = FlashTypeByteFor(FlashKindForCode(0x79).value());
  const std::uint32_t firstBlock = FirstIndexOf(trace, "SET", 10);
  ASSERT_NE(firstBlock, 0u);
  EXPECT_EQ(trace.requests[firstBlock - 1].length, "4096");
  EXPECT_EQ(trace.requests[firstBlock - 1].data,
            Hex(std::span<const std::uint8_t>(image).first(4096)));

  // One wait of a second, after the last block and before leaving download mode.
  std::size_t sleeps = 0;
  std::size_t lastBlockEvent = 0;
  std::size_t sleepEvent = 0;
  for (std::size_t e = 0; e < trace.events.size(); ++e) {
    if (trace.events[e] == "SLEEP 1000") {
      ++sleeps;
      sleepEvent = e;
    } else if (trace.events[e][0] == 'R') {
      const TracedRequest& r = trace.requests[std::stoul(trace.events[e].substr(1))];
      if (r.op == "SET" && r.selector == 10) lastBlockEvent = e;
    } else {
      ADD_FAILURE() << "unexpected wait " << trace.events[e];
    }
  }
  EXPECT_EQ(sleeps, 1u);
  EXPECT_GT(sleepEvent, lastBlockEvent);
}

TEST(Cli, AFaultShowsOnTheRequestLineItsNumberNames) {
  const Trace clean = CleanUpdateTrace("");
  const std::uint32_t lengthQuery = FirstIndexOf(clean, "LEN", 15);
  const std::uint32_t firstBlock = FirstIndexOf(clean, "SET", 10);
  ASSERT_NE(lengthQuery, 0u);
  ASSERT_NE(firstBlock, 0u);
  for (const std::string binding : {"xu", "tunnel"}) {
    for (std::uint32_t n : {1u, 2u, 3u, 10u, lengthQuery, firstBlock}) {
      SCOPED_TRACE(binding + " fail=" + std::to_string(n));
      ScratchDirectory directory;
      const auto file = directory.Path() / "trace.txt";
      RunCommand({"update", "--simulate=binding=" + binding + ",fail=" + std::to_string(n), "--trace",
           file.string()});
      const Trace trace = ReadTrace(file);
      ASSERT_GE(trace.requests.size(), n);
      for (std::uint32_t i = 1; i < n; ++i) {
        EXPECT_EQ(trace.requests[i - 1].status, "0x00000000") << "line " << i;
      }
      const TracedRequest& failed = trace.requests[n - 1];
      EXPECT_NE(failed.status, "0x00000000");
      EXPECT_EQ(failed.status[2], '8') << "a failure status: " << failed.status;
      if (binding == "xu" && failed.op == "LEN") {
        EXPECT_EQ(failed.length, "-");
      }
    }
  }
}

struct InfoCase {
  const char* spec;
  Pairs expected;  // an empty value is not compared
};

TEST(Cli, InfoReportsTheCameraInTextAndJson) {
  const std::string kind79 = std::to_string(FlashKindForCode(0x79).value());
  const InfoCase cases[] = {
      {"",
       {{"binding", "xu"}, {"chip-id", "0xa3"}, {"family", "Ax"}, {"flash-code", "0x79"},
        {"flash-kind", kind79}, {"flash-byte0", "0x89"}, {"version", "0x12801"},
        {"code-version", "0x128"}, {"qualifies", "yes"}}},
      {"chip=0x85,part=0x80,binding=tunnel",
       {{"binding", "tunnel"}, {"chip-id", "0x85"}, {"family", "8x"}, {"flash-code", "0x80"},
        {"flash-kind", "6"}, {"flash-byte0", "0x55"}, {"version", "0x12800"},
        {"code-version", "0x128"}, {"qualifies", "yes"}}},
      {"chip=0xa0,byte0=0x89,version=0x13201,binding=xu-b",
       {{"binding", "xu-b"}, {"chip-id", "0xa0"}, {"family", "Ax"}, {"flash-code", "0x79"},
        {"flash-kind", kind79}, {"flash-byte0", "0x89"}, {"version", "0x13201"},
        {"code-version", "0x132"}, {"qualifies", "no"}}},
      {"chip=0x93,part=0x78,binding=both",
       {{"binding", ""}, {"chip-id", "0x93"}, {"family", "9x"}, {"flash-code", "0x78"},
        {"flash-kind", "none"}, {"flash-byte0", ""}, {"version", "0x9001"},
        {"code-version", "0x90"}, {"qualifies", "no"}}},
  };
  for (const InfoCase& c : cases) {
    SCOPED_TRACE(c.spec);
    const CliRun text = RunCommand({"info", std::string("--simulate=") + c.spec});
    EXPECT_EQ(text.status, kExitSuccess) << text.err;
    const Pairs lines = KeyValueLines(text.out);
    ASSERT_EQ(lines.size(), c.expected.size()) << text.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].first, c.expected[i].first);
      if (!c.expected[i].second.empty()) {
        EXPECT_EQ(lines[i].second, c.expected[i].second);
      }
    }

    const CliRun json = RunCommand({"info", "--json", std::string("--simulate=") + c.spec});
    EXPECT_EQ(json.status, kExitSuccess) << json.err;
    const Pairs members = JsonObject(json.out);
    ASSERT_EQ(members.size(), lines.size()) << json.out;
    for (std::size_t i = 0; i < members.size(); ++i) {
      EXPECT_EQ(members[i].first, lines[i].first);
      std::string value = lines[i].second;
      if (value == "yes") value = "true";
      if (value == "no") value = "false";
      EXPECT_EQ(members[i].second, value) << members[i].first;
    }
    EXPECT_NE(json.out.find("\"flash-kind\": " +
                            (c.expected[4].second == "none" ? "\"none\"" : lines[4].second)),
              std::string::npos)
        << "a flash kind is a number";
  }
}

TEST(Cli, InfoWritesNothingToTheFlash) {
  ScratchDirectory directory;
  const auto image = directory.Path() / "flash.bin";
  const auto factory = emulator::FactoryFlash(0x85, 0x55, 0x12800);
  directory.WriteFile("flash.bin", std::string(factory.begin(), factory.end()));
  for (const char* spec : {"chip=0x85", "chip=0x85,part=0x80", "chip=0x85,binding=tunnel"}) {
    const CliRun run = RunCommand({"info", std::string("--simulate=") + spec + ",image=" + image.string()});
    EXPECT_EQ(run.status, kExitSuccess) << spec;
    EXPECT_EQ(ReadFile(image), std::string(factory.begin(), factory.end())) << spec;
  }

  const CliRun none = RunCommand({"info", "--simulate=binding=none"});
  EXPECT_EQ(none.status, kExitFailure);
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("no camera"), std::string::npos);
}

TEST(Cli, ListShowsEveryDeviceInOrder) {
  struct Device {
    const char* spec;
    const char* offers;
    const char* chip;    // null: none shown
    const char* family;
  };
  const Device devices[] = {
      {"", "xu", "0xa3", "Ax"},
      {"binding=none", "none", nullptr, nullptr},
      {"bind=fail", "bind-failed", nullptr, nullptr},
      {"chip=0x85,binding=tunnel", "tunnel", "0x85", "8x"},
      {"chip=0x63,binding=both", "both", "0x63", "6x"},
      {"chip=0x93,binding=xu-b", "xu-b", "0x93", "9x"},
      {"chip=0x12", "xu", "0x12", "none"},  // readable, but not one of our chips
  };
  Args args = {"list"};
  for (const Device& d : devices) args.push_back(std::string("--simulate=") + d.spec);
  const CliRun run = RunCommand(args);
  EXPECT_EQ(run.status, kExitSuccess) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), std::size(devices)) << run.out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Device& d = devices[i];
    SCOPED_TRACE(lines[i]);
    EXPECT_EQ(lines[i].rfind(std::to_string(i + 1) + ": Emulated camera " + std::to_string(i + 1),
                             0),
              0u);
    EXPECT_NE(lines[i].find(std::string("offers: ") + d.offers), std::string::npos);
    if (d.chip) {
      EXPECT_NE(lines[i].find(std::string("chip-id: ") + d.chip), std::string::npos);
      EXPECT_NE(lines[i].find(std::string("family: ") + d.family), std::string::npos);
    } else {
      EXPECT_EQ(lines[i].find("family:"), std::string::npos);
    }
  }

  args.push_back("--json");
  const CliRun json = RunCommand(args);
  EXPECT_EQ(json.status, kExitSuccess);
  EXPECT_EQ(json.out.front(), '[');
  std::size_t objects = 0;
  for (std::size_t at = json.out.find("\"index\""); at != std::string::npos;
       at = json.out.find("\"index\"", at + 1)) {
    ++objects;
  }
  EXPECT_EQ(objects, std::size(devices));
}

class CliSettings : public ::testing::Test {
 protected:
  void Write(const std::string& content) { directory.WriteFile("setting.ini", content); }
  std::string VersionOf(const std::string& spec) {
    const CliRun run = RunCommand({"info", "--simulate=" + spec, "--settings", directory.String()});
    EXPECT_EQ(run.status, kExitSuccess);
    for (const auto& [key, value] : KeyValueLines(run.out)) {
      if (key == "version") return value;
    }
    return "";
  }
  ScratchDirectory directory;
};

TEST_F(CliSettings, TheProjectCodeDecidesWhatA6xCameraReads) {
  Write("[SETTING]\nPROJ=ASDF\n");
  EXPECT_EQ(VersionOf("chip=0x63"), "0x9001");
  Write("[SETTING]\nPROJ=Other\n");
  EXPECT_NE(VersionOf("chip=0x63"), "0x9001");
  EXPECT_EQ(VersionOf("chip=0xa3"), "0x12801") << "Ax cameras take no project code";
}

TEST_F(CliSettings, Gpio1SetsBit1OfBothGpioRegistersBeforeTheDownload) {
  const auto file = directory.Path() / "trace.txt";
  for (const char* gpio : {"0", "1"}) {
    SCOPED_TRACE(gpio);
    Write(std::string("[SETTING]\nGPIO=") + gpio + "\n");
    const CliRun run =
        RunCommand({"update", "--simulate", "--settings", directory.String(), "--trace", file.string()});
    EXPECT_EQ(run.status, kExitSuccess);
    std::vector<std::string> lines;
    for (const std::string& line : Lines(ReadFile(file))) {
      if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    // Read-modify-write of a register: address, read, address, write.
    const auto setsBit1 = [&](const std::string& address, std::size_t at) {
      if (at + 4 > lines.size()) return false;
      static const std::regex kRead("^GET 3 1 ([0-9a-f]{2}) 0x00000000$");
      std::smatch m;
      if (lines[at] != "SET 2 2 " + address + " 0x00000000" ||
          !std::regex_match(lines[at + 1], m, kRead) ||
          lines[at + 2] != "SET 2 2 " + address + " 0x00000000") {
        return false;
      }
      char written[3];
      std::snprintf(written, sizeof written, "%02x", std::stoi(m[1], nullptr, 16) | 0x02);
      return lines[at + 3] == std::string("SET 3 1 ") + written + " 0x00000000";
    };
    std::optional<std::size_t> gpioA;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].rfind("SET 2 2 4120 ", 0) == 0 || lines[i].rfind("SET 2 2 4320 ", 0) == 0) {
        if (!gpioA) gpioA = i;
      }
    }
    if (std::string(gpio) == "0") {
      EXPECT_FALSE(gpioA.has_value()) << "no GPIO register is touched";
      continue;
    }
    ASSERT_TRUE(gpioA.has_value());
    EXPECT_TRUE(setsBit1("4120", *gpioA));  // REG_GPIO_A, 0x2041
    EXPECT_EQ(lines[*gpioA + 4], "SLEEP 50");
    EXPECT_TRUE(setsBit1("4320", *gpioA + 5));  // REG_GPIO_B, 0x2043
  }
}

TEST(Cli, AnImageFileThatCannotBeLoadedIsLeftAlone) {
  ScratchDirectory directory;
  const auto notes = directory.WriteFile("notes.txt", "precious notes\n");
  for (const char* command : {"info", "update"}) {
    const CliRun run = RunCommand({command, "--simulate=image=" + notes.string()});
    EXPECT_EQ(run.status, kExitFailure) << command;
    EXPECT_NE(run.err.find(notes.string()), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(notes), "precious notes\n") << command;
  }
}

TEST(Cli, FilesThatCannotBeWrittenAreFailuresNotUsageErrors) {
  ScratchDirectory directory;
  const auto nowhere = directory.Path() / "missing" / "file";
  const CliRun trace = RunCommand({"update", "--simulate", "--trace", nowhere.string()});
  EXPECT_EQ(trace.status, kExitFailure);
  EXPECT_NE(trace.err.find(nowhere.string()), std::string::npos) << trace.err;

  const CliRun image = RunCommand({"info", "--simulate=image=" + nowhere.string()});
  EXPECT_EQ(image.status, kExitFailure);
  EXPECT_NE(image.err.find(nowhere.string()), std::string::npos) << image.err;
}

}  // namespace
}  // namespace torvane
