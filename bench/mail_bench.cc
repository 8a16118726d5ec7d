// Composing a long body must stay linear, and spooling a message into many
// files must cost little more than writing the same bytes.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <pellar/mail/email.h>
#include <pellar/platform/platform.h>
#include "ratio.h"

namespace pellar {
namespace {

namespace fs = std::filesystem;

void AppendBody(benchmark::State& state, int pieces) {
  const Text piece = u"Sales for the region, month to date: 12,345.67";
  for (auto _ : state) {
    Email email;
    for (int i = 0; i < pieces; ++i) email.Body(piece);
    benchmark::DoNotOptimize(email.body().size());
  }
}

void BM_Body100k(benchmark::State& state) { AppendBody(state, 100000); }
BENCHMARK(BM_Body100k)->Unit(benchmark::kMillisecond);

void BM_Body200k(benchmark::State& state) { AppendBody(state, 200000); }
BENCHMARK(BM_Body200k)->Unit(benchmark::kMillisecond);

// A scratch folder with 401 attachment files and an outbox.
class Scratch {
 public:
  Scratch() {
    root_ = fs::temp_directory_path() /
            ("pellar_mail_bench_" +
             std::to_string(
                 std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(root_ / "outbox");
    fs::create_directories(root_ / "direct");
    for (int i = 0; i < Email::kMaxAttachments; ++i) {
      fs::path file = root_ / ("attachment " + std::to_string(i) + ".csv");
      std::unique_ptr<WritableFile> out =
          Platform::Default().NewWritableFile(FromUtf8(file.string()));
      out->Close();
    }
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Text Path(const std::string& name) const {
    return FromUtf8((root_ / name).string());
  }

 private:
  fs::path root_;
};

// A message with a login, a body, one extra and 401 attachments.
void Compose(Email& email, const Scratch& scratch) {
  Text user = u"reports", password = u"secret";
  email.SetServerLogin(user, password);
  email.Body(u"Dear all,\r\nthe monthly figures are attached.");
  Text priority = u"Priority", high = u"high";
  email.Command(priority, high);
  for (int i = 0; i < Email::kMaxAttachments; ++i) {
    Text name = scratch.Path("attachment " + std::to_string(i) + ".csv");
    email.Attach(name);
  }
}

Text Spool(Email& email, const Scratch& scratch) {
  return email.SaveOutboxWithAttachments(
      scratch.Path("outbox"), u"smtp.example.com", u"reports@example.com",
      u"ada@example.com", u"Monthly figures", u"M", 1);
}

void BM_Spool401Files(benchmark::State& state) {
  Scratch scratch;
  Email email;
  Compose(email, scratch);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Spool(email, scratch));
  }
}
BENCHMARK(BM_Spool401Files)->Unit(benchmark::kMillisecond);

// The same 401 files' bytes, each written with one call. Like the spool,
// it replaces the files of the last round by deleting them first.
void BM_Write401FilesDirectly(benchmark::State& state) {
  Scratch scratch;
  Email email;
  Compose(email, scratch);
  Spool(email, scratch);
  std::vector<std::string> contents;
  std::vector<Text> names;
  for (int i = 0; i < Email::kMaxAttachments; ++i) {
    std::string id = "M" + std::string(4 - std::to_string(i).size(), '0') +
                     std::to_string(i) + ".xml";
    std::unique_ptr<SequentialFile> in =
        Platform::Default().NewSequentialFile(scratch.Path("outbox/" + id));
    std::string bytes(1 << 16, '\0');
    bytes.resize(in->Read(bytes.data(), bytes.size()));
    contents.push_back(std::move(bytes));
    names.push_back(scratch.Path("direct/" + id));
  }
  bool written = false;
  for (auto _ : state) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (written) Platform::Default().DeleteFile(names[i]);
      std::unique_ptr<WritableFile> out =
          Platform::Default().NewWritableFile(names[i]);
      out->Append(contents[i]);
      out->Close();
    }
    written = true;
  }
}
BENCHMARK(BM_Write401FilesDirectly)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pellar

int main(int argc, char** argv) {
  return pellar::bench::RunWithRatios(
      argc, argv,
      {{"BM_Body200k", "BM_Body100k", 2.2},
       {"BM_Spool401Files", "BM_Write401FilesDirectly", 3.0}});
}
