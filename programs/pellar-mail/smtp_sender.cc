// SMTP through libcurl's easy interface.
#include "smtp_sender.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <utility>
#include <pellar/base/text_internal.h>

namespace pellar::mail {
namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Host names and addresses only: nothing that could change the URL.
bool IsHost(std::string_view host, bool bracketed) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [&](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' ||
           c == '-' || c == '_' || (bracketed && c == ':');
  });
}

[[nodiscard]] std::string ParsePort(std::string_view text, int* port) {
  int value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 ||
      value > 65535) {
    return "not a port: \"" + std::string(text) + "\"";
  }
  *port = value;
  return "";
}

// "host", "host:port", "host port", "[v6]" or "[v6]:port".
[[nodiscard]] std::string ParseServer(std::string_view text,
                                      SmtpServer* server) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return "the document names no Server";
  std::string_view host = text;
  std::string_view port;
  bool bracketed = false;
  if (text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) {
      return "not a server: \"" + std::string(text) + "\"";
    }
    host = text.substr(1, close - 1);
    bracketed = true;
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':' && rest.front() != ' ') {
        return "not a server: \"" + std::string(text) + "\"";
      }
      port = rest.substr(1);
    }
  } else if (const size_t at = text.find_first_of(": "); at != text.npos) {
    host = text.substr(0, at);
    port = text.substr(at + 1);
    while (!port.empty() && port.front() == ' ') port.remove_prefix(1);
  }
  if (!IsHost(host, bracketed)) {
    return "not a server: \"" + std::string(text) + "\"";
  }
  server->host = std::string(host);
  if (!port.empty()) return ParsePort(port, &server->port);
  return "";
}

// The message as libcurl asks for it; a file that cannot be read stops
// the upload.
size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  const ptrdiff_t n =
      static_cast<MessageReader*>(user)->Read(buffer, size * count);
  return n < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(n);
}

// The last line of the server's last 4xx or 5xx reply, for the reason of a
// refusal: the "221 Bye" of the QUIT that follows must not hide it. Only
// what comes in is kept: what goes out holds the login.
int KeepRefusal(CURL* /*curl*/, curl_infotype type, char* data, size_t size,
                void* user) {
  if (type != CURLINFO_HEADER_IN) return 0;
  std::string_view text(data, size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  const size_t start = text.find_last_of('\n');
  if (start != std::string_view::npos) text.remove_prefix(start + 1);
  if (text.starts_with('4') || text.starts_with('5')) {
    static_cast<std::string*>(user)->assign(text);
  }
  return 0;
}

// Failures that depend on the document, the trust store or the server's
// set-up, not on the moment: sending again the same way would fail again.
bool IsPermanent(CURLcode code) {
  switch (code) {
    case CURLE_USE_SSL_FAILED:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return true;
    default:
      return false;
  }
}

bool IsUnreachable(CURLcode code) {
  return code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST ||
         code == CURLE_OPERATION_TIMEDOUT;
}

}  // namespace

std::string SmtpServer::Url() const {
  std::string url = encryption == Encryption::kSsl ? "smtps://" : "smtp://";
  if (host.find(':') != std::string::npos) {
    url += "[" + host + "]";
  } else {
    url += host;
  }
  return url + ":" + std::to_string(port);
}

std::string ServerOfDocument(const SpoolDocument& document,
                             SmtpServer* server) {
  *server = SmtpServer();
  // A document may hold several: the library writes "None" with every
  // login, and a tag added later may ask for more. "None" asks for nothing,
  // so a request for TLS or SSL anywhere stands; two requests that differ
  // leave no way to tell which was meant, and a value not understood may
  // be a request misspelled: either fails the document.
  for (const auto* list : {&document.message, &document.extras}) {
    for (const Element& element : *list) {
      if (element.name != "Encryption") continue;
      const std::string& value = element.value;
      Encryption asked = Encryption::kNone;
      if (EqualsIgnoreCase(value, "TLS")) {
        asked = Encryption::kTls;
      } else if (EqualsIgnoreCase(value, "SSL")) {
        asked = Encryption::kSsl;
      } else if (!EqualsIgnoreCase(value, "None")) {
        return "unknown Encryption \"" + value + "\" (None, TLS or SSL)";
      }
      if (asked == Encryption::kNone) continue;
      if (server->encryption != Encryption::kNone &&
          server->encryption != asked) {
        return "Encryption asks for both TLS and SSL";
      }
      server->encryption = asked;
    }
  }
  if (server->encryption == Encryption::kSsl) server->port = 465;
  const std::string* text = document.Find("Server");
  std::string bad = ParseServer(text ? *text : "", server);
  if (!bad.empty()) return bad;
  if (const std::string* user = document.Find("SMTPUser")) {
    server->user = *user;
  }
  if (const std::string* password = document.Find("SMTPPassword")) {
    server->password = *password;
  }
  return "";
}

