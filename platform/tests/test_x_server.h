// A private X server for tests: Xvfb on a display number that it picks
// itself, so test programs running side by side never share a screen.
#pragma once
#include <string>
#include <vector>
#include <sys/types.h>

namespace plat_test {

class TestXServer {
 public:
  TestXServer() = default;
  ~TestXServer() { Stop(); }
  TestXServer(const TestXServer&) = delete;
  TestXServer& operator=(const TestXServer&) = delete;

  // Starts Xvfb with one screen of the given geometry (e.g. "1920x1080x24")
  // and any extra options, and waits until it accepts connections. False,
  // with the reason in error(), when it cannot.
  bool Start(const std::string& geometry = "1920x1080x24", const std::vector<std::string>& extra = {});
  // Ends the server and waits for it.
  void Stop();

  // ":N" while running.
  const std::string& display() const { return display_; }
  const std::string& error() const { return error_; }

 private:
  bool StartOnce(const std::string& geometry, const std::vector<std::string>& extra);

  pid_t pid_ = -1;
  std::string display_;
  std::string error_;
};

// Starts one server for the whole test program and exports DISPLAY before
// the first test; registered by each test program that needs a screen.
void UsePrivateXServer();

}  // namespace plat_test
