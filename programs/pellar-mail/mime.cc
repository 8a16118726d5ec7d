// The MIME message of a spool document. Everything goes out as 7-bit ASCII
// (quoted-printable bodies, base64 attachments, encoded header words), so
// no server needs 8BITMIME or SMTPUTF8 for it.
#include "mime.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <utility>

#include <pellar/base/chars.h>
#include <pellar/base/text.h>

namespace pellar::mail {
namespace {

// Boundaries start with "=_", which neither quoted-printable nor base64
// text can hold, so no part can contain them.
constexpr std::string_view kMixedBoundary = "=_pellar-mail_mixed";
constexpr std::string_view kAlternativeBoundary = "=_pellar-mail_alternative";

// Encoded words carry 42 bytes each: 56 base64 characters, a folded line of
// at most 70 characters.
constexpr size_t kEncodedWordBytes = 42;
// Folded header lines aim at this many characters.
constexpr size_t kFoldAt = 76;
// The longest address SMTP carries (RFC 5321 path without brackets).
constexpr size_t kMaxAddress = 254;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsWhiteSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsWhiteSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool IsPrintableAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::string Base64(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                      reinterpret_cast<const unsigned char*>(bytes.data()),
                      static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

// RFC 2047 encoded words of `text`, split between characters, joined by
// `separator`.
std::string EncodedWords(std::string_view text, std::string_view separator) {
  std::string out;
  while (!text.empty()) {
    size_t n = std::min(text.size(), kEncodedWordBytes);
    // Back off to the start of a UTF-8 character.
    while (n < text.size() && n > 1 &&
           (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
      --n;
    }
    if (!out.empty()) out += separator;
    out += "=?UTF-8?B?";
    out += Base64(text.substr(0, n));
    out += "?=";
    text.remove_prefix(n);
  }
  return out;
}

// Printable ASCII folded before blanks so lines stay near kFoldAt.
std::string FoldAscii(std::string_view text) {
  std::string out;
  size_t line = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view word = text.substr(start, end - start);
    if (start > 0) {
      if (line + 1 + word.size() > kFoldAt && line > 0) {
        out += "\r\n";
        line = 0;
      }
      out += ' ';
      ++line;
    }
    out += word;
    line += word.size();
    start = end + 1;
  }
  return out;
}

// Line ends (CR LF, CR or LF) as blanks: a header value is one line.
std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

// Whether any blank-separated word is too long to fold.
bool HasLongWord(std::string_view text) {
  size_t run = 0;
  for (char c : text) {
    run = c == ' ' ? 0 : run + 1;
    if (run > kFoldAt) return true;
  }
  return false;
}

// A display name as a header phrase: plain words, a quoted string, or
// encoded words.
std::string Phrase(std::string_view name) {
  const std::string line = OneLine(name);
  if (!IsPrintableAscii(line) || line.find("=?") != std::string::npos ||
      HasLongWord(line)) {
    return EncodedWords(line, "\r\n ");
  }
  const bool plain = std::all_of(line.begin(), line.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view(" !#$%&'*+-/=?^_`{|}~").find(c) !=
               std::string_view::npos;
  });
  if (plain) return line;
  std::string quoted = "\"";
  for (char c : line) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string MailboxText(const Mailbox& mailbox) {
  if (mailbox.name.empty()) return mailbox.address;
  return Phrase(mailbox.name) + " <" + mailbox.address + ">";
}

// "Name: " and the mailboxes, one per folded line.
std::string AddressHeader(std::string_view name,
                          const std::vector<Mailbox>& mailboxes) {
  std::string header(name);
  header += ": ";
  for (size_t i = 0; i < mailboxes.size(); ++i) {
    if (i > 0) header += ",\r\n ";
    header += MailboxText(mailboxes[i]);
  }
  return header + "\r\n";
}

// The quoted-string inside a display name, without its quotes.
std::string Unquote(std::string_view name) {
  if (name.size() < 2 || name.front() != '"' || name.back() != '"') {
    return std::string(name);
  }
  std::string out;
  for (size_t i = 1; i + 1 < name.size(); ++i) {
    if (name[i] == '\\' && i + 2 < name.size()) ++i;
    out += name[i];
  }
  return out;
}

[[nodiscard]] std::string CheckAddress(std::string_view address) {
  if (address.empty()) return "an empty address";
  if (address.size() > kMaxAddress) {
    return "an address longer than " + std::to_string(kMaxAddress) +
           " characters";
  }
  for (char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    // Separators and specials cannot stand unquoted in an address: "<c,d@x>"
    // is a mistake, not one mailbox, and naming it as one would send to
    // whatever the server makes of it.
    if (byte <= 0x20 || byte == 0x7F ||
        std::string_view("<>\"(),;\\").find(c) != std::string_view::npos) {
      return "not an address: \"" + OneLine(address) + "\"";
    }
    // Such addresses need SMTPUTF8, which servers need not offer.
    if (byte >= 0x80) {
      return "an address beyond ASCII: \"" + std::string(address) + "\"";
    }
  }
  return "";
}

// CR LF, CR and LF all become CR LF.
std::string CrLfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

// Replaces every `find` in `text`; false, with `text` unchanged, as soon as
// the result would hold more than `limit` bytes: a short text replaced many
// times must not grow far past the message size limit before it is
// refused.
bool ReplaceAll(std::string& text, std::string_view find,
                std::string_view replace, uint64_t limit) {
  if (find.empty()) return true;
  size_t at = text.find(find);
  if (at == std::string::npos) return true;
  std::string out;
  size_t copied = 0;
  for (; at != std::string::npos; at = text.find(find, at + find.size())) {
    if (out.size() + (at - copied) + replace.size() > limit) return false;
    out.append(text, copied, at - copied);
    out += replace;
    copied = at + find.size();
  }
  if (out.size() + (text.size() - copied) > limit) return false;
  out.append(text, copied);
  text = std::move(out);
  return true;
}

// A text file named by the document: UTF-8 when it is valid UTF-8 (without
// a byte order mark), else Windows-1252 as the library writes.
std::string TextOfFile(std::string bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  if (ToUtf8(FromUtf8(bytes)) == bytes) return bytes;
  return ToUtf8(FromAnsi(bytes));
}

// The RFC 5322 date of `when` in local time, with English names whatever
// the locale.
std::string DateText(std::time_t when) {
  static constexpr std::array<const char*, 7> kDays = {
      "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun",
      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  localtime_r(&when, &local);
  const long offset = local.tm_gmtoff / 60;
  char text[64];
  std::snprintf(
      text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
      kDays[static_cast<size_t>(local.tm_wday) % 7], local.tm_mday,
      kMonths[static_cast<size_t>(local.tm_mon) % 12], local.tm_year + 1900,
      local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
      std::labs(offset) / 60, std::labs(offset) % 60);
  return text;
}

bool EqualsAsciiIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Message elements that are not copied as header fields: the envelope and
// login, the bodies, and the fields this builder writes itself.
bool IsOwnField(std::string_view name) {
  static constexpr std::array<std::string_view, 15> kOwn = {
      "Server", "Encryption", "SMTPUser", "SMTPPassword", "From",
      "To",     "Cc",         "Bcc",      "Reply-To",     "Subject",
      "Body",   "HTMLBody",   "Date",     "Message-ID",   "MIME-Version"};
  if (name.size() >= 8 &&
      EqualsAsciiIgnoreCase(name.substr(0, 8), "Content-")) {
    return true;
  }
  return std::any_of(kOwn.begin(), kOwn.end(), [&](std::string_view own) {
    return EqualsAsciiIgnoreCase(name, own);
  });
}

bool IsFieldName(std::string_view name) {
  return !name.empty() && name.size() <= kFoldAt &&
         std::all_of(name.begin(), name.end(),
                     [](char c) { return c > 0x20 && c < 0x7F && c != ':'; });
}

std::string TextPart(std::string_view subtype, std::string_view text) {
  std::string part = "Content-Type: text/";
  part += subtype;
  part +=
      "; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
  part += QuotedPrintable(CrLfLines(text));
  part += "\r\n";
  return part;
}

struct Attachment {
  std::string name;  // the file's name without its folder
  std::shared_ptr<Source> file;
};

// attr-char of RFC 2231 parameter values.
bool IsAttributeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
}

// File names up to this long go as one quoted string when plain ASCII.
constexpr size_t kMaxQuotedName = 200;
// Percent-encoded characters per RFC 2231 continuation line.
constexpr size_t kContinuationChars = 60;

// The header of an attachment's part, up to the blank line before its
// base64 lines.
std::string AttachmentHeader(const Attachment& attachment) {
  std::string type(ContentTypeFor(attachment.name));
  std::string disposition = "attachment";
  if (IsPrintableAscii(attachment.name) &&
      attachment.name.size() <= kMaxQuotedName) {
    std::string quoted = "\"";
    for (char c : attachment.name) {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
    quoted += '"';
    type += "; name=" + quoted;
    disposition += "; filename=" + quoted;
  } else {
    // RFC 2231 in numbered pieces for readers that know it, encoded words
    // for older ones.
    type += ";\r\n name=\"" + EncodedWords(attachment.name, "\r\n ") + "\"";
    std::string piece = "UTF-8''";
    int number = 0;
    for (size_t i = 0; i < attachment.name.size(); ++i) {
      const char c = attachment.name[i];
      if (IsAttributeChar(c)) {
        piece += c;
      } else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
        piece += hex;
      }
      if (piece.size() >= kContinuationChars ||
          i + 1 == attachment.name.size()) {
        disposition +=
            ";\r\n filename*" + std::to_string(number++) + "*=" + piece;
        piece.clear();
      }
    }
  }
  return "Content-Type: " + type +
         "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: " +
         disposition + "\r\n\r\n";
}

// "--boundary" lines around `parts`, closed by "--boundary--".
std::string Multipart(std::string_view subtype, std::string_view boundary,
                      const std::vector<std::string>& parts) {
  std::string body = "Content-Type: multipart/";
  body += subtype;
  body += "; boundary=\"";
  body += boundary;
  body += "\"\r\n\r\n";
  for (const std::string& part : parts) {
    body += "--";
    body += boundary;
    body += "\r\n";
    body += part;
  }
  body += "--";
  body += boundary;
  body += "--\r\n";
  return body;
}

// The whole of a text file named by the document, if it is no larger than
// `limit`.
[[nodiscard]] bool ReadWhole(Source& file, uint64_t limit, std::string* bytes,
                             std::string* error) {
  if (file.size() > limit) {
    *error = "larger than the message size limit (" +
             std::to_string(file.size()) + " bytes)";
    return false;
  }
  bytes->resize(static_cast<size_t>(file.size()));
  size_t got = 0;
  while (got < bytes->size()) {
    const ptrdiff_t n =
        file.Read(got, bytes->data() + got, bytes->size() - got, error);
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes->resize(got);
  return true;
}

class BytesSource : public Source {
 public:
  explicit BytesSource(std::string bytes) : bytes_(std::move(bytes)) {}
  uint64_t size() const override { return bytes_.size(); }
  ptrdiff_t Read(uint64_t offset, char* to, size_t n,
                 std::string* /*error*/) override {
    if (offset >= bytes_.size()) return 0;
    n = std::min<size_t>(n, bytes_.size() - offset);
    std::memcpy(to, bytes_.data() + offset, n);
    return static_cast<ptrdiff_t>(n);
  }

 private:
  std::string bytes_;
};

}  // namespace

std::unique_ptr<Source> SourceOfBytes(std::string bytes) {
  return std::make_unique<BytesSource>(std::move(bytes));
}

uint64_t Base64LinesSize(uint64_t n) {
  constexpr uint64_t kLineBytes = 57;  // 76 characters and CR LF
  const uint64_t rest = n % kLineBytes;
  return n / kLineBytes * 78 + (rest == 0 ? 0 : (rest + 2) / 3 * 4 + 2);
}

uint64_t OutgoingMessage::Size() const {
  uint64_t size = 0;
  for (const MessagePart& part : parts) {
    size += part.file ? Base64LinesSize(part.file->size()) : part.text.size();
  }
  return size;
}

std::string OutgoingMessage::Text(std::string* error) const {
  MessageReader reader(*this);
  std::string text;
  char buffer[65536];
  for (;;) {
    const ptrdiff_t n = reader.Read(buffer, sizeof buffer);
    if (n < 0) {
      if (error != nullptr) *error = reader.error();
      return "";
    }
    if (n == 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}

ptrdiff_t MessageReader::Read(char* to, size_t n) {
  // Whole base64 lines at a time: a multiple of 57 bytes.
  constexpr size_t kChunk = 57 * 1024;
  size_t done = 0;
  while (done < n && part_ < message_.parts.size()) {
    const MessagePart& part = message_.parts[part_];
    if (encoded_at_ < encoded_.size()) {
      const size_t k = std::min(n - done, encoded_.size() - encoded_at_);
      std::memcpy(to + done, encoded_.data() + encoded_at_, k);
      encoded_at_ += k;
      done += k;
      continue;
    }
    if (!part.file) {
      const size_t k = static_cast<size_t>(
          std::min<uint64_t>(n - done, part.text.size() - offset_));
      std::memcpy(to + done, part.text.data() + offset_, k);
      offset_ += k;
      done += k;
    } else if (offset_ < part.file->size()) {
      std::string chunk(static_cast<size_t>(std::min<uint64_t>(
                            kChunk, part.file->size() - offset_)),
                        '\0');
      size_t got = 0;
      while (got < chunk.size()) {
        const ptrdiff_t k = part.file->Read(offset_ + got, chunk.data() + got,
                                            chunk.size() - got, &error_);
        if (k < 0) return -1;
        if (k == 0) {
          // The size was promised to the server and counted against the
          // limit: a file cut short while it goes out fails the message.
          error_ = "an attached file became shorter while it was sent";
          return -1;
        }
        got += static_cast<size_t>(k);
      }
      offset_ += got;
      encoded_ = Base64Lines(chunk);
      encoded_at_ = 0;
      continue;
    }
    const uint64_t end = part.file ? part.file->size() : part.text.size();
    if (offset_ == end) {
      ++part_;
      offset_ = 0;
    }
  }
  return static_cast<ptrdiff_t>(done);
}

std::string ParseAddressList(std::string_view list,
                             std::vector<Mailbox>* mailboxes) {
  std::vector<std::string_view> items;
  bool quoted = false;
  int angle = 0;
  size_t start = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    const char c = list[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '<') {
      ++angle;
    } else if (c == '>' && angle > 0) {
      --angle;
    } else if ((c == ',' || c == ';') && angle == 0) {
      items.push_back(list.substr(start, i - start));
      start = i + 1;
    }
  }
  if (start <= list.size()) items.push_back(list.substr(start));
  for (std::string_view item : items) {
    item = Trim(item);
    if (item.empty()) continue;
    Mailbox mailbox;
    std::string_view address = item;
    if (item.back() == '>') {
      const size_t open = item.rfind('<');
      if (open == std::string_view::npos) {
        return "not an address: \"" + OneLine(item) + "\"";
      }
      address = Trim(item.substr(open + 1, item.size() - open - 2));
      mailbox.name = Unquote(Trim(item.substr(0, open)));
    }
    std::string bad = CheckAddress(address);
    if (!bad.empty()) return bad;
    mailbox.address = std::string(address);
    mailboxes->push_back(std::move(mailbox));
  }
  return "";
}

std::string EncodeHeaderText(std::string_view text) {
  const std::string line = OneLine(text);
  const bool plain = std::all_of(line.begin(), line.end(), [](char c) {
    return (c >= 0x20 && c < 0x7F) || c == '\t';
  });
  if (!plain || line.find("=?") != std::string::npos || HasLongWord(line)) {
    return EncodedWords(line, "\r\n ");
  }
  return FoldAscii(line);
}

std::string Base64Lines(std::string_view bytes) {
  constexpr size_t kLineBytes = 57;  // 76 characters
  std::string out;
  out.resize((bytes.size() + kLineBytes - 1) / kLineBytes * 78 + 1);
  auto* to = reinterpret_cast<unsigned char*>(out.data());
  const auto* from = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t left = bytes.size();
  while (left > 0) {
    const size_t n = std::min(left, kLineBytes);
    to += EVP_EncodeBlock(to, from, static_cast<int>(n));
    *to++ = '\r';
    *to++ = '\n';
    from += n;
    left -= n;
  }
  out.resize(
      static_cast<size_t>(to - reinterpret_cast<unsigned char*>(out.data())));
  return out;
}

std::string QuotedPrintable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  constexpr size_t kMaxLine = 76;  // soft break "=" included
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  size_t line = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += "\r\n";
      line = 0;
      ++i;
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    const bool at_line_end =
        i + 1 == text.size() ||
        (text[i + 1] == '\r' && i + 2 < text.size() && text[i + 2] == '\n');
    const bool literal = (byte > 0x20 && byte < 0x7F && c != '=') ||
                         ((c == ' ' || c == '\t') && !at_line_end);
    const size_t width = literal ? 1 : 3;
    if (line + width > kMaxLine - 1) {
      out += "=\r\n";
      line = 0;
    }
    if (literal) {
      out += c;
    } else {
      out += '=';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
    line += width;
  }
  return out;
}

std::string_view ContentTypeFor(std::string_view file_name) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {"csv", "text/csv"},
      {"doc", "application/msword"},
      {"docx",
       "application/vnd.openxmlformats-officedocument.wordprocessingml."
       "document"},
      {"gif", "image/gif"},
      {"gz", "application/gzip"},
      {"htm", "text/html"},
      {"html", "text/html"},
      {"jpeg", "image/jpeg"},
      {"jpg", "image/jpeg"},
      {"json", "application/json"},
      {"log", "text/plain"},
      {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
      {"odt", "application/vnd.oasis.opendocument.text"},
      {"pdf", "application/pdf"},
      {"png", "image/png"},
      {"rtf", "application/rtf"},
      {"svg", "image/svg+xml"},
      {"tif", "image/tiff"},
      {"tiff", "image/tiff"},
      {"txt", "text/plain"},
      {"xls", "application/vnd.ms-excel"},
      {"xlsx",
       "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"xml", "application/xml"},
      {"zip", "application/zip"},
  };
  const size_t dot = file_name.rfind('.');
  const size_t slash = file_name.find_last_of('/');
  if (dot != std::string_view::npos &&
      (slash == std::string_view::npos || dot > slash)) {
    const std::string_view extension = file_name.substr(dot + 1);
    for (const auto& [known, type] : kTypes) {
      if (EqualsAsciiIgnoreCase(extension, known)) return type;
    }
  }
  return "application/octet-stream";
}

std::string BuildMessage(const SpoolDocument& document,
                         const BuildContext& context, OutgoingMessage* out) {
  *out = OutgoingMessage();
  // Address fields; To, Cc and Bcc may each appear more than once.
  std::vector<Mailbox> from, to, cc, bcc, reply_to;
  const std::pair<std::string_view, std::vector<Mailbox>*> kAddressFields[] = {
      {"From", &from},
      {"To", &to},
      {"Cc", &cc},
      {"Bcc", &bcc},
      {"Reply-To", &reply_to}};
  for (const Element& element : document.message) {
    for (const auto& [name, mailboxes] : kAddressFields) {
      if (element.name != name) continue;
      if (name == "From" && !from.empty()) break;  // the first one counts
      std::string bad = ParseAddressList(element.value, mailboxes);
      if (!bad.empty()) return bad + " in " + std::string(name);
    }
  }
  if (from.empty()) return "the document names no sender (From)";
  out->sender = from.front().address;
  // Each address once, in any case; a set keeps a list of many thousands
  // quick while the outbox is locked.
  std::unordered_set<std::string> seen;
  seen.reserve(to.size() + cc.size() + bcc.size());
  for (const auto* list : {&to, &cc, &bcc}) {
    for (const Mailbox& mailbox : *list) {
      std::string key = mailbox.address;
      std::transform(key.begin(), key.end(), key.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      });
      if (seen.insert(std::move(key)).second) {
        out->recipients.push_back(mailbox.address);
      }
    }
  }
  if (out->recipients.empty()) {
    return "the document names no recipient (To, Cc or Bcc)";
  }

  // The requests of the Extras section, in document order.
  const std::string* body = document.Find("Body");
  const std::string* html_body = document.Find("HTMLBody");
  std::string text = body ? *body : std::string();
  std::string html = html_body ? *html_body : std::string();
  std::vector<std::pair<std::string, std::string>> replacements;
  std::vector<Attachment> attachments;
  const std::string* find = nullptr;
  std::string bytes, error;
  for (const Element& element : document.extras) {
    const std::string& name = element.name;
    if (name == "Find") {
      find = &element.value;
      continue;
    }
    if (name == "Replace" && find != nullptr) {
      replacements.emplace_back(*find, element.value);
      find = nullptr;
      continue;
    }
    // A ReplaceFile without its Find has nothing to replace; other
    // elements are requests this program does not know.
    const bool reads_file = name == "HTML-File" || name == "Attach" ||
                            (name == "ReplaceFile" && find != nullptr);
    if (!reads_file) continue;
    const std::string what =
        (name == "Attach" ? std::string("attachment") : name) + " " +
        element.value + ": ";
    std::unique_ptr<Source> file = context.open_file(element.value, &error);
    if (file == nullptr) return "cannot read " + what + error;
    if (name == "Attach") {
      const size_t slash = element.value.find_last_of('/');
      attachments.push_back({slash == std::string::npos
                                 ? element.value
                                 : element.value.substr(slash + 1),
                             std::move(file)});
      continue;
    }
    if (!ReadWhole(*file, context.max_size, &bytes, &error)) {
      return "cannot read " + what + error;
    }
    if (name == "HTML-File") {
      html = TextOfFile(std::move(bytes));
    } else {
      replacements.emplace_back(*find, TextOfFile(std::move(bytes)));
      find = nullptr;
    }
  }
  // Each body goes out at least as long as it is here.
  for (const auto& [find_text, replace_text] : replacements) {
    if (!ReplaceAll(text, find_text, replace_text, context.max_size) ||
        !ReplaceAll(html, find_text, replace_text,
                    context.max_size -
                        std::min<uint64_t>(context.max_size, text.size()))) {
      return "replacing " + find_text +
             " makes the message larger than the limit of " +
             std::to_string(context.max_size) + " bytes";
    }
  }

  std::string data = "Date: " + DateText(context.date) + "\r\n";
  if (!context.message_id.empty()) {
    data += "Message-ID: " + context.message_id + "\r\n";
  }
  data += AddressHeader("From", {from.front()});
  if (!to.empty()) data += AddressHeader("To", to);
  if (!cc.empty()) data += AddressHeader("Cc", cc);
  if (!reply_to.empty()) data += AddressHeader("Reply-To", reply_to);
  const std::string* subject = document.Find("Subject");
  data += "Subject: " + EncodeHeaderText(subject ? *subject : "") + "\r\n";
  // Other tags of the message travel as header fields of their name.
  for (const Element& element : document.message) {
    if (IsFieldName(element.name) && !IsOwnField(element.name)) {
      data += element.name + ": " + EncodeHeaderText(element.value) + "\r\n";
    }
  }
  data += "MIME-Version: 1.0\r\n";

  std::string content;
  if (!text.empty() && !html.empty()) {
    content = Multipart("alternative", kAlternativeBoundary,
                        {TextPart("plain", text), TextPart("html", html)});
  } else if (!html.empty()) {
    content = TextPart("html", html);
  } else {
    content = TextPart("plain", text);
  }
  if (attachments.empty()) {
    data += content;
    out->parts.push_back({std::move(data), nullptr});
  } else {
    // Each file goes out as it is read; the text around it is held.
    const std::string boundary = "--" + std::string(kMixedBoundary) + "\r\n";
    data += Multipart("mixed", kMixedBoundary, {content});
    data.resize(data.size() - kMixedBoundary.size() - 6);  // "--B--\r\n"
    for (Attachment& attachment : attachments) {
      data += boundary + AttachmentHeader(attachment);
      out->parts.push_back({std::move(data), nullptr});
      out->parts.push_back({"", std::move(attachment.file)});
      data.clear();
    }
    data += "--" + std::string(kMixedBoundary) + "--\r\n";
    out->parts.push_back({std::move(data), nullptr});
  }
  if (out->Size() > context.max_size) {
    return "the message takes " + std::to_string(out->Size()) +
           " bytes, more than the limit of " + std::to_string(context.max_size);
  }
  return "";
}

}  // namespace pellar::mail
