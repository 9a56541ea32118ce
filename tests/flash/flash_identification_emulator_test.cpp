// Flash identification against the emulated camera's flash parts: the
// identification commands go through the real register bridge to a flash
// model that answers as each part does.
#include "flash/flash_identification.h"

#include <gtest/gtest.h>

#include <optional>

#include "emulator/flash_parts.h"
#include "support/emulated_rig.h"

namespace torvane {
namespace {

using emulator::BindingKind;
using emulator::CameraConfig;
using fakes::EmulatedRig;
using fakes::IdentificationCommands;

constexpr FlashKind kUntouchedKind = 0xEE;

TEST(IdentificationOverEmulator, EveryPartGivesItsCodeKindAndCommandCount) {
  struct Part {
    std::uint8_t part;
    FlashTypeCode code;
    std::optional<FlashKind> kind;
    // 0x90 decides unless it meets silence; then 0xAB, then 0x9F.
    std::size_t commands;
  };
  const Part parts[] = {
      {0x78, 0x78, std::nullopt, 1}, {0x79, 0x79, 0, 1}, {0x7A, 0x7A, 1, 1}, {0x7B, 0x7B, 2, 1},
      {0x7C, 0x7C, 2, 2},            {0x7D, 0x7D, 5, 3}, {0x7E, 0x7E, 3, 1}, {0x7F, 0x7F, 4, 1},
      {0x80, 0x80, 6, 3},            {0x81, 0x81, 6, 3},
  };
  ASSERT_EQ(std::size(parts), emulator::FlashParts().size()) << "every emulated part is listed";

  // Both chip-select polarities, both bindings.
  struct Camera {
    std::uint8_t chip;
    BindingKind binding;
  };
  const Camera cameras[] = {
      {0x6A, BindingKind::ExtensionUnit},
      {0x9C, BindingKind::Both},
      {0x85, BindingKind::ExtensionUnitSetB},
      {0xA3, BindingKind::Tunnel},
  };

  for (const Part& p : parts) {
    for (const Camera& cam : cameras) {
      SCOPED_TRACE(testing::Message() << std::hex << "part 0x" << int{p.part} << ", chip 0x"
                                      << int{cam.chip});
      CameraConfig config;
      config.chipId = cam.chip;
      config.flashPart = p.part;
      EmulatedRig rig(config, cam.binding);
      auto updater = rig.NewUpdater();
      updater->engine.flashKind = kUntouchedKind;

      ASSERT_EQ(updater->Open(AnyFamily), 0) << "an unrecognised flash does not fail the open";
      EXPECT_EQ(IdentificationCommands(rig.camera().log()), p.commands);
      EXPECT_EQ(updater->engine.flashKind, p.kind.value_or(kUntouchedKind));

      rig.camera().ClearLog();
      FlashTypeCode code = 0;
      EXPECT_EQ(updater->DetectFlashType(&code), 0);
      EXPECT_EQ(code, p.code);
      EXPECT_EQ(FlashKindForCode(code), p.kind);
      EXPECT_EQ(IdentificationCommands(rig.camera().log()), p.commands);
      // Identification leaves chip select released for the camera's own
      // flash work.
      EXPECT_EQ(rig.camera().Register(REG_SPI_CS), 2 - updater->engine.chipSelectLevel);
    }
  }
}

}  // namespace
}  // namespace torvane
