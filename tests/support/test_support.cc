#include <pellar/testing/test_support.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <pellar/base/failure.h>

namespace pellar::testing {

TempDir::TempDir() {
  // A fresh name made without mkdtemp, which Windows lacks: create_directory
  // fails on an existing folder, so a taken name is simply tried again.
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device device;
  std::mt19937_64 random(
      device() ^
      static_cast<uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "pellar-test-%016llx",
                  static_cast<unsigned long long>(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(base / name, ec)) {
      std::filesystem::permissions(base / name,
                                   std::filesystem::perms::owner_all, ec);
      path_ = (base / name).string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only entries behind; make them removable first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator();
       it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Path(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

int FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Failure& f) {
    return f.number();
  }
  return 0;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto give_up = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

Text FakePlatform::MonthAbbreviation(int month) {
  static const char16_t* const kMonths[] = {u"Jan", u"Feb", u"Mar", u"Apr",
                                            u"May", u"Jun", u"Jul", u"Aug",
                                            u"Sep", u"Oct", u"Nov", u"Dec"};
  return kMonths[(month - 1) % 12];
}

namespace {

class CountingWritableFile : public WritableFile {
 public:
  CountingWritableFile(FailingPlatform& platform,
                       std::unique_ptr<WritableFile> target)
      : platform_(platform), target_(std::move(target)) {
    platform_.FileOpened();
  }
  ~CountingWritableFile() override {
    if (!closed_) platform_.FileClosed();
  }
  void Append(std::string_view bytes) override {
    platform_.Tick(Op::kWrite);
    target_->Append(bytes);
  }
  // Line by line, so that a failure can be injected at any line.
  void AppendLines(std::string_view lines) override {
    while (!lines.empty()) {
      size_t end = lines.find("\r\n");
      end = end == std::string_view::npos ? lines.size() : end + 2;
      Append(lines.substr(0, end));
      lines.remove_prefix(end);
    }
  }
  void Close() override {
    if (!closed_) {
      closed_ = true;
      platform_.FileClosed();
    }
    platform_.Tick(Op::kClose);
    target_->Close();
  }

 private:
  FailingPlatform& platform_;
  std::unique_ptr<WritableFile> target_;
  bool closed_ = false;
};

class CountingSequentialFile : public SequentialFile {
 public:
  CountingSequentialFile(FailingPlatform& platform,
                         std::unique_ptr<SequentialFile> target)
      : platform_(platform), target_(std::move(target)) {
    platform_.FileOpened();
  }
  ~CountingSequentialFile() override { platform_.FileClosed(); }
  size_t Read(char* buffer, size_t n) override {
    platform_.Tick(Op::kRead);
    return target_->Read(buffer, n);
  }
  uint64_t SizeHint() override { return target_->SizeHint(); }

 private:
  FailingPlatform& platform_;
  std::unique_ptr<SequentialFile> target_;
};

}  // namespace

int FailingPlatform::Calls(Op op) const {
  auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

int FailingPlatform::TotalCalls() const { return total_calls_; }

void FailingPlatform::Tick(Op op) {
  int n = ++calls_[op];
  int total = ++total_calls_;
  trace_.push_back(op);
  if (nth_ > 0 && ((op_ == Op::kAny && total == nth_) ||
                   (op == op_ && n == nth_))) {
    fired_ = true;
    throw Failure(number_);
  }
}

std::string XmlHeader(const std::string& file_name) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
         "<!-- XML File Created by PellarLib -->\r\n"
         "<!-- Developed by Brambleworth -->\r\n"
         "<!-- Copyright (c) 2026 Brambleworth -->\r\n"
         "<!-- PellarLib version 3.2 (30) -->\r\n"
         "<!-- www.brambleworth.example for further details -->\r\n"
         "<!-- File " +
         file_name + " Created 08-Dec-2026-->\r\n";
}

const char* OpName(Op op) {
  switch (op) {
    case Op::kLookup: return "Lookup";
    case Op::kDelete: return "Delete";
    case Op::kRename: return "Rename";
    case Op::kCopy: return "Copy";
    case Op::kCreateFolder: return "CreateFolder";
    case Op::kCreate: return "Create";
    case Op::kWrite: return "Write";
    case Op::kClose: return "Close";
    case Op::kOpen: return "Open";
    case Op::kRead: return "Read";
    case Op::kStartProcess: return "StartProcess";
    case Op::kReplace: return "Replace";
    case Op::kAny: return "Any";
  }
  return "?";
}

std::vector<Text> FailingPlatform::Lookup(TextView pattern, LookupKind kind) {
  Tick(Op::kLookup);
  return FakePlatform::Lookup(pattern, kind);
}
void FailingPlatform::DeleteFile(TextView path) {
  Tick(Op::kDelete);
  FakePlatform::DeleteFile(path);
}
void FailingPlatform::Rename(TextView from, TextView to) {
  Tick(Op::kRename);
  FakePlatform::Rename(from, to);
}
void FailingPlatform::CopyFile(TextView from, TextView to) {
  Tick(Op::kCopy);
  FakePlatform::CopyFile(from, to);
}
void FailingPlatform::ReplaceFile(TextView from, TextView to) {
  Tick(Op::kReplace);
  FakePlatform::ReplaceFile(from, to);
}
void FailingPlatform::CreateFolder(TextView path) {
  Tick(Op::kCreateFolder);
  FakePlatform::CreateFolder(path);
}
std::unique_ptr<WritableFile> FailingPlatform::NewWritableFile(
    TextView path, FileAccess access) {
  Tick(Op::kCreate);
  return std::make_unique<CountingWritableFile>(
      *this, FakePlatform::NewWritableFile(path, access));
}
std::unique_ptr<WritableFile> FailingPlatform::CreateForSave(TextView path,
                                                             FileAccess access,
                                                             SaveStep* step) {
  // One call that fails as a whole, as a creation.
  if (step != nullptr) *step = SaveStep::kCreate;
  Tick(Op::kCreate);
  return std::make_unique<CountingWritableFile>(
      *this, FakePlatform::CreateForSave(path, access, step));
}
std::unique_ptr<SequentialFile> FailingPlatform::NewSequentialFile(
    TextView path) {
  Tick(Op::kOpen);
  return std::make_unique<CountingSequentialFile>(
      *this, FakePlatform::NewSequentialFile(path));
}
void FailingPlatform::StartProcess(TextView command_line, WindowStyle style) {
  Tick(Op::kStartProcess);
  FakePlatform::StartProcess(command_line, style);
}

#ifndef _WIN32
int StartAsOtherUser(const std::function<void()>& work) {
  if (::geteuid() != 0) return -1;
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  int status = 1;
  if (::setgroups(0, nullptr) == 0 && ::setgid(kOtherUser) == 0 &&
      ::setuid(kOtherUser) == 0) {
    try {
      work();
      status = 0;
    } catch (...) {
    }
  }
  ::_exit(status);
}

int WaitForChild(int pid, bool kill) {
  if (pid <= 0) return -1;
  if (kill) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace pellar::testing
