#include "image_generator.h"

namespace torvane {

namespace {

// xorshift32: small, fixed and the same on every compiler.
class NoiseSource {
 public:
  explicit NoiseSource(std::uint32_t seed) : state_(seed) {}
  std::uint8_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<std::uint8_t>(state_ >> 24);
  }

 private:
  std::uint32_t state_;
};

constexpr std::uint32_t kSeed = 0x70A7A9E5u;

void PutWord(std::vector<std::uint8_t>& image, std::size_t offset, std::uint16_t value) {
  image[offset] = static_cast<std::uint8_t>(value & 0xFF);
  image[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

std::vector<std::uint8_t> GenerateSyntheticFirmware() {
  std::vector<std::uint8_t> image(kSyntheticFirmwareSize);
  NoiseSource noise(kSeed);
  for (auto& byte : image) byte = noise.Next();

  // Erased bytes under the markers, so that a marker can be programmed over
  // them without an erase.
  image[0x0000] = 0xFF;
  image[0x0001] = 0xFF;

  // Header version 0x0132, which is also the FamilyAx version word; with the
  // low bytes below every family's probe reads a version newer than a
  // factory-fresh camera's.
  PutWord(image, 0x678E, 0x0132);
  image[0x6040] = 0x01;
  PutWord(image, 0x800C, 0x9101);  // Family6x and Family9x
  PutWord(image, 0xB70E, 0x0132);  // Family8x
  image[0xDB40] = 0x01;
  return image;
}

}  // namespace torvane
