// One run over an outbox: every spool document sent once, then moved to
// sent/, moved to failed/ with the reason, or left for the next run.
#ifndef PELLAR_MAILER_OUTBOX_H_
#define PELLAR_MAILER_OUTBOX_H_

#include <ostream>
#include <string>

#include "smtp_sender.h"

namespace pellar::mail {

// Exit statuses of a run (75 is EX_TEMPFAIL of sysexits.h).
constexpr int kExitAllSent = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSomeDeferred = 75;

struct RunOptions {
  bool dry_run = false;  // print each message instead of sending it
  SenderOptions sender;
};

// Processes the documents "*.xml" of `outbox` in name order, holding the
// outbox's lock so that no other run sends at the same time. Writes one
// line per document and a summary to `out`, and trouble with the outbox
// itself to `err`. Answers the exit status.
int RunOutbox(const std::string& outbox, const RunOptions& options,
              std::ostream& out, std::ostream& err);

}  // namespace pellar::mail

#endif  // PELLAR_MAILER_OUTBOX_H_
