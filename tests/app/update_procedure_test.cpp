#include "app/update_procedure.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "app/simulation.h"
#include "channel/selectors.h"
#include "emulator/device_environment.h"
#include "programming/firmware_image.h"
#include "support/recording_sleeper.h"
#include "support/recording_view.h"
#include "support/scripted_camera.h"

namespace torvane {
namespace {

// Every request the updater makes, in order.
class RequestLog final : public RequestObserver {
 public:
  struct Entry {
    RequestOp op;
    std::uint32_t selector;
    HRESULT status;
  };
  void OnRequest(const RequestRecord& record) override {
    entries.push_back({record.op, record.selector, record.status});
  }
  // 1-based, as the fault plan counts requests; 0 when there is none.
  std::uint32_t FirstIndexOf(RequestOp op, std::uint32_t selector) const {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].op == op && entries[i].selector == selector) {
        return static_cast<std::uint32_t>(i + 1);
      }
    }
    return 0;
  }
  std::vector<Entry> entries;
};

std::vector<SimulatedDeviceSpec> Specs(const std::vector<std::string>& texts) {
  std::vector<SimulatedDeviceSpec> specs;
  for (const std::string& text : texts) {
    SimulatedDeviceSpec spec;
    std::string error;
    EXPECT_TRUE(ParseSimulateSpec(text, &spec, &error)) << text << ": " << error;
    specs.push_back(spec);
  }
  return specs;
}

UpdaterEnvironment EnvironmentOf(DeviceEnvironment& devices, const SettingsSource& settings,
                                 Sleeper& sleeper, RequestObserver& observer) {
  UpdaterEnvironment environment;
  environment.devices = &devices;
  environment.settings = &settings;
  environment.sleeper = &sleeper;
  environment.observer = &observer;
  return environment;
}

// A dialog's procedure over emulated devices that do not wait.
struct Rig {
  explicit Rig(const std::vector<std::string>& specs,
               std::optional<FirmwareImage> firmware = std::nullopt)
      : simulation(Specs(specs)), image(firmware.value_or(FirmwareImage())) {}

  emulator::EmulatedCamera& camera() { return simulation.camera(0); }
  std::vector<std::uint8_t> Flash() {
    return std::vector<std::uint8_t>(camera().flash().begin(), camera().flash().end());
  }

  Simulation simulation;
  fakes::ScriptedSettings settings;
  RecordingSleeper sleeper;
  RequestLog requests;
  fakes::RecordingView view;
  FirmwareImage image;
  UpdaterEnvironment environment =
      EnvironmentOf(simulation.devices(), settings, sleeper, requests);
  UpdateProcedure procedure{view, environment, image};
};

// The 1-based index of the first request of a kind in a clean run over spec.
std::uint32_t RequestIndex(const std::string& spec, RequestOp op, std::uint32_t selector) {
  Rig probe({spec});
  probe.procedure.OnBnClickedUpdate();
  EXPECT_EQ(probe.procedure.lastOutcome(), UpdateOutcome::Completed);
  const std::uint32_t index = probe.requests.FirstIndexOf(op, selector);
  EXPECT_NE(index, 0u);
  return index;
}

FirmwareImage ImageWithHeader(std::uint8_t low, std::uint8_t high) {
  std::vector<std::uint8_t> bytes(EmbeddedFirmware().begin(), EmbeddedFirmware().end());
  bytes[0x678E] = low;
  bytes[0x678F] = high;
  return FirmwareImage(bytes);
}

const std::string kPrepare = "status:Prepare information...\r\n";
const std::string kFound = "status:Zanfor Webcam is found.\r\n";

TEST(UpdateProcedure, InitialisationShowsTheWelcomeText) {
  Rig rig({""});
  rig.procedure.OnInitDialog();
  EXPECT_EQ(rig.view.calls,
            (std::vector<std::string>{
                "status:Please connect your Zanfor QV-5830 webcam to the system and press the "
                "\"Update\" button below.\r\n"}));
  EXPECT_EQ(rig.procedure.m_strStatus, rig.view.status);
  EXPECT_EQ(rig.procedure.m_bDone, 0);
  EXPECT_TRUE(rig.requests.entries.empty());
}

enum class Fault { None, UnplugAfterFirstBlock, FailFirstDownloadBlock };

struct OutcomeCase {
  const char* name;
  std::string spec;
  Fault fault;
  std::optional<FirmwareImage> image;
  UpdateOutcome outcome;
  std::vector<std::string> calls;
  bool done;
  bool downloaded;  // the camera's flash was written
};

