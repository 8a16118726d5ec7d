// Building the MIME message of a spool document: addresses, encoded
// headers, the text and HTML bodies after the document's replacements, and
// the attachments.
#ifndef PELLAR_MAILER_MIME_H_
#define PELLAR_MAILER_MIME_H_

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "spool_reader.h"

namespace pellar::mail {

struct Mailbox {
  std::string name;     // display name, UTF-8, may be empty
  std::string address;  // the bare address as given

  bool operator==(const Mailbox&) const = default;
};

// Splits an address list at "," and ";" (not inside quotes or angle
// brackets) into mailboxes "address", "Name <address>" or
// "\"Name\" <address>". Answers "" or why the list cannot be used.
std::string ParseAddressList(std::string_view list,
                             std::vector<Mailbox>* mailboxes);

// A header field body encoded for the wire: unchanged when it is printable
// ASCII, otherwise RFC 2047 encoded words (UTF-8, base64). Line ends inside
// become blanks; long values are folded.
std::string EncodeHeaderText(std::string_view text);

// Base64 in lines of 76 characters, each ended by CR LF.
std::string Base64Lines(std::string_view bytes);

// Quoted-printable (RFC 2045) of UTF-8 text whose lines end in CR LF.
std::string QuotedPrintable(std::string_view text);

// The content type of an attachment by its name's extension, or
// "application/octet-stream".
std::string_view ContentTypeFor(std::string_view file_name);

// A file's bytes, or false with the reason.
using FileReader = std::function<bool(const std::string& path,
                                      std::string* bytes, std::string* error)>;

struct BuildContext {
  FileReader read_file;
  std::time_t date = 0;    // for the Date header
  std::string message_id;  // "<...@...>"; made up from the content if ""
};

struct OutgoingMessage {
  std::string sender;                   // envelope sender (From)
  std::vector<std::string> recipients;  // To, Cc and Bcc addresses
  std::string data;  // the message, CR LF line ends, ASCII only
};

// Builds the message of `document`. Answers "" or why it cannot be built
// (a missing file, no sender or recipient, a bad address): a fault of the
// document, which sending again would not mend.
std::string BuildMessage(const SpoolDocument& document,
                         const BuildContext& context, OutgoingMessage* out);

}  // namespace pellar::mail

#endif  // PELLAR_MAILER_MIME_H_
