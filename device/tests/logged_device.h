// A test fixture that runs one reference device in-process and keeps its
// log, printed only when the test fails.
#pragma once
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/device.h"

namespace devtest {

class LoggedDeviceTest : public ::testing::Test {
 protected:
  // Starts a device on `address` with the given options.
  device::Device& start(const char* address, device::DeviceOptions o = {}) {
    o.bindAddress = address;
    o.log = [this](const std::string& line) {
      std::lock_guard<std::mutex> g(logLock_);
      log_.push_back(line);
    };
    device_ = std::make_unique<device::Device>(o);
    std::string error;
    EXPECT_TRUE(device_->start(&error)) << error;
    return *device_;
  }

  void TearDown() override {
    if (device_) device_->stop();
    if (HasFailure()) {
      std::lock_guard<std::mutex> g(logLock_);
      for (const std::string& line : log_) std::cerr << "device: " << line << "\n";
    }
  }

  std::vector<std::string> linesWith(const std::string& text) {
    std::lock_guard<std::mutex> g(logLock_);
    std::vector<std::string> out;
    for (const std::string& line : log_)
      if (line.find(text) != std::string::npos) out.push_back(line);
    return out;
  }
  bool logHas(const std::string& text) { return !linesWith(text).empty(); }

  std::unique_ptr<device::Device> device_;

 private:
  std::mutex logLock_;
  std::vector<std::string> log_;
};

}  // namespace devtest
