// Spooling a composed message as XML documents into an outbox folder, and
// starting the mail program that sends them.
#include <cstddef>
#include <exception>

#include <pellar/base/failure.h>
#include <pellar/base/text_internal.h>
#include <pellar/io/xml_writer.h>
#include <pellar/mail/email.h>
#include <pellar/platform/platform.h>

namespace pellar {
namespace {

constexpr TextView kRoot = u"TessaryMAILDoc";
constexpr TextView kNoOutbox = u"No outbox folder specified";
constexpr TextView kNoMsgId = u"You need a unique MsgID for each message";
// The longest spool file name, in UTF-8 bytes, that pellar-mail can still
// handle in a file system whose names hold 255: it renames a document NAME
// it sends to ".NAME.sending" and files one it fails as "NAME-9999.xml"
// beside "NAME-9999.xml.log", each 9 bytes longer. (Windows counts UTF-16
// units, never more than these bytes.)
constexpr size_t kMaxSpoolName = 255 - 9;

// The refusal of an id whose spool file name (id & ".xml", the id with its
// `digits` file number) would be longer than kMaxSpoolName, or "".
Text TooLongMsgId(TextView id, size_t digits) {
  constexpr size_t kExtension = 4;  // ".xml"
  if (ToUtf8(id).size() + digits + kExtension <= kMaxSpoolName) return Text();
  return u"The MsgID is too long for a spool file name (at most " +
         Decimal(static_cast<int64_t>(kMaxSpoolName - kExtension - digits)) +
         u" bytes in UTF-8)";
}

// folder & separator & id & ".xml". A folder that does not exist is replaced
// by the temporary folder, in `folder` too, so every later file of the same
// call lands beside the first.
Text OutboxFileName(Text& folder, TextView id) {
  Platform& platform = Platform::Current();
  if (platform.Lookup(folder, LookupKind::kFolder).empty()) {
    folder = platform.TempFolder();
  }
  Text name = folder;
  name += platform.Separator();
  name += id;
  name += u".xml";
  return name;
}

}  // namespace

Text Email::WriteSpoolFile(const Text& file_name, const Envelope& envelope,
                           bool attachments, int16_t per_file,
                           int32_t* last_written) const {
  // The document holds the SMTP password in clear text, as the mail program
  // needs it: only its owner may read it.
  // A failing write fails the call; the incomplete document is closed then.
  XmlFile file(file_name, kRoot, u"", FileAccess::kPrivate);
  if (!file.opened().empty()) return file.opened();
  // Each line reaches the file at once: a failing write keeps those before.
  XmlWriter& xml = file.writer();
  auto element = [&xml](TextView name, TextView value) {
    xml.Element(name, value);
    xml.Flush();
  };
  auto text_element = [&xml](TextView name, TextView value) {
    xml.TextElement(name, value);
    xml.Flush();
  };
  auto raw = [&xml](TextView text) {
    xml.Line(text);
    xml.Flush();
  };
  auto open_tag = [&xml](TextView name) {
    xml.OpenTag(name, u"");
    xml.Flush();
  };
  auto close_tag = [&xml](TextView name) {
    xml.CloseTag(name);
    xml.Flush();
  };
  open_tag(u"MailMessage");
  element(u"Server", envelope.server);
  if (!login_user_.empty()) {
    element(u"Encryption", u"None");
    element(u"SMTPUser", login_user_);
    element(u"SMTPPassword", login_password_);
  }
  element(u"From", envelope.from);
  element(u"To", envelope.to);
  element(u"Subject", envelope.subject);
  // Tag and extra lines were escaped when they were added.
  if (!tags_.empty()) raw(tags_);
  if (!body_.empty()) text_element(u"Body", body_);
  if (!html_body_.empty()) text_element(u"HTMLBody", html_body_);
  if (!extras_.empty() || (attachments && attachment_count_ > 0)) {
    open_tag(u"Extras");
    if (!extras_.empty()) raw(extras_);
    if (attachments) {
      int32_t in_file = 0;
      for (int32_t i = *last_written + 1; i < attachment_count_; ++i) {
        if (per_file > 0 && in_file >= per_file) break;
        *last_written = i;
        element(u"Attach", attachments_[static_cast<size_t>(i)]);
        ++in_file;
      }
    }
    close_tag(u"Extras");
  }
  close_tag(u"MailMessage");
  file.Close();
  return Text();
}

Text Email::SaveOutbox(const Text& Outbox, const Text& Server,
                       const Text& MsgFrom, const Text& MsgTo,
                       const Text& MsgSubject, const Text& MsgID) {
  if (Outbox.empty()) return Text(kNoOutbox);
  if (MsgID.empty()) return Text(kNoMsgId);
  if (Text too_long = TooLongMsgId(MsgID, 0); !too_long.empty()) {
    return too_long;
  }
  Text folder = Outbox;
  Text name = OutboxFileName(folder, MsgID);
  int32_t unused = -1;
  Text failed = WriteSpoolFile(name, {Server, MsgFrom, MsgTo, MsgSubject},
                               /*attachments=*/false, 0, &unused);
  if (!failed.empty()) return failed;
  return u"Message spooled to " + name;
}

Text Email::SaveOutboxWithAttachments(const Text& Outbox, const Text& Server,
                                      const Text& MsgFrom, const Text& MsgTo,
                                      const Text& MsgSubject, const Text& MsgID,
                                      int16_t MsgAttachCount) {
  if (Outbox.empty()) return Text(kNoOutbox);
  if (MsgID.empty()) return Text(kNoMsgId);
  if (Text too_long = TooLongMsgId(MsgID, 4); !too_long.empty()) {
    return too_long;
  }
  const Envelope envelope{Server, MsgFrom, MsgTo, MsgSubject};
  Text folder = Outbox;
  Text name;
  int32_t files = 0;
  int32_t last_written = -1;
  // Every file carries the whole message and at least one attachment not
  // yet written, so the loop ends after at most AttachmentCount files.
  do {
    name = OutboxFileName(folder, MsgID + ZeroPadded(files, 4));
    Text failed = WriteSpoolFile(name, envelope, /*attachments=*/true,
                                 MsgAttachCount, &last_written);
    if (!failed.empty()) return failed;
    ++files;
  } while (attachment_count_ > 0 && last_written < attachment_count_ - 1);
  return u"Message spooled to " + name + u" (" + Decimal(files) +
         u" message files created)";
}

Text Email::SendOutbox(Text& Outbox, Text& MailProgram) {
  if (MailProgram.empty()) return u"No Mail program specified";
  // A path quoted by an earlier call still names the same program; quoting
  // it again would break the command line.
  const bool quoted = MailProgram.size() >= 2 && MailProgram.front() == u'"' &&
                      MailProgram.back() == u'"';
  Text program = MailProgram;
  if (!quoted && program.find(u' ') != Text::npos) {
    program = u"\"" + program + u"\"";
  }
  // The whole text must name a file, and the command line must start that
  // very file: a tab or a quote inside the text would otherwise pass the
  // test with one file and start another ("/bin/echo" & vbTab & "x").
  const Text file =
      quoted ? MailProgram.substr(1, MailProgram.size() - 2) : MailProgram;
  const std::vector<Text> words = SplitCommandLine(program);
  if (!FileExists(file) || words.empty() || words.front() != file) {
    return u"Cannot find " + MailProgram;
  }
  MailProgram = program;
  Text command_line = MailProgram;
  if (!Outbox.empty()) command_line += u" " + Outbox;
  Platform::Current().StartProcess(command_line,
                                   WindowStyle::kMinimizedWithFocus);
  return u"Call to " + command_line;
}

}  // namespace pellar
