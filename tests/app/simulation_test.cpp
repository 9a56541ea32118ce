#include "app/simulation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/scratch_directory.h"

namespace torvane {
namespace {

using emulator::BindingKind;
using fakes::ScratchDirectory;

SimulatedDeviceSpec Parse(const std::string& text) {
  SimulatedDeviceSpec spec;
  std::string error;
  EXPECT_TRUE(ParseSimulateSpec(text, &spec, &error)) << text << ": " << error;
  return spec;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SimulateSpec, EmptyGivesTheDefaults) {
  const SimulatedDeviceSpec spec = Parse("");
  EXPECT_EQ(spec.chip, 0xA3);
  EXPECT_EQ(spec.part, 0x79);
  EXPECT_EQ(spec.binding, BindingKind::ExtensionUnit);
  EXPECT_FALSE(spec.block.has_value());
  EXPECT_EQ(spec.readBlock, 4096u);
  EXPECT_FALSE(spec.byte0.has_value());
  EXPECT_FALSE(spec.version.has_value());
  EXPECT_TRUE(spec.image.empty());
  EXPECT_EQ(spec.fail, 0u);
  EXPECT_EQ(spec.unplug, 0u);
  EXPECT_FALSE(spec.stuckBusy || spec.stuckWip || spec.bindFails);
}

TEST(SimulateSpec, EveryKeyTakesItsValue) {
  const SimulatedDeviceSpec spec = Parse(
      "chip=0x85,part=0x81,binding=tunnel,block=128,readblock=512,byte0=0x12,"
      "version=0x13201,image=flash.bin,fail=3,unplug=90,stuck=wip,bind=fail");
  EXPECT_EQ(spec.chip, 0x85);
  EXPECT_EQ(spec.part, 0x81);
  EXPECT_EQ(spec.binding, BindingKind::Tunnel);
  EXPECT_EQ(spec.block, 128u);
  EXPECT_EQ(spec.readBlock, 512u);
  EXPECT_EQ(spec.byte0, 0x12);
  EXPECT_EQ(spec.version, 0x13201u);
  EXPECT_EQ(spec.image, "flash.bin");
  EXPECT_EQ(spec.fail, 3u);
  EXPECT_EQ(spec.unplug, 90u);
  EXPECT_TRUE(spec.stuckWip);
  EXPECT_FALSE(spec.stuckBusy);
  EXPECT_TRUE(spec.bindFails);

  EXPECT_TRUE(Parse("stuck=busy").stuckBusy);
  EXPECT_EQ(Parse("chip=133,part=120").chip, 133);
  EXPECT_EQ(Parse("part=0x78").part, 0x78);
  EXPECT_EQ(Parse("chip=0XA0").chip, 0xA0);
  struct Binding {
    const char* text;
    BindingKind kind;
  };
  for (const Binding& b : {Binding{"binding=xu", BindingKind::ExtensionUnit},
                           Binding{"binding=xu-b", BindingKind::ExtensionUnitSetB},
                           Binding{"binding=tunnel", BindingKind::Tunnel},
                           Binding{"binding=both", BindingKind::Both},
                           Binding{"binding=none", BindingKind::None}}) {
    EXPECT_EQ(Parse(b.text).binding, b.kind) << b.text;
  }
}

TEST(SimulateSpec, ErrorsNameTheKeyOrValue) {
  struct Case {
    const char* text;
    std::vector<const char*> named;
  };
  const Case cases[] = {
      {"colour=red", {"colour"}},
      {"chip", {"chip"}},
      {"chip=0x100", {"chip", "0x100"}},
      {"chip=-1", {"chip", "-1"}},
      {"chip=0xzz", {"chip", "0xzz"}},
      {"chip=", {"chip"}},
      {"chip=12abc", {"12abc"}},
      {"part=0x77", {"part", "0x77"}},
      {"part=0x82", {"part", "0x82"}},
      {"binding=usb", {"binding", "usb"}},
      {"byte0=256", {"byte0", "256"}},
      {"version=0x1000000", {"version", "0x1000000"}},
      {"block=0x10001", {"block", "0x10001"}},
      {"image=", {"image"}},
      {"fail=0", {"fail", "0"}},
      {"unplug=0", {"unplug", "0"}},
      {"stuck=slow", {"stuck", "slow"}},
      {"bind=ok", {"bind", "ok"}},
      {"chip=0x85,oops=1", {"oops"}},
  };
  for (const Case& c : cases) {
    SimulatedDeviceSpec spec;
    std::string error;
    EXPECT_FALSE(ParseSimulateSpec(c.text, &spec, &error)) << c.text;
    for (const char* name : c.named) {
      EXPECT_NE(error.find(std::string("'") + name + "'"), std::string::npos)
          << c.text << ": " << error;
    }
  }
}

TEST(Simulation, BuildsTheCamerasTheSpecsDescribe) {
  Simulation simulation({Parse(""), Parse("chip=0x85,binding=tunnel,part=0x80"),
                         Parse("binding=both,block=256,readblock=512"),
                         Parse("bind=fail,stuck=busy,fail=7"),
                         Parse("chip=0x85,byte0=0x12,version=0x13277")});
  const auto& devices = simulation.devices().devices();
  ASSERT_EQ(devices.size(), 5u);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    EXPECT_EQ(devices[i].name, "Emulated camera " + std::to_string(i + 1));
  }
  EXPECT_EQ(devices[1].binding, BindingKind::Tunnel);
  EXPECT_TRUE(devices[3].bindFails);
  ASSERT_NE(devices[3].faults, nullptr);
  EXPECT_EQ(devices[3].faults->failAt, 7u);
  EXPECT_EQ(devices[0].faults, nullptr);

