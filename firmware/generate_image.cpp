// Writes the carried firmware image, or checks a file against it.
//   torvane_generate_firmware OUTPUT         writes the image to OUTPUT
//   torvane_generate_firmware --check FILE   exits 1 unless FILE holds it
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "image_generator.h"

namespace {

int Write(const char* path, const std::vector<std::uint8_t>& image) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path);
    return 1;
  }
  return 0;
}

int Check(const char* path, const std::vector<std::uint8_t>& image) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 1;
  }
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  if (file != image) {
    std::fprintf(stderr,
                 "%s differs from the generator's output; regenerate it with "
                 "torvane_generate_firmware %s\n",
                 path, path);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::uint8_t> image = torvane::GenerateSyntheticFirmware();
  if (argc == 2 && std::strcmp(argv[1], "--check") != 0) return Write(argv[1], image);
  if (argc == 3 && std::strcmp(argv[1], "--check") == 0) return Check(argv[2], image);
  std::fprintf(stderr, "usage: %s OUTPUT | --check FILE\n", argv[0]);
  return 2;
}
