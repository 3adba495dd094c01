// The raw requests of the transport and the virtual driver's checks of codes, pipes and lengths.
#include "DeviceTestSupport.h"

#include "device/Transport.h"

#include <cstring>

namespace {

using Transport = VirtualCameraTest;
using namespace tovira;

TEST_F(Transport, OpenAndCloseFollowTheHandle) {
  DeviceHandle h = reinterpret_cast<DeviceHandle>(0x1234);
  EXPECT_EQ(OpenDevice(*driver_, &h, nullptr), 0);
  EXPECT_TRUE(driver_->log().empty()); // a null path never reaches the system
  EXPECT_EQ(OpenDevice(*driver_, &h, "\\\\.\\TovKX400-1"), 0);
  EXPECT_EQ(OpenDevice(*driver_, &h, "\\\\.\\TovKX400-00"), 0);
  EXPECT_EQ(OpenDevice(*driver_, &h, "\\\\.\\TovKX400-0"), 1);
  EXPECT_EQ(driver_->openHandles(), 1);
  EXPECT_EQ(CloseDevice(*driver_, &h), 1);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(CloseDevice(*driver_, &h), 0);
  EXPECT_EQ(driver_->openHandles(), 0);
}

TEST_F(Transport, TransferChecksBufferBeforeHandle) {
  std::uint8_t buffer[64] = {};
  std::uint32_t moved = 99;
  EXPECT_EQ(Transfer(*driver_, nullptr, 0, 64, nullptr, &moved, 1), -2);
  EXPECT_EQ(Transfer(*driver_, nullptr, 0, 64, buffer, &moved, 1), -3);
  EXPECT_EQ(Transfer(*driver_, invalidDeviceHandle(), 0, 64, buffer, &moved, 1), -3);
  EXPECT_EQ(ReceivePacket(*driver_, nullptr, 1, 64, buffer), 10);
  EXPECT_EQ(SendPacket(*driver_, nullptr, 0, 64, buffer), 10);
  EXPECT_EQ(SendSettingBlock(*driver_, nullptr, buffer), 0);
  EXPECT_TRUE(driver_->log().empty());
}

TEST_F(Transport, PacketsGoOnTheirPipesWithTheirCodes) {
  DeviceHandle h = nullptr;
  ASSERT_EQ(OpenDevice(*driver_, &h, "\\\\.\\TovKX400-0"), 1);
  std::uint8_t packet[64] = {0x29};
  EXPECT_EQ(SendPacket(*driver_, h, 0, 64, packet), 0);
  EXPECT_EQ(ReceivePacket(*driver_, h, 1, 64, packet), 0);
  EXPECT_EQ(packet[0], 0x29); // the acknowledgement names the command
  camera().setInputs(true, true);
  EXPECT_EQ(ReceivePacket(*driver_, h, 1, 64, packet), 0);
  EXPECT_EQ(packet[0], 0x00); // the answer: the port as it was when the command came
  const auto log = driver_->log();
  EXPECT_EQ(log[1].code, 0x222051u);
  EXPECT_EQ(log[1].inLength, 4u);
  EXPECT_EQ(log[1].pipe, 0u);
  EXPECT_EQ(log[2].code, 0x22204Eu);
  EXPECT_EQ(log[2].pipe, 1u);

  // The driver refuses what a camera would not take: replies on the command code, packets of another
  // length, pipes that do not exist.
  EXPECT_EQ(SendPacket(*driver_, h, 1, 64, packet), 12);
  EXPECT_EQ(SendPacket(*driver_, h, 0, 63, packet), 12);
  EXPECT_EQ(ReceivePacket(*driver_, h, 0, 64, packet), 12); // byte 0 is not the frame trigger
  EXPECT_EQ(ReceivePacket(*driver_, h, 7, 64, packet), 12);
  driver_->shortNextReplies(1);
  EXPECT_EQ(ReceivePacket(*driver_, h, 1, 64, packet), 12);
  CloseDevice(*driver_, &h);
}

TEST_F(Transport, SixtyThreeByteReplyReportsItsCount) {
  DeviceHandle h = nullptr;
  ASSERT_EQ(OpenDevice(*driver_, &h, "\\\\.\\TovKX400-0"), 1);
  std::uint8_t packet[64] = {0x06};
  SendPacket(*driver_, h, 0, 64, packet);
  driver_->shortNextReplies(1);
  std::uint32_t moved = 0;
  EXPECT_EQ(Transfer(*driver_, h, 1, 64, packet, &moved, 0), -1);
  EXPECT_EQ(moved, 63u);
  CloseDevice(*driver_, &h);
}

TEST_F(Transport, DevicePathHasNoLeadingZeros) {
  char path[128];
  FormatDevicePath(path, sizeof path, "TovKX400", 7);
  EXPECT_STREQ(path, "\\\\.\\TovKX400-7");
  FormatDevicePath(path, sizeof path, "TovKX400", 12);
  EXPECT_STREQ(path, "\\\\.\\TovKX400-12");
}

} // namespace
