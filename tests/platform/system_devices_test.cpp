#include "platform/system_devices.h"

#include <gtest/gtest.h>

#include <filesystem>

#if defined(__linux__)
#include "platform/linux/system_devices.h"
#include "support/scratch_directory.h"
#endif

namespace torvane {
namespace {

// Whatever the machine has, the system's devices follow the enumeration
// contract: an enumerator with S_OK, none with S_FALSE.
TEST(SystemDevices, FollowTheEnumerationContract) {
  auto environment = CreateSystemDeviceEnvironment();
  ASSERT_TRUE(environment);
  EXPECT_EQ(environment->CoInitialize(), S_OK);
  Ref<ICreateDevEnum> devEnum;
  ASSERT_EQ(environment->CreateSystemDeviceEnum(&devEnum), S_OK);
  Ref<IEnumMoniker> monikers;
  const HRESULT status = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
  ASSERT_TRUE(status == S_OK || status == S_FALSE) << status;
  EXPECT_EQ(static_cast<bool>(monikers), status == S_OK);
  if (monikers) {
    Ref<IMoniker> moniker;
    ASSERT_EQ(monikers->Next(&moniker), S_OK);
  }

  Ref<IEnumMoniker> other;
  EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_SystemDeviceEnum, &other, 0), S_FALSE);
  EXPECT_FALSE(other);
}

#if defined(__linux__)

// Nodes that are not video capture devices are never listed: a regular
// file, a directory, a character device that is no V4L2 node, names that
// only look alike.
TEST(LinuxVideoNodes, OnlyVideoCaptureDevicesAreListed) {
  struct Case {
    const char* name;
    void (*make)(const fakes::ScratchDirectory& scratch);
  };
  const Case cases[] = {
      {"empty directory", [](const fakes::ScratchDirectory&) {}},
      {"regular file",
       [](const fakes::ScratchDirectory& scratch) { scratch.WriteFile("video0", "not a device"); }},
      {"directory",
       [](const fakes::ScratchDirectory& scratch) {
         std::filesystem::create_directory(scratch.Path() / "video1");
       }},
      {"character device that is no video node",
       [](const fakes::ScratchDirectory& scratch) {
         std::filesystem::create_symlink("/dev/null", scratch.Path() / "video2");
       }},
      {"look-alike names",
       [](const fakes::ScratchDirectory& scratch) {
         std::filesystem::create_symlink("/dev/null", scratch.Path() / "videoX");
         std::filesystem::create_symlink("/dev/null", scratch.Path() / "video");
         std::filesystem::create_symlink("/dev/null", scratch.Path() / "vbi0");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::ScratchDirectory scratch;
    c.make(scratch);
    EXPECT_TRUE(linux_devices::ListVideoCaptureNodes(scratch.String()).empty());

    auto environment = linux_devices::CreateDeviceEnvironment(scratch.String());
    Ref<ICreateDevEnum> devEnum;
    ASSERT_EQ(environment->CreateSystemDeviceEnum(&devEnum), S_OK);
    Ref<IEnumMoniker> monikers;
    EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0),
              S_FALSE);
    EXPECT_FALSE(monikers);
  }
}

TEST(LinuxVideoNodes, AMissingDirectoryListsNothing) {
  fakes::ScratchDirectory scratch;
  EXPECT_TRUE(linux_devices::ListVideoCaptureNodes((scratch.Path() / "absent").string()).empty());
}

#endif

}  // namespace
}  // namespace torvane
