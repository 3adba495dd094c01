// Shared by the device-layer tests: a virtual camera installed as the process's driver port for the
// length of one test.
#pragma once

#include "device/DriverPort.h"
#include "device/ToviraZ400KXSdk.h"
#include "sim/VirtualDriver.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

class VirtualCameraTest : public ::testing::Test {
protected:
  void install(std::vector<int> slots = {0}) {
    driver_ = std::make_shared<tovira::VirtualDriver>(std::move(slots), tovira::Pace::Fast);
    previous_ = tovira::InstallDriverPort(driver_);
    installed_ = true;
  }
  void SetUp() override { install(); }
  void TearDown() override {
    device_.reset();
    if (installed_) tovira::InstallDriverPort(previous_);
  }
  CToviraZ400KXSdk& device() {
    if (!device_) device_ = std::make_unique<CToviraZ400KXSdk>();
    return *device_;
  }
  tovira::VirtualCamera& camera(int slot = 0) { return *driver_->camera(slot); }
  std::vector<std::pair<std::uint16_t, std::uint16_t>> writes() { return driver_->registerWrites(); }
  // The packets sent on pipe 0 with the command code, in order.
  std::vector<std::vector<std::uint8_t>> packets() {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& r : driver_->log())
      if (r.kind == tovira::DriverRequest::Kind::Control && r.code == tovira::kCodeWritePipe &&
          r.pipe == tovira::kPipeCommand)
        out.push_back(r.data);
    return out;
  }

  std::shared_ptr<tovira::VirtualDriver> driver_;
  std::shared_ptr<tovira::DriverPort> previous_;
  std::unique_ptr<CToviraZ400KXSdk> device_;
  bool installed_ = false;
};

using RegisterWrites = std::vector<std::pair<std::uint16_t, std::uint16_t>>;
