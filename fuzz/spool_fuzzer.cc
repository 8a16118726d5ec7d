// pellar-mail's spool reader on arbitrary bytes, and the message built from
// whatever it reads. Every message must be 7-bit text in CR LF lines of at
// most 998 characters whose header holds no field the document did not
// ask for, and the envelope addresses must be single SMTP words: then no
// document can break the SMTP transaction or smuggle in a recipient. Files
// the document names are served from memory (their content is their name).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <pellar/base/text.h>
#include "mime.h"
#include "smtp_sender.h"
#include "spool_reader.h"

namespace pellar::mail {
namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool IsSmtpWord(std::string_view address) {
  if (address.empty()) return false;
  for (char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || c == '<' || c == '>') return false;
  }
  return true;
}

void CheckMessage(const std::string& data) {
  size_t line_start = 0;
  bool in_header = true;
  for (size_t i = 0; i < data.size(); ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    Check(byte < 0x80 && byte != 0);
    if (data[i] == '\r') Check(i + 1 < data.size() && data[i + 1] == '\n');
    if (data[i] != '\n') continue;
    Check(i > 0 && data[i - 1] == '\r');
    const std::string_view line(data.data() + line_start, i - 1 - line_start);
    Check(line.size() <= 998);
    if (in_header) {
      // A field of its own, or the folded rest of the one before.
      in_header = !line.empty();
      Check(line.empty() || line.front() == ' ' ||
            line.find(':') != std::string_view::npos);
      Check(!line.starts_with("Bcc:") && !line.starts_with("SMTPPassword:"));
    }
    line_start = i + 1;
  }
  Check(line_start == data.size() && !in_header);
}

}  // namespace
}  // namespace pellar::mail

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pellar::mail;
  SpoolDocument document;
  const ReadResult read = ReadSpoolDocument(
      std::string_view(reinterpret_cast<const char*>(data), size), &document);
  if (read.status != ReadResult::Status::kRead) {
    Check(!read.error.empty() && document.message.empty());
    return 0;
  }
  for (const auto* list : {&document.message, &document.extras}) {
    for (const Element& element : *list) {
      Check(pellar::ToUtf8(pellar::FromUtf8(element.value)) == element.value);
    }
  }
  SmtpServer server;
  if (ServerOfDocument(document, &server).empty()) {
    const std::string url = server.Url();
    Check(url.find_first_of(" /?#@\r\n", url.find("://") + 3) ==
          std::string::npos);
  }
  const BuildContext context{
      [](const std::string& path, std::string*) { return SourceOfBytes(path); },
      0, "<id@example.com>", 1 << 20};  // replacements stay bounded
  OutgoingMessage message;
  if (BuildMessage(document, context, &message).empty()) {
    CheckMessage(message.Text());
    Check(IsSmtpWord(message.sender) && !message.recipients.empty());
    for (const std::string& recipient : message.recipients) {
      Check(IsSmtpWord(recipient));
    }
  }
  return 0;
}
