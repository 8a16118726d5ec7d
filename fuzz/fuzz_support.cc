#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include <pellar/io/identity.h>
#include <pellar/io/xml_writer.h>

namespace pellar::fuzz {
namespace {

Session* session = nullptr;

void RemoveSession() {
  std::error_code ec;
  std::filesystem::current_path("/", ec);
  if (session != nullptr) std::filesystem::remove_all(session->root(), ec);
}

}  // namespace

Session& Session::Get() {
  if (session == nullptr) {
    session = new Session();  // lives until the process ends
    std::atexit(RemoveSession);
  }
  return *session;
}

Session::Session() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  std::string templ = folder + "/pellar-fuzz-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr) {
    std::perror("pellar fuzz: mkdtemp");
    std::abort();
  }
  platform_ = new testing::SandboxPlatform(templ);
  root_ = platform_->root();
  // Small, so that the work areas and tables an input asks for stay small.
  platform_->physical_memory = uint64_t{64} << 20;
}

void Session::BeginInput() {
  std::error_code ec;
  std::filesystem::current_path(root_, ec);
  std::vector<std::filesystem::path> entries;
  for (std::filesystem::directory_iterator it(root_, ec), end; !ec && it != end;
       it.increment(ec)) {
    entries.push_back(it->path());
  }
  for (const auto& entry : entries) std::filesystem::remove_all(entry, ec);
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Session::EndInput() {
  ClearActivityLog();
  SetApplication(u"", u"");
}

}  // namespace pellar::fuzz
