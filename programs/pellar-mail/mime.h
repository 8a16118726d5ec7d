// Building the MIME message of a spool document: addresses, encoded
// headers, the text and HTML bodies after the document's replacements, and
// the attachments.
#ifndef PELLAR_MAILER_MIME_H_
#define PELLAR_MAILER_MIME_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
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
[[nodiscard]] std::string ParseAddressList(std::string_view list,
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

// The bytes of a file a document names, read as they are needed, so that
// an attachment goes out without being held in memory whole.
class Source {
 public:
  virtual ~Source() = default;
  virtual uint64_t size() const = 0;
  // Reads up to `n` bytes from `offset` into `to`; answers how many (0 only
  // at the end), or -1 with the reason in `*error`.
  virtual ptrdiff_t Read(uint64_t offset, char* to, size_t n,
                         std::string* error) = 0;
};

// Bytes held in memory as a Source.
std::unique_ptr<Source> SourceOfBytes(std::string bytes);

// Opens a file named by a document, or answers nullptr with the reason.
using FileOpener = std::function<std::unique_ptr<Source>(
    const std::string& path, std::string* error)>;

struct BuildContext {
  FileOpener open_file;
  std::time_t date = 0;            // for the Date header
  std::string message_id;          // "<...@...>"; none if ""
  uint64_t max_size = UINT64_MAX;  // the largest message, in bytes sent
};

// A piece of a message: text as it goes out, or a file's bytes as base64
// lines.
struct MessagePart {
  std::string text;
  std::shared_ptr<Source> file;
};

// The size of Base64Lines of `n` bytes.
uint64_t Base64LinesSize(uint64_t n);

struct OutgoingMessage {
  std::string sender;                   // envelope sender (From)
  std::vector<std::string> recipients;  // To, Cc and Bcc addresses
  // The message, CR LF line ends, ASCII only, in pieces.
  std::vector<MessagePart> parts;

  uint64_t Size() const;
  // The whole message as one text (for a dry run and for tests); "" and
  // the reason in `*error` when a file cannot be read.
  [[nodiscard]] std::string Text(std::string* error = nullptr) const;
};

// Hands out a message's bytes in order, encoding its files as it reads
// them.
class MessageReader {
 public:
  explicit MessageReader(const OutgoingMessage& message) : message_(message) {}
  // Fills up to `n` bytes of `to`; answers how many (0 at the end), or -1
  // when a file cannot be read or no longer has the size it had (error()).
  [[nodiscard]] ptrdiff_t Read(char* to, size_t n);
  const std::string& error() const { return error_; }

 private:
  const OutgoingMessage& message_;
  size_t part_ = 0;
  uint64_t offset_ = 0;  // in the part's text, or in its file
  std::string encoded_;  // base64 lines not yet handed out
  size_t encoded_at_ = 0;
  std::string error_;
};

// Builds the message of `document`. Answers "" or why it cannot be built
// (a missing file, no sender or recipient, a bad address, more bytes than
// `max_size`): a fault of the document, which sending again would not mend.
[[nodiscard]] std::string BuildMessage(const SpoolDocument& document,
                                       const BuildContext& context,
                                       OutgoingMessage* out);

}  // namespace pellar::mail

#endif  // PELLAR_MAILER_MIME_H_
