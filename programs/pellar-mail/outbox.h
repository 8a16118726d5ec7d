// One run over an outbox: every spool document sent once, then moved to
// sent/, moved to failed/ with the reason, or left for the next run.
#ifndef PELLAR_MAILER_OUTBOX_H_
#define PELLAR_MAILER_OUTBOX_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "smtp_sender.h"

namespace pellar::mail {

// Exit statuses of a run (75 is EX_TEMPFAIL of sysexits.h).
constexpr int kExitAllSent = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSomeDeferred = 75;

struct RunOptions {
  bool dry_run = false;  // print each message instead of sending it
  // Send documents of any owner and mode, for an outbox shared on purpose.
  bool trust_any_owner = false;
  uint64_t max_size = 25 << 20;  // the largest message, in bytes sent
  long lock_timeout = 60;        // seconds to wait for another run
  SenderOptions sender;
};

// Processes the documents "*.xml" of `outbox` in name order, holding the
// outbox's lock so that no other run sends at the same time, through
// `sender` (SMTP when nullptr). Writes one line per document and a summary
// to `out`, and trouble with the outbox itself to `err`. Answers the exit
// status.
[[nodiscard]] int RunOutbox(const std::string& outbox,
                            const RunOptions& options, std::ostream& out,
                            std::ostream& err, MessageSender* sender = nullptr);

}  // namespace pellar::mail

#endif  // PELLAR_MAILER_OUTBOX_H_
