#include <gtest/gtest.h>

#include "platform/guid.h"

namespace torvane {
namespace {

TEST(Guid, BytesFollowThePublishedLayout) {
  const auto bytes = KSNODETYPE_DEV_SPECIFIC.Bytes();
  const std::array<std::uint8_t, 16> expected = {0xC0, 0x7A, 0x1C, 0x94, 0x59, 0xC5, 0xD0, 0x11,
                                                 0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1};
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(Guid::FromBytes(bytes.data()), KSNODETYPE_DEV_SPECIFIC);
  EXPECT_EQ(XU_PROPERTY_SET_A.ToString(), "{63610682-5070-49AB-B8CC-B3855E8D221D}");
}

}  // namespace
}  // namespace torvane
