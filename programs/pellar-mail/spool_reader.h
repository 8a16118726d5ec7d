// Reading one outbox spool document: the elements of its message and of its
// Extras section, in document order, as UTF-8 texts.
//
// A document is read as the encoding it declares (the library's own declare
// utf-8 and hold Windows-1252 in element names, and it writes characters
// above 126 as references to their Windows-1252 codes, "&#0150;" being an
// en dash). Element names the program knows are matched in any case and
// handed on in the library's spelling ("encryption" is "Encryption").
#ifndef PELLAR_MAILER_SPOOL_READER_H_
#define PELLAR_MAILER_SPOOL_READER_H_

#include <string>
#include <string_view>
#include <vector>

namespace pellar::mail {

struct Element {
  std::string name;
  std::string value;  // UTF-8, line ends as written (CR LF inside values)

  bool operator==(const Element&) const = default;
};

struct SpoolDocument {
  // Children of MailMessage other than Extras: Server, the login, From, To,
  // Subject, the added tags (Cc, Reply-To, ...), Body and HTMLBody.
  std::vector<Element> message;
  // Children of Extras: HTML-File, Find, Replace, ReplaceFile, Attach, ...
  std::vector<Element> extras;

  // The value of the first message element `name`, or nullptr.
  const std::string* Find(std::string_view name) const;
};

struct [[nodiscard]] ReadResult {
  enum class Status {
    kRead,
    // The bytes end before the document does: empty, or cut off inside it,
    // as a document still being written is.
    kIncomplete,
    kMalformed,
  };
  Status status = Status::kRead;
  std::string error;  // why, with the line, unless kRead
};

// Reads the document `bytes` into `*document`.
ReadResult ReadSpoolDocument(std::string_view bytes, SpoolDocument* document);

}  // namespace pellar::mail

#endif  // PELLAR_MAILER_SPOOL_READER_H_