TEST(UpdateProcedure, EachOutcomeShowsItsTextsProgressAndButtonInOrder) {
  const std::vector<OutcomeCase> cases = {
      {"completed", "", Fault::None, std::nullopt, UpdateOutcome::Completed,
       {kPrepare, "repaint", kFound, "repaint", "range:0-100", "progress:10", "enable:0",
        "status:Downloading ...", "repaint", "progress:50", "enable:1", "progress:100",
        "caption:Done", "status:Update completed,please reboot your system.\r\n"},
       true, true},
      {"no camera", "binding=none", Fault::None, std::nullopt, UpdateOutcome::NoCamera,
       {kPrepare, "repaint", "status:Please plug in Zanfor 5830 webcam(2).\r\n"}, false, false},
      {"first block unreadable", "readblock=0", Fault::None, std::nullopt,
       UpdateOutcome::FirstBlockFailed,
       {kPrepare, "repaint", kFound, "repaint",
        "status:upload flash error, please plug usb again!"},
       false, false},
      {"version unreadable", "", Fault::UnplugAfterFirstBlock, std::nullopt,
       UpdateOutcome::VersionFailed,
       {kPrepare, "repaint", kFound, "repaint", "status:Get flash version err, plug again!"}, false,
       false},
      {"not qualified", "byte0=0x89,version=0x13201", Fault::None, std::nullopt,
       UpdateOutcome::NotQualified,
       {kPrepare, "repaint", kFound, "repaint", "range:0-100", "progress:10", "progress:0",
        "status:FlashCode is v132, finished.\r\n", "caption:Done"},
       true, false},
      {"wrong header version", "", Fault::None, ImageWithHeader(0x31, 0x01),
       UpdateOutcome::HeaderMismatch,
       {kPrepare, "repaint", kFound, "repaint", "range:0-100", "progress:10",
        "status:HeaderFile isn't V132, finished!\r\n", "progress:0", "caption:Done"},
       true, false},
      {"download failed", "", Fault::FailFirstDownloadBlock, std::nullopt,
       UpdateOutcome::DownloadFailed,
       {kPrepare, "repaint", kFound, "repaint", "range:0-100", "progress:10", "enable:0",
        "status:Downloading ...", "repaint", "progress:50", "enable:1", "progress:0",
        "status:Upgrade failed\r\n"},
       false, true},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string spec = c.spec;
    if (c.fault != Fault::None && !spec.empty()) spec += ',';
    if (c.fault == Fault::UnplugAfterFirstBlock) {
      spec += "unplug=" +
              std::to_string(RequestIndex("", RequestOp::Get, SEL_FLASH_DATA) + 1);
    } else if (c.fault == Fault::FailFirstDownloadBlock) {
      spec += "fail=" + std::to_string(RequestIndex("", RequestOp::Set, SEL_DOWNLOAD_BLOCK));
    }
    Rig rig({spec}, c.image);
    const std::vector<std::uint8_t> before = rig.Flash();
    rig.procedure.OnBnClickedUpdate();

    EXPECT_EQ(rig.procedure.lastOutcome(), c.outcome);
    EXPECT_EQ(rig.view.calls, c.calls);
    EXPECT_EQ(rig.procedure.m_strStatus, rig.view.status);
    EXPECT_EQ(rig.procedure.m_bDone, c.done ? 1 : 0);
    EXPECT_EQ(rig.view.caption, c.done ? "Done" : "Update");
    EXPECT_TRUE(rig.view.enabled);
    const bool failed = !c.done;
    EXPECT_EQ(rig.procedure.m_nLastResult != 0, failed) << rig.procedure.m_nLastResult;
    EXPECT_NE(rig.procedure.m_pUpdater, nullptr);
    EXPECT_EQ(ExitStatusFor(c.outcome),
              c.outcome == UpdateOutcome::Completed ? kExitSuccess
              : c.done                              ? kExitFinished
                                                    : kExitFailure);
    if (!c.downloaded) {
      EXPECT_EQ(rig.Flash(), before) << "the camera was written";
      EXPECT_EQ(rig.requests.FirstIndexOf(RequestOp::Set, SEL_DOWNLOAD_MODE), 0u);
      EXPECT_TRUE(rig.sleeper.waits.empty());
    }
  }
}

struct DecisionCase {
  const char* spec;
  bool qualifies;
  const char* shown;  // the code version as the message shows it
};

