// pellar-mail builds a message while it holds the outbox's lock: a message
// to many recipients must cost time in proportion to them.
#include <string>

#include "mime.h"
#include "ratio.h"
#include "spool_reader.h"

namespace pellar::mail {
namespace {

void BuildForRecipients(benchmark::State& state, int recipients) {
  std::string list;
  for (int i = 0; i < recipients; ++i) {
    list += "user" + std::to_string(i) + "@example.com; ";
  }
  SpoolDocument document;
  document.message = {{"From", "reports@example.com"}, {"Bcc", list}};
  const BuildContext context{nullptr, 0, "", UINT64_MAX};
  for (auto _ : state) {
    OutgoingMessage message;
    benchmark::DoNotOptimize(BuildMessage(document, context, &message));
  }
}

void BM_Build50kRecipients(benchmark::State& state) {
  BuildForRecipients(state, 50000);
}
BENCHMARK(BM_Build50kRecipients)->Unit(benchmark::kMillisecond);

void BM_Build100kRecipients(benchmark::State& state) {
  BuildForRecipients(state, 100000);
}
BENCHMARK(BM_Build100kRecipients)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pellar::mail

int main(int argc, char** argv) {
  return pellar::bench::RunWithRatios(
      argc, argv,
      // Twice the recipients: 2 when linear, a little more as the set
      // outgrows the caches; 4 when each is compared with all before it.
      {{"BM_Build100kRecipients", "BM_Build50kRecipients", 3.0}});
}
