#include "test_x_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

extern char** environ;

namespace plat_test {

bool TestXServer::Start(const std::string& geometry, const std::vector<std::string>& extra) {
  // Servers starting at the same moment (tests run side by side) can race
  // for a display number; the loser gives up at once: try again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (StartOnce(geometry, extra)) return true;
  }
  return false;
}

bool TestXServer::StartOnce(const std::string& geometry, const std::vector<std::string>& extra) {
  int fds[2];
  if (pipe(fds) != 0) {
    error_ = "pipe failed";
    return false;
  }
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  std::string fd = std::to_string(fds[1]);
  // -displayfd: the server picks a free display number and writes it to
  // the pipe once it listens.
  std::vector<std::string> args = {"Xvfb", "-displayfd", fd, "-screen", "0", geometry, "-nolisten", "tcp", "-noreset"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    pid_ = -1;
    error_ = "cannot run Xvfb (package xvfb)";
    return false;
  }
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 15000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    error_ = "Xvfb did not start";
    Stop();
    return false;
  }
  display_ = ":" + number;
  return true;
}

void TestXServer::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
  display_.clear();
}

namespace {

class XServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(server_.Start()) << server_.error();
    setenv("DISPLAY", server_.display().c_str(), 1);
  }
  void TearDown() override { server_.Stop(); }

 private:
  TestXServer server_;
};

}  // namespace

void UsePrivateXServer() { ::testing::AddGlobalTestEnvironment(new XServerEnvironment); }

}  // namespace plat_test