TEST(UpdateProcedure, QualifiesByFlashByteZeroAndTheWholeCodeVersion) {
  const DecisionCase cases[] = {
      // Ax versions are (word at 0x678E) x 256 + byte at 0x6040.
      {"byte0=0x89,version=0x12801", true, nullptr},
      {"byte0=0x89,version=0x13201", false, "v132"},
      {"byte0=0x89,version=0x12901", false, "v129"},
      {"byte0=0x55,version=0x12800", true, nullptr},
      {"byte0=0x55,version=0x132ff", true, nullptr},
      {"byte0=0x00,version=0x13201", true, nullptr},
      {"byte0=0xf9,version=0x13201", true, nullptr},  // pending marker of a failed download
      {"byte0=0x88,version=0x12801", true, nullptr},
      {"byte0=0x55,version=0x12901", false, "v129"},
      {"byte0=0x55,version=0x12a01", false, "v12a"},
      {"byte0=0x55,version=0x13101", false, "v131"},
      {"byte0=0x55,version=0x10001", false, "v100"},
      {"byte0=0x55,version=0x112801", false, "v1128"},  // not just the low byte of the word
      {"byte0=0x55,version=0x0", false, "v0"},
      {"chip=0x85,byte0=0x55,version=0x12800", true, nullptr},
      {"chip=0x85,byte0=0x89,version=0x12800", true, nullptr},
      {"chip=0x85,byte0=0x89,version=0x13200", false, "v132"},
      {"chip=0x85,byte0=0x55,version=0x1320", false, "v13"},
      // 6x and 9x versions have 16 bits: the code version never reaches 0x128.
      {"chip=0x63", false, "v90"},
      {"chip=0x63,version=0x9001", false, "v90"},
      {"chip=0x93,byte0=0x89,version=0x9132", false, "v91"},
      {"chip=0x60,version=0xffff", false, "vff"},
  };
  for (const DecisionCase& c : cases) {
    SCOPED_TRACE(c.spec);
    Rig rig({c.spec});
    rig.procedure.OnBnClickedUpdate();
    if (c.qualifies) {
      EXPECT_EQ(rig.procedure.lastOutcome(), UpdateOutcome::Completed);
      EXPECT_EQ(rig.view.status, texts::kCompleted);
    } else {
      EXPECT_EQ(rig.procedure.lastOutcome(), UpdateOutcome::NotQualified);
      EXPECT_EQ(rig.view.status, std::string("FlashCode is ") + c.shown + ", finished.\r\n");
      EXPECT_EQ(rig.view.progress, 0);
      EXPECT_EQ(rig.view.caption, "Done");
    }
  }
}

TEST(UpdateProcedure, OnlyHeaderVersion0132IsDownloaded) {
  struct Case {
    std::uint8_t low;
    std::uint8_t high;
    bool downloads;
  };
  const Case cases[] = {
      {0x32, 0x01, true}, {0x31, 0x01, false}, {0x32, 0x02, false},
      {0x01, 0x32, false}, {0x32, 0x00, false}, {0x00, 0x00, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.high) << ' ' << int(c.low));
    Rig rig({""}, ImageWithHeader(c.low, c.high));
    rig.procedure.OnBnClickedUpdate();
    EXPECT_EQ(rig.procedure.lastOutcome(),
              c.downloads ? UpdateOutcome::Completed : UpdateOutcome::HeaderMismatch);
    if (!c.downloads) {
      EXPECT_EQ(rig.view.status, "HeaderFile isn't V132, finished!\r\n");
      EXPECT_EQ(rig.view.progress, 0);
      EXPECT_EQ(rig.procedure.m_bDone, 1);
    }
  }
}

// Devices that can be swapped between presses: a camera plugged in later.
class SwitchableDevices final : public DeviceEnvironment {
 public:
  explicit SwitchableDevices(DeviceEnvironment* initial) : current(initial) {}
  HRESULT CoInitialize() override { return current->CoInitialize(); }
  HRESULT CreateSystemDeviceEnum(Ref<ICreateDevEnum>* out) override {
    return current->CreateSystemDeviceEnum(out);
  }
  DeviceEnvironment* current;
};

