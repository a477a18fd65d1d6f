#include "storage/test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace storage::testing {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr int kChildFailed = 111;

}  // namespace

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "kit-storage-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::map<std::string, std::string> folderContents(const std::string& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename();
    if (entry.is_symlink()) {
      contents[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      contents[name] = fileText(entry.path());
    } else if (entry.is_directory()) {
      contents[name] = "<dir>";
    } else {
      contents[name] = "<other>";
    }
  }
  return contents;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<unsigned char> bytesOf(const std::string& text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}

std::vector<std::string> recordOperations(const std::function<void()>& save) {
  std::vector<std::string> operations;
  setFaultHook([&](FileOperation operation, const std::string& path) {
    operations.push_back(std::string(operationName(operation)) + " " + path);
    return 0;
  });
  try {
    save();
  } catch (...) {
    setFaultHook(nullptr);
    throw;
  }
  setFaultHook(nullptr);
  return operations;
}

bool killedAt(int operation, const std::function<void()>& save) {
  const int pid = startChild([&] {
    int seen = 0;
    setFaultHook([&](FileOperation, const std::string&) {
      if (seen++ == operation) ::kill(::getpid(), SIGKILL);
      return 0;
    });
    save();
    return 0;
  });
  const int status = waitChild(pid);
  EXPECT_TRUE(status == -1 || status == 0) << "the save failed in the child: " << status;
  return status == -1;
}

int startChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int status = kChildFailed;
    try {
      status = body();
    } catch (...) {
    }
    ::_exit(status);
  }
  return pid;
}

int waitChild(int pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -2;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string failureWithoutPrivileges(const std::function<void()>& action) {
  int channel[2];
  if (::pipe(channel) != 0) throw std::runtime_error("pipe failed");
  const int pid = startChild([&] {
    ::close(channel[0]);
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) return 2;
    std::string message;
    try {
      action();
    } catch (const std::exception& e) {
      message = e.what();
    }
    const ssize_t ignored = ::write(channel[1], message.data(), message.size());
    (void)ignored;
    return 0;
  });
  ::close(channel[1]);
  std::string message;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(channel[0], buffer, sizeof buffer)) > 0) message.append(buffer, n);
  ::close(channel[0]);
  EXPECT_EQ(waitChild(pid), 0);
  return message;
}

Gate::Gate() {
  if (::pipe(arrived_) != 0 || ::pipe(release_) != 0) throw std::runtime_error("pipe failed");
}

Gate::~Gate() {
  for (int fd : {arrived_[0], arrived_[1], release_[0], release_[1]}) ::close(fd);
}

void Gate::arriveAndWait() {
  const char token = 1;
  if (::write(arrived_[1], &token, 1) != 1) return;
  char ignored;
  ::close(release_[1]);
  while (::read(release_[0], &ignored, 1) < 0 && errno == EINTR) {
  }
}

void Gate::awaitArrival() {
  char token;
  while (::read(arrived_[0], &token, 1) < 0 && errno == EINTR) {
  }
}

void Gate::open() {
  const char token = 1;
  const ssize_t ignored = ::write(release_[1], &token, 1);
  (void)ignored;
}

}  // namespace storage::testing
