// Reading the flash back from the emulated camera: block reads at the
// lengths a camera may announce, the project code that 0x6_/0x9_ chips need
// before they give out plain data, and the version probe of every family.
#include "flash/flash_readback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "support/emulated_rig.h"

namespace torvane {
namespace {

using emulator::BindingKind;
using emulator::CameraConfig;
using fakes::EmulatedRig;
using fakes::ScriptedSettings;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kUnwritten = 0xEE;

// Whether dest[from, to) holds the flash bytes at the same addresses (reads
// past the flash's end continue at its start).
::testing::AssertionResult HoldsFlash(const Bytes& dest, std::span<const std::uint8_t> flash,
                                      std::size_t from, std::size_t to) {
  for (std::size_t a = from; a < to; ++a) {
    if (dest[a] != flash[a % flash.size()]) {
      std::ostringstream text;
      text << std::hex << "offset 0x" << a << " holds 0x" << int{dest[a]} << ", flash 0x"
           << int{flash[a % flash.size()]};
      return ::testing::AssertionFailure() << text.str();
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(ReadBackOverEmulator, RangesAndFirstBlockAtEveryBlockLength) {
  struct Camera {
    std::uint8_t chip;
    BindingKind binding;
  };
  const Camera cameras[] = {
      {0x6A, BindingKind::ExtensionUnit},
      {0x85, BindingKind::ExtensionUnitSetB},
      {0xA3, BindingKind::Tunnel},
  };
  struct Range {
    std::uint32_t start;
    std::uint32_t end;
  };
  const Range ranges[] = {{0x6000, 0x7000}, {0x8000, 0x9000}, {0x0000, 0x10000}, {0x5123, 0x5124}};

  for (const std::uint32_t length : {4096u, 1024u, 3000u}) {
    for (const Camera& cam : cameras) {
      SCOPED_TRACE(testing::Message() << "L " << length << ", chip 0x" << std::hex
                                      << int{cam.chip});
      CameraConfig config;
      config.chipId = cam.chip;
      config.flashDataBlockLength = length;
      EmulatedRig rig(config, cam.binding);
      auto updater = rig.NewUpdater();
      ASSERT_EQ(updater->Open(AnyFamily), 0);
      const auto flash = rig.camera().flash();

      for (const Range& r : ranges) {
        SCOPED_TRACE(testing::Message() << "range 0x" << std::hex << r.start << "..0x" << r.end);
        // Whole blocks are copied: the last one may reach past the end.
        const std::size_t blocks = (r.end - r.start + length - 1) / length;
        const std::size_t reach = r.start + blocks * length;
        Bytes dest(0x20000, kUnwritten);
        ASSERT_EQ(ReadFlashRange(updater->engine, rig.settings, dest.data(), dest.size(), r.start,
                                 r.end),
                  1);
        EXPECT_TRUE(std::all_of(dest.begin(), dest.begin() + r.start,
                                [](std::uint8_t b) { return b == kUnwritten; }));
        EXPECT_TRUE(HoldsFlash(dest, flash, r.start, reach));
        EXPECT_TRUE(std::all_of(dest.begin() + static_cast<std::ptrdiff_t>(reach), dest.end(),
                                [](std::uint8_t b) { return b == kUnwritten; }));
      }

      // A destination of 64 KiB gets no more than it holds.
      Bytes mirror(0x10000, kUnwritten);
      ASSERT_EQ(ReadFlashRange(updater->engine, rig.settings, mirror.data(), mirror.size(),
                               0xF000, 0x10000),
                1);
      EXPECT_TRUE(HoldsFlash(mirror, flash, 0xF000, 0x10000));

      for (const std::uint32_t block : {0u, 5u, 16u}) {
        SCOPED_TRACE(testing::Message() << "block " << block);
        Bytes first(0x10000, kUnwritten);
        EXPECT_GE(updater->ReadFirstBlock(first.data(), first.size(), block, 0), 0);
        const std::size_t at = (block * 4096u) % 0x10000;
        EXPECT_TRUE(std::equal(first.begin(), first.begin() + length, flash.begin() + at));
        EXPECT_EQ(first[length], kUnwritten);
      }
    }
  }
}

// Cameras of the 0x6_ and 0x9_ chips give out scrambled data unless they
// were given their project code first; the others take none.
TEST(ReadBackOverEmulator, ProjectCodeComesFromTheSettingsOn6xAnd9xOnly) {
  struct Case {
    std::uint8_t chip;
    std::string project;
    std::uint8_t cameraExpects;
    bool plain;  // the version read is the flash's
  };
  const Case cases[] = {
      {0x6A, "ASDF", 0xC3, true},  {0x9C, "ASDF", 0xC3, true},  {0x6A, "A", 9, true},
      {0x6A, "Other", 0xC3, false}, {0x9C, "", 0xC3, false},     {0x6A, "ASDF", 9, false},
      {0x85, "Other", 0xC3, true}, {0xA3, "Other", 0xC3, true},
  };
  const std::uint32_t version = 0x4321;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "chip 0x" << std::hex << int{c.chip} << ", PROJ \""
                                    << c.project << "\"");
    CameraConfig config;
    config.chipId = c.chip;
    config.expectedProjectCode = c.cameraExpects;
    EmulatedRig rig(config, BindingKind::ExtensionUnit);
    rig.camera().LoadFlash(emulator::FactoryFlash(c.chip, 0x55, version));
    rig.settings = ScriptedSettings(c.project);
    auto updater = rig.NewUpdater();
    ASSERT_EQ(updater->Open(AnyFamily), 0);

    std::uint32_t read = 0;
    ASSERT_EQ(updater->ReadFirmwareVersion(&read), 0);
    const bool sixOrNine = (c.chip & 0xF0) == 0x60 || (c.chip & 0xF0) == 0x90;
    if (c.plain) {
      EXPECT_EQ(read, version);
    } else {
      EXPECT_NE(read, version);
    }

    std::size_t projectWrites = 0;
    for (const auto& write : fakes::RegisterWrites(rig.camera().log())) {
      if (write.address == REG_PROJECT_CODE) ++projectWrites;
    }
    EXPECT_EQ(projectWrites > 0, sixOrNine);
    // Other families keep the code their camera started with.
    EXPECT_EQ(rig.camera().Register(REG_PROJECT_CODE),
              sixOrNine ? ProjectCodeFor(c.project) : c.cameraExpects);
  }
}

TEST(ReadBackOverEmulator, VersionOfEveryFamilyIsTheOneInTheFlash) {
  struct Case {
    std::uint8_t chip;
    std::uint32_t version;   // as FactoryFlash lays it down
    std::uint32_t expected;  // as the probe composes it
  };
  const Case cases[] = {
      {0xA3, 0x13205, 0x13205}, {0xA0, 0xFFFFFF, 0xFFFFFF}, {0x6A, 0x9001, 0x9001},
      {0x9C, 0x1234, 0x1234},   {0x85, 0x12345, 0x12345},   {0x8F, 0x000001, 0x000001},
      // 0x6_/0x9_ versions are 16 bits: a higher part is not stored.
      {0x6F, 0x29001, 0x9001},
  };
  const BindingKind bindings[] = {BindingKind::ExtensionUnit, BindingKind::Tunnel};
  for (const Case& c : cases) {
    for (const BindingKind binding : bindings) {
      for (const std::uint32_t length : {4096u, 3000u}) {
        SCOPED_TRACE(testing::Message() << std::hex << "chip 0x" << int{c.chip} << ", version 0x"
                                        << c.version << ", L " << std::dec << length
                                        << (binding == BindingKind::Tunnel ? ", tunnel" : ""));
        CameraConfig config;
        config.chipId = c.chip;
        config.flashDataBlockLength = length;
        EmulatedRig rig(config, binding);
        rig.camera().LoadFlash(emulator::FactoryFlash(c.chip, 0x55, c.version));
        auto updater = rig.NewUpdater();
        ASSERT_EQ(updater->Open(AnyFamily), 0);
        std::uint32_t read = 0xDEADBEEF;
        ASSERT_EQ(updater->ReadFirmwareVersion(&read), 0);
        EXPECT_EQ(read, c.expected);
      }
    }
  }
}

}  // namespace
}  // namespace torvane
