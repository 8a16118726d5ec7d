#include <pellar/testing/sandbox.h>

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include <pellar/base/failure.h>

namespace pellar::testing {
namespace {

constexpr size_t kStartedKept = 4;

// `path` (absolute) with "." and ".." resolved by the text alone and
// repeated separators dropped. Inside the sandbox only the library's own
// files and folders exist, never a symbolic link, so the text decides.
std::string Normalize(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string segment = path.substr(i, j - i);
    if (segment == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!segment.empty() && segment != ".") {
      parts.push_back(std::move(segment));
    }
    i = j + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

std::string WorkingFolder() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return "/";
  return buffer;
}

}  // namespace

SandboxPlatform::SandboxPlatform(const std::string& root, Platform& target)
    : ForwardingPlatform(target) {
  char resolved[PATH_MAX];
  if (::realpath(root.c_str(), resolved) == nullptr) {
    throw std::runtime_error("sandbox root missing: " + root);
  }
  root_ = resolved;
}

bool SandboxPlatform::Inside(TextView path) const {
  std::string utf8 = ToUtf8(path);
  if (utf8.empty() || utf8[0] != '/') utf8 = WorkingFolder() + "/" + utf8;
  const std::string normal = Normalize(utf8);
  return normal == root_ || (normal.size() > root_.size() &&
                             normal.compare(0, root_.size(), root_) == 0 &&
                             normal[root_.size()] == '/');
}

void SandboxPlatform::Check(TextView path, Access) const {
  if (path.empty() || path.find(u'\0') != TextView::npos) return;
  if (Inside(path)) return;
  throw Failure(error::kPermissionDenied);
}

std::vector<Text> SandboxPlatform::Lookup(TextView pattern, LookupKind kind) {
  try {
    Check(pattern, Access::kOpen);
  } catch (const Failure&) {
    return {};
  }
  return ForwardingPlatform::Lookup(pattern, kind);
}

void SandboxPlatform::DeleteFile(TextView path) {
  Check(path, Access::kChange);
  ForwardingPlatform::DeleteFile(path);
}

void SandboxPlatform::Rename(TextView from, TextView to) {
  Check(from, Access::kChange);
  Check(to, Access::kChange);
  ForwardingPlatform::Rename(from, to);
}

void SandboxPlatform::CopyFile(TextView from, TextView to) {
  Check(from, Access::kOpen);
  Check(to, Access::kChange);
  ForwardingPlatform::CopyFile(from, to);
}

void SandboxPlatform::ReplaceFile(TextView from, TextView to) {
  Check(from, Access::kChange);
  Check(to, Access::kChange);
  ForwardingPlatform::ReplaceFile(from, to);
}

void SandboxPlatform::CheckReplaceable(TextView path) {
  Check(path, Access::kOpen);
  ForwardingPlatform::CheckReplaceable(path);
}

bool SandboxPlatform::SameFile(TextView a, TextView b) {
  try {
    Check(a, Access::kOpen);
    Check(b, Access::kOpen);
  } catch (const Failure&) {
    return false;
  }
  return ForwardingPlatform::SameFile(a, b);
}

void SandboxPlatform::ForceDeleteFile(TextView path) {
  Check(path, Access::kChange);
  ForwardingPlatform::ForceDeleteFile(path);
}

void SandboxPlatform::DeleteEmptyFolder(TextView path) {
  Check(path, Access::kChange);
  ForwardingPlatform::DeleteEmptyFolder(path);
}

void SandboxPlatform::DeleteFolderTree(TextView path, bool force) {
  Check(path, Access::kChange);
  ForwardingPlatform::DeleteFolderTree(path, force);
}

std::vector<FolderEntry> SandboxPlatform::ListFolder(TextView folder) {
  Check(folder, Access::kOpen);
  return ForwardingPlatform::ListFolder(folder);
}

EntryStatus SandboxPlatform::Status(TextView path) {
  Check(path, Access::kOpen);
  return ForwardingPlatform::Status(path);
}

void SandboxPlatform::CreateFolder(TextView path) {
  Check(path, Access::kChange);
  ForwardingPlatform::CreateFolder(path);
}

std::unique_ptr<WritableFile> SandboxPlatform::NewWritableFile(
    TextView path, FileAccess access) {
  Check(path, Access::kOpen);
  return ForwardingPlatform::NewWritableFile(path, access);
}

std::unique_ptr<WritableFile> SandboxPlatform::CreateForSave(TextView path,
                                                             FileAccess access,
                                                             SaveStep* step) {
  // Outside the root nothing is found to delete; the creation fails.
  if (step != nullptr) *step = SaveStep::kCreate;
  Check(path, Access::kOpen);
  return ForwardingPlatform::CreateForSave(path, access, step);
}

std::unique_ptr<SequentialFile> SandboxPlatform::NewSequentialFile(
    TextView path) {
  Check(path, Access::kOpen);
  return ForwardingPlatform::NewSequentialFile(path);
}

void SandboxPlatform::StartProcess(TextView command_line, WindowStyle) {
  std::vector<Text> args = SplitCommandLine(command_line);
  if (args.empty() || args[0].empty()) throw Failure(error::kFileNotFound);
  for (const Text& arg : args) {
    if (arg.find(u'\0') != Text::npos) throw Failure(error::kBadFileName);
  }
  if (started.size() == kStartedKept) started.erase(started.begin());
  started.emplace_back(command_line);
  ++start_count;
}

int SandboxPlatform::RunProcess(TextView command_line) {
  StartProcess(command_line, WindowStyle::kMinimizedNoFocus);
  return 0;
}

Text SandboxPlatform::TempFolder() { return FromUtf8(root_) + u"/"; }

Text SandboxPlatform::ModuleFolder() { return FromUtf8(root_); }

}  // namespace pellar::testing
