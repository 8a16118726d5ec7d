// Sending a built message over SMTP with libcurl, and telling an accepted
// message from one refused for good and one to try again later.
#ifndef PELLAR_MAILER_SMTP_SENDER_H_
#define PELLAR_MAILER_SMTP_SENDER_H_

#include <curl/curl.h>

#include <string>
#include <string_view>

#include "mime.h"
#include "spool_reader.h"

namespace pellar::mail {

enum class Encryption {
  kNone,  // plain SMTP
  kTls,   // STARTTLS, required: no login or message goes out in clear
  kSsl,   // TLS from the first byte (smtps)
};

struct SmtpServer {
  std::string host;  // a name, an IPv4 address or an IPv6 address
  int port = 25;
  Encryption encryption = Encryption::kNone;
  std::string user;  // no login when empty
  std::string password;

  // "smtp://host:port" or "smtps://host:port".
  std::string Url() const;
};

// The server of a document from its Server ("host", "host:port" or
// "host port"; "[v6]" with or without ":port"), Encryption ("None",
// "TLS" or "SSL", any case; "None" when absent; of several anywhere in the
// document, the one that is not "None", and two such must agree),
// SMTPUser and SMTPPassword.
// The port defaults to 465 for SSL and 25 otherwise. Answers "" or why the
// values cannot be used.
[[nodiscard]] std::string ServerOfDocument(const SpoolDocument& document,
                                           SmtpServer* server);

struct SenderOptions {
  std::string ca_file;        // trusted certificates; the system's when ""
  long connect_timeout = 30;  // seconds to connect, TLS handshake included
  long idle_timeout = 60;     // seconds a reply or the upload may stall
};

struct [[nodiscard]] SendResult {
  enum class Outcome {
    kAccepted,  // the server took the message
    kRefused,   // a permanent failure: sending again would not help
    kDeferred,  // a temporary failure: try again on a later run
  };
  Outcome outcome = Outcome::kAccepted;
  std::string reason;
  // The server could not be reached at all (deferred): later messages to
  // it in the same run need not wait for it again.
  bool unreachable = false;
};

// What a run sends its messages through.
class MessageSender {
 public:
  virtual ~MessageSender() = default;
  virtual SendResult Send(const SmtpServer& server,
                          const OutgoingMessage& message) = 0;
};

// One sender per run: it keeps the connection to a server open between
// messages.
class SmtpSender : public MessageSender {
 public:
  explicit SmtpSender(SenderOptions options);
  ~SmtpSender() override;
  SmtpSender(const SmtpSender&) = delete;
  SmtpSender& operator=(const SmtpSender&) = delete;

  SendResult Send(const SmtpServer& server,
                  const OutgoingMessage& message) override;

 private:
  SenderOptions options_;
  CURL* curl_ = nullptr;
};

}  // namespace pellar::mail

#endif  // PELLAR_MAILER_SMTP_SENDER_H_