  EXPECT_EQ(simulation.camera(0).config().downloadBlockSize, 4096u);
  EXPECT_EQ(simulation.camera(1).config().downloadBlockSize, 64u);  // through the tunnel
  EXPECT_EQ(simulation.camera(1).config().chipId, 0x85);
  EXPECT_EQ(simulation.camera(1).config().flashPart, 0x80);
  EXPECT_EQ(simulation.camera(2).config().downloadBlockSize, 256u);
  EXPECT_EQ(simulation.camera(2).config().flashDataBlockLength, 512u);
  EXPECT_TRUE(simulation.camera(3).config().stuckBusy);

  const auto factory =
      emulator::FactoryFlash(0xA3, emulator::DefaultByte0(0xA3), emulator::DefaultVersion(0xA3));
  EXPECT_TRUE(std::equal(factory.begin(), factory.end(), simulation.camera(0).flash().begin()));
  const auto custom = emulator::FactoryFlash(0x85, 0x12, 0x13277);
  EXPECT_TRUE(std::equal(custom.begin(), custom.end(), simulation.camera(4).flash().begin()));
}

TEST(Simulation, ImagesAreLoadedWhenPresentAndWrittenBack) {
  ScratchDirectory directory;
  std::string contents(emulator::kFlashSize, '\0');
  for (std::size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 7);
  const auto existing = directory.WriteFile("existing.bin", contents);
  const auto fresh = directory.Path() / "fresh.bin";

  Simulation simulation({Parse("image=" + existing.string()), Parse("image=" + fresh.string())});
  EXPECT_TRUE(simulation.loadErrors().empty());
  EXPECT_EQ(simulation.camera(0).flash()[1], 7);
  EXPECT_FALSE(std::filesystem::exists(fresh)) << "nothing is written before the end";

  std::string error;
  ASSERT_TRUE(simulation.SaveImages(&error)) << error;
  EXPECT_EQ(ReadFile(existing), contents);
  const auto factory =
      emulator::FactoryFlash(0xA3, emulator::DefaultByte0(0xA3), emulator::DefaultVersion(0xA3));
  EXPECT_EQ(ReadFile(fresh), std::string(factory.begin(), factory.end()));
}

TEST(Simulation, AFileThatCannotBeLoadedIsNeverOverwritten) {
  ScratchDirectory directory;
  const auto notes = directory.WriteFile("notes.txt", "not a flash image\n");
  const auto fresh = directory.Path() / "fresh.bin";

  Simulation simulation({Parse("image=" + notes.string()), Parse("image=" + fresh.string())});
  ASSERT_EQ(simulation.loadErrors().size(), 1u);
  EXPECT_NE(simulation.loadErrors()[0].find(notes.string()), std::string::npos);

  std::string error;
  EXPECT_TRUE(simulation.SaveImages(&error)) << error;
  EXPECT_EQ(ReadFile(notes), "not a flash image\n");
  EXPECT_EQ(std::filesystem::file_size(fresh), emulator::kFlashSize);
}

TEST(Simulation, AnImageThatCannotBeWrittenIsReported) {
  ScratchDirectory directory;
  const auto missing = directory.Path() / "no-such-directory" / "flash.bin";
  Simulation simulation({Parse("image=" + missing.string())});
  std::string error;
  EXPECT_FALSE(simulation.SaveImages(&error));
  EXPECT_NE(error.find(missing.string()), std::string::npos) << error;
}

}  // namespace
}  // namespace torvane
