# Turns a firmware image file into a C++ source that defines
# kEmbeddedFirmware (embedded_firmware.h).
#   cmake -DIMAGE=image.bin -DOUTPUT=embedded_firmware.cpp -P embed_image.cmake
include(${CMAKE_CURRENT_LIST_DIR}/check_image.cmake)

torvane_firmware_image_problem("${IMAGE}" problem)
if(problem)
  message(FATAL_ERROR "${problem}")
endif()

file(READ "${IMAGE}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes to a line.
string(REPEAT "0x..," 16 line_pattern)
string(REGEX REPLACE "(${line_pattern})" "    \\1\n" bytes "${bytes}")

file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${IMAGE} by embed_image.cmake; do not edit.\n"
  "#include \"embedded_firmware.h\"\n\n"
  "namespace torvane {\n\n"
  "const std::uint8_t kEmbeddedFirmware[kEmbeddedFirmwareSize] = {\n"
  "${bytes}"
  "};\n\n"
  "}  // namespace torvane\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
