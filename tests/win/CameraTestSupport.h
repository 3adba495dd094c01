// Shared by the camera-instance tests: a virtual camera installed as the process's driver port and a
// settings key that starts from a first run.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "camera/RegistryKey.h"
#include "camera/Tovira.h"
#include "device/DriverPort.h"
#include "sim/VirtualDriver.h"

inline void DeleteCameraSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, tovira::kSettingsKeyPath); }

inline bool CameraSettingsExist() { return static_cast<bool>(tovira::OpenSettingsKey()); }

// Writes a REG_DWORD below the settings key ("" for the key itself).
inline void WriteCameraSetting(const char* subKey, const char* name, int32_t value) {
    tovira::RegistryKey key = tovira::CreateSettingsKey();
    ASSERT_TRUE(key);
    tovira::RegistryKey target = *subKey ? key.createChild(subKey) : std::move(key);
    ASSERT_TRUE(target);
    ASSERT_TRUE(target.writeInt(name, value));
}

// Reads a REG_DWORD below the settings key; -12345 when it is missing or has another type.
inline int32_t ReadCameraSetting(const char* subKey, const char* name) {
    tovira::RegistryKey key = tovira::OpenSettingsKey();
    tovira::RegistryKey target = *subKey ? key.openChild(subKey) : std::move(key);
    DWORD type = 0, value = 0, size = sizeof value;
    if (!target || RegQueryValueExA(target.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                       ERROR_SUCCESS || type != REG_DWORD || size != 4)
        return -12345;
    return static_cast<int32_t>(value);
}

// A preset sub-key "Size_nn" with its seven values.
inline void WriteCaptureWindowPreset(int number, int th, int tv, int eh, int ev, int ehs, int evs, int buf = 10) {
    char name[16];
    wsprintfA(name, "Size_%02d", number);
    const char* names[7] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};
    const int values[7] = {th, tv, eh, ev, ehs, evs, buf};
    for (int i = 0; i < 7; ++i) WriteCameraSetting(name, names[i], values[i]);
}

class CameraInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteCameraSettings();
        install({0});
    }
    void TearDown() override {
        camera_.reset();
        tovira::InstallDriverPort(previous_);
        DeleteCameraSettings();
    }
    // Slots of the virtual camera for instances initialised afterwards.
    void install(std::vector<int> slots) {
        driver_ = std::make_shared<tovira::VirtualDriver>(std::move(slots), tovira::Pace::Fast);
        auto old = tovira::InstallDriverPort(driver_);
        if (!havePrevious_) {
            previous_ = old;
            havePrevious_ = true;
        }
    }
    // A new instance, initialised; the previous one (if any) is released first.
    CTovira& initialize() {
        camera_.reset();
        camera_ = std::make_unique<CTovira>();
        initializeResult_ = camera_->Initialize(nullptr);
        return *camera_;
    }
    void release() { camera_.reset(); }
    // A new instance with a capture window of width x height at the sensor's top left and the colour
    // mode, its history emptied.
    CTovira& open(int width, int height, int bits) {
        CTovira& camera = initialize();
        EXPECT_EQ(initializeResult_, 1);
        EXPECT_EQ(camera.SetCaptureWindowEx(3840, 0, width, 2748, 0, height), 1);
        EXPECT_EQ(camera.SetColorMode(bits), 1);
        errors();
        return camera;
    }
    // Every code in the history, newest first (empties it).
    std::vector<int> errors() {
        std::vector<int> codes;
        for (int i = 0; i < 20; ++i) codes.push_back(camera_->GetLastError());
        while (!codes.empty() && codes.back() == 0) codes.pop_back();
        return codes;
    }
    tovira::VirtualCamera& sim(int slot = 0) { return *driver_->camera(slot); }
    std::vector<std::pair<uint16_t, uint16_t>> writes() { return driver_->registerWrites(); }
    std::vector<uint16_t> writtenRegisters() {
        std::vector<uint16_t> regs;
        for (const auto& w : writes()) regs.push_back(w.first);
        return regs;
    }

    std::shared_ptr<tovira::VirtualDriver> driver_;
    std::unique_ptr<CTovira> camera_;
    int initializeResult_ = -1;

private:
    std::shared_ptr<tovira::DriverPort> previous_;
    bool havePrevious_ = false;
};