TEST(UpdateProcedure, APressAfterPluggingTheCameraInRunsAFreshAttempt) {
  emulator::EmulatedDeviceEnvironment nothing({});
  Simulation plugged(Specs({""}));
  SwitchableDevices devices(&nothing);
  fakes::ScriptedSettings settings;
  RecordingSleeper sleeper;
  RequestLog requests;
  fakes::RecordingView view;
  FirmwareImage image;
  const UpdaterEnvironment environment = EnvironmentOf(devices, settings, sleeper, requests);
  UpdateProcedure procedure(view, environment, image);

  procedure.OnBnClickedUpdate();
  EXPECT_EQ(procedure.lastOutcome(), UpdateOutcome::NoCamera);
  EXPECT_EQ(view.status, "Please plug in Zanfor 5830 webcam(2).\r\n");
  EXPECT_EQ(view.progress, -1) << "the progress bar is untouched";
  EXPECT_EQ(view.caption, "Update");
  EXPECT_EQ(procedure.m_bDone, 0);
  const CameraUpdater* first = procedure.m_pUpdater.get();
  ASSERT_NE(first, nullptr);

  devices.current = &plugged.devices();
  view.calls.clear();
  procedure.OnBnClickedUpdate();
  EXPECT_EQ(procedure.lastOutcome(), UpdateOutcome::Completed);
  EXPECT_NE(procedure.m_pUpdater.get(), first) << "each attempt gets a new CameraUpdater";
  EXPECT_EQ(view.calls.front(), kPrepare);
  EXPECT_EQ(view.status, texts::kCompleted);
  EXPECT_EQ(view.progress, 100);
  EXPECT_EQ(view.caption, "Done");
  EXPECT_EQ(procedure.m_bDone, 1);
}

TEST(UpdateProcedure, APressWhenDoneOnlyCloses) {
  for (const char* spec : {"", "byte0=0x89,version=0x13201"}) {
    SCOPED_TRACE(spec);
    Rig rig({spec});
    rig.procedure.OnBnClickedUpdate();
    ASSERT_EQ(rig.procedure.m_bDone, 1);
    const std::vector<std::string> callsBefore = rig.view.calls;
    const std::string statusBefore = rig.procedure.m_strStatus;
    const std::size_t requestsBefore = rig.requests.entries.size();
    const std::vector<std::uint8_t> flashBefore = rig.Flash();
    const CameraUpdater* updater = rig.procedure.m_pUpdater.get();

    rig.procedure.OnBnClickedUpdate();
    std::vector<std::string> expected = callsBefore;
    expected.push_back("close");
    EXPECT_EQ(rig.view.calls, expected);
    EXPECT_EQ(rig.procedure.lastOutcome(), UpdateOutcome::Closed);
    EXPECT_EQ(rig.procedure.m_strStatus, statusBefore);
    EXPECT_EQ(rig.requests.entries.size(), requestsBefore) << "the camera was touched";
    EXPECT_EQ(rig.Flash(), flashBefore);
    EXPECT_EQ(rig.procedure.m_pUpdater.get(), updater);
  }
}

TEST(UpdateProcedure, AnUnidentifiedFlashGoesOnWithKindZero) {
  Rig rig({"part=0x78"});
  rig.procedure.OnBnClickedUpdate();
  EXPECT_EQ(rig.procedure.lastOutcome(), UpdateOutcome::Completed);
  EXPECT_EQ(rig.view.status, texts::kCompleted);
  const std::uint32_t offset = FlashTypeOffsetFor(FamilyAx).value();
  EXPECT_EQ(rig.camera().flash()[offset], FlashTypeByteFor(0));
  EXPECT_EQ(rig.image.data()[offset], FlashTypeByteFor(0));
}

TEST(UpdateProcedure, AfterAFailedDownloadTheNextPressSucceeds) {
  for (const char* family : {"chip=0xa3", "chip=0x85"}) {
    SCOPED_TRACE(family);
    const std::uint32_t failAt = RequestIndex(family, RequestOp::Set, SEL_DOWNLOAD_BLOCK);
    ASSERT_NE(failAt, 0u);
    Rig rig({std::string(family) + ",fail=" + std::to_string(failAt)});

    rig.procedure.OnBnClickedUpdate();
    EXPECT_EQ(rig.procedure.lastOutcome(), UpdateOutcome::DownloadFailed);
    EXPECT_EQ(rig.view.status, "Upgrade failed\r\n");
    EXPECT_EQ(rig.view.progress, 0);
    EXPECT_TRUE(rig.view.enabled);
    EXPECT_EQ(rig.view.caption, "Update");
    EXPECT_EQ(rig.procedure.m_bDone, 0);
    EXPECT_NE(rig.procedure.m_nLastResult, 0);

    rig.procedure.OnBnClickedUpdate();
    EXPECT_EQ(rig.procedure.lastOutcome(), UpdateOutcome::Completed);
    EXPECT_EQ(rig.view.status, texts::kCompleted);
    EXPECT_EQ(rig.view.progress, 100);
    EXPECT_EQ(rig.view.caption, "Done");
    EXPECT_EQ(rig.procedure.m_bDone, 1);
    EXPECT_EQ(rig.procedure.m_nLastResult, 0);
  }
}

}  // namespace
}  // namespace torvane