SmtpSender::SmtpSender(SenderOptions options) : options_(std::move(options)) {}

SmtpSender::~SmtpSender() {
  if (curl_ != nullptr) curl_easy_cleanup(curl_);
}

SendResult SmtpSender::Send(const SmtpServer& server,
                            const OutgoingMessage& message) {
  using Outcome = SendResult::Outcome;
  // One handle for the run keeps its connections; every option is set anew.
  if (curl_ == nullptr) curl_ = curl_easy_init();
  if (curl_ == nullptr) return {Outcome::kDeferred, "cannot start libcurl"};
  curl_easy_reset(curl_);

  const std::string url = server.Url();
  curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(
      curl_, CURLOPT_USE_SSL,
      server.encryption == Encryption::kTls ? CURLUSESSL_ALL : CURLUSESSL_NONE);
  if (!options_.ca_file.empty()) {
    curl_easy_setopt(curl_, CURLOPT_CAINFO, options_.ca_file.c_str());
  }
  if (!server.user.empty()) {
    curl_easy_setopt(curl_, CURLOPT_USERNAME, server.user.c_str());
    curl_easy_setopt(curl_, CURLOPT_PASSWORD, server.password.c_str());
  }
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, options_.connect_timeout);
  curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                   options_.idle_timeout);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, options_.idle_timeout);

  const std::string sender = "<" + message.sender + ">";
  curl_easy_setopt(curl_, CURLOPT_MAIL_FROM, sender.c_str());
  // Each added after the last item, not from the head: curl_slist_append
  // walks the list it is given, and a list may hold many thousands.
  curl_slist* recipients = nullptr;
  curl_slist* last = nullptr;
  for (const std::string& recipient : message.recipients) {
    curl_slist* added =
        curl_slist_append(last, ("<" + recipient + ">").c_str());
    if (added == nullptr) {
      curl_slist_free_all(recipients);
      return {Outcome::kDeferred, "out of memory"};
    }
    last = last == nullptr ? (recipients = added) : last->next;
  }
  curl_easy_setopt(curl_, CURLOPT_MAIL_RCPT, recipients);

  MessageReader upload(message);
  curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl_, CURLOPT_READFUNCTION, &ReadUpload);
  curl_easy_setopt(curl_, CURLOPT_READDATA, &upload);
  curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE,
                   static_cast<curl_off_t>(message.Size()));

  std::string refusal;
  curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, &KeepRefusal);
  curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, &refusal);
  curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
  char detail[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, detail);

  const CURLcode code = curl_easy_perform(curl_);
  long reply = 0;
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply);
  curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, nullptr);
  // The handle outlives `refusal`: the QUIT of a later cleanup must not
  // write into it.
  curl_easy_setopt(curl_, CURLOPT_VERBOSE, 0L);
  curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, nullptr);
  curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, nullptr);
  curl_slist_free_all(recipients);
  if (code == CURLE_OK) return {Outcome::kAccepted, ""};

  // A connection left after a failure may be mid-transaction: start afresh.
  curl_easy_cleanup(curl_);
  curl_ = nullptr;
  SendResult result;
  if (!upload.error().empty()) {
    // The document's file, not the server: sending again may work.
    return {Outcome::kDeferred, upload.error()};
  }
  if (reply >= 400) {
    result.outcome = reply >= 500 ? Outcome::kRefused : Outcome::kDeferred;
    const std::string number = std::to_string(reply);
    result.reason = "the server answered " +
                    (refusal.starts_with(number) ? refusal : number);
    return result;
  }
  result.outcome = IsPermanent(code) ? Outcome::kRefused : Outcome::kDeferred;
  result.unreachable = IsUnreachable(code) && reply == 0;
  result.reason = curl_easy_strerror(code);
  if (detail[0] != '\0') result.reason += std::string(": ") + detail;
  return result;
}

}  // namespace pellar::mail
