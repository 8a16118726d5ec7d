// pellar-mail: the mail program for Email.SendOutbox. It sends the spool
// documents of an outbox over SMTP and sorts them into sent/ and failed/.
#include <curl/curl.h>
#include <expat.h>

#include <charconv>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <pellar/base/number.h>
#include <pellar/base/value.h>
#include "outbox.h"

namespace pellar::mail {
namespace {

constexpr std::string_view kUsage =
    "Usage: pellar-mail [OPTION...] OUTBOX\n"
    "Sends every spool document OUTBOX/*.xml, in name order, over SMTP.\n"
    "\n"
    "Options:\n"
    "  --dry-run                print each message instead of sending it\n"
    "  --cacert FILE            trust the certificates in FILE (PEM) for TLS\n"
    "                           and SSL instead of the system's\n"
    "  --connect-timeout SECONDS  give up connecting after this (default 30)\n"
    "  --timeout SECONDS        give up when the server stalls this long\n"
    "                           (default 60)\n"
    "  --max-size BYTES         fail a message larger than this on the wire\n"
    "                           (default 26214400, 25 MiB; K, M or G after\n"
    "                           the number for KiB, MiB, GiB)\n"
    "  --lock-timeout SECONDS   wait this long for another run on OUTBOX,\n"
    "                           then exit 75 (default 60)\n"
    "  --trust-any-owner        also send documents of other users and ones\n"
    "                           others may change (a deliberately shared\n"
    "                           outbox)\n"
    "  --help, --version\n"
    "\n"
    "A sent document moves to OUTBOX/sent/. One refused for good (a 5xx\n"
    "reply, a missing file, a document that cannot be read) moves to\n"
    "OUTBOX/failed/ beside NAME.log, which gives the reason. One that meets a\n"
    "temporary failure (a 4xx reply, no connection, a timeout) stays for the\n"
    "next run. Only documents of the user running the program (or of\n"
    "root) that no one else may change are sent; a file they attach is\n"
    "never reached through another user's symbolic link. The lock\n"
    "OUTBOX/.pellar-mail.lock, the run log OUTBOX/pellar-mail.log, sent/ and\n"
    "failed/ must belong to that user (or root), be no symbolic links and be\n"
    "writable by no one else, or the run stops with the reason. An OUTBOX\n"
    "with blanks may come as several arguments.\n"
    "\n"
    "Exit status:\n"
    "  0   every document was sent (or there were none)\n"
    "  1   any document failed\n"
    "  2   wrong usage, or an outbox that cannot be used\n"
    "  75  any document was deferred and none failed, or another run kept\n"
    "      the lock\n"
    "\n"
    "Files:\n"
    "  OUTBOX/*.xml                the spool documents Email.SaveOutbox\n"
    "                              writes\n"
    "  OUTBOX/.NAME.xml.sending    a document claimed by the run sending it\n"
    "  OUTBOX/sent/                where sent documents move; a name taken\n"
    "                              there gets a number (NAME-1.xml)\n"
    "  OUTBOX/failed/              where failed documents move, likewise\n"
    "  OUTBOX/failed/NAME.log      why a document failed\n"
    "  OUTBOX/pellar-mail.log      every run's output lines, appended\n"
    "  OUTBOX/.pellar-mail.lock    held while a run works on OUTBOX\n"
    "\n"
    "Examples:\n"
    "  pellar-mail --dry-run out/mail\n"
    "      prints the messages out/mail holds instead of sending them\n"
    "  pellar-mail --cacert ca.pem out/mail\n"
    "      sends them, trusting the server certificates ca.pem vouches for\n";

[[nodiscard]] bool ParseSeconds(std::string_view text, long* seconds) {
  long value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1) {
    return false;
  }
  *seconds = value;
  return true;
}

int Usage(std::string_view problem) {
  std::cerr << "pellar-mail: " << problem << "\n" << kUsage;
  return kExitUsage;
}

int Main(const std::vector<std::string>& args) {
  RunOptions options;
  size_t i = 0;
  for (; i < args.size() && args[i].starts_with("--"); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--help") {
      std::cout << kUsage;
      return kExitAllSent;
    }
    if (arg == "--version") {
      const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
      std::cout << "pellar-mail " << PELLAR_VERSION_TEXT << " (libcurl "
                << curl->version << ", " << XML_ExpatVersion() << ")\n";
      return kExitAllSent;
    }
    if (arg == "--dry-run") {
      options.dry_run = true;
      continue;
    }
    if (arg == "--trust-any-owner") {
      options.trust_any_owner = true;
      continue;
    }
    const bool takes_value = arg == "--cacert" || arg == "--connect-timeout" ||
                             arg == "--timeout" || arg == "--max-size" ||
                             arg == "--lock-timeout";
    if (!takes_value) return Usage("unknown option " + arg);
    if (i + 1 == args.size()) return Usage(arg + " needs a value");
    const std::string& value = args[++i];
    if (arg == "--cacert") {
      options.sender.ca_file = value;
    } else if (arg == "--max-size") {
      if (!ParseByteCount(value, &options.max_size)) {
        return Usage("--max-size takes a number of bytes, not " + value);
      }
    } else if (arg == "--lock-timeout") {
      if (!ParseSeconds(value, &options.lock_timeout)) {
        return Usage(arg + " takes a number of seconds, not " + value);
      }
    } else if (!ParseSeconds(value, arg == "--timeout"
                                        ? &options.sender.idle_timeout
                                        : &options.sender.connect_timeout)) {
      return Usage(arg + " takes a number of seconds, not " + value);
    }
  }
  if (i == args.size()) return Usage("missing OUTBOX");
  // The library starts the program with the outbox unquoted: a path with
  // blanks arrives split at them.
  std::string outbox = args[i];
  for (++i; i < args.size(); ++i) outbox += " " + args[i];

  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::cerr << "pellar-mail: cannot start libcurl\n";
    return kExitSomeDeferred;
  }
  const int status = RunOutbox(outbox, options, std::cout, std::cerr);
  curl_global_cleanup();
  return status;
}

}  // namespace
}  // namespace pellar::mail

int main(int argc, char** argv) {
  return pellar::mail::Main(std::vector<std::string>(argv + 1, argv + argc));
}
