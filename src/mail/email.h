// PellarLib.Email: one mail message composed over many calls, spooled as XML
// documents into an outbox folder for an external mail program.
//
// Composing (email.cc) only changes the instance; spooling and sending
// (spool.cc) read it and never change it, so one message can be spooled
// again under another id.
#ifndef PELLAR_MAIL_EMAIL_H_
#define PELLAR_MAIL_EMAIL_H_

#include <array>
#include <cstdint>

#include <pellar/base/export.h>
#include <pellar/base/text.h>

namespace pellar {

class PELLAR_EXPORT Email {
 public:
  // The attachment table never grows beyond this.
  static constexpr int16_t kMaxAttachments = 401;

  Text Clear();
  Text Body(const Text& s);
  Text BodyFile(Text& Filename);
  Text HTML(const Text& s);
  Text HTMLFile(Text& SourceFilename);
  Text HTMLFilePreview(Text& OutputFile);
  Text Attach(Text& Filename);
  Text Edit(Text& Find, Text& Replace);
  Text EditFile(Text& Find, Text& ReplaceFile);
  Text SaveOutbox(const Text& Outbox, const Text& Server, const Text& MsgFrom,
                  const Text& MsgTo, const Text& MsgSubject, const Text& MsgID);
  Text SaveOutboxWithAttachments(const Text& Outbox, const Text& Server,
                                 const Text& MsgFrom, const Text& MsgTo,
                                 const Text& MsgSubject, const Text& MsgID,
                                 int16_t MsgAttachCount);
  Text SetServerLogin(Text& sUser, Text& sPassword);
  Text AddTag(Text& TagName, Text& TagValue);
  Text Command(Text& TagName, Text& TagValue);
  Text SendOutbox(Text& Outbox, Text& MailProgram);

  // The message as it stands, for C++ callers and tests.
  const Text& body() const { return body_; }
  const Text& html_body() const { return html_body_; }
  const Text& tags() const { return tags_; }
  const Text& extras() const { return extras_; }
  int16_t attachment_count() const { return attachment_count_; }
  const Text& attachment(int16_t index) const {
    return attachments_.at(static_cast<size_t>(index));
  }

 private:
  // The envelope of one spool document.
  struct Envelope {
    const Text& server;
    const Text& from;
    const Text& to;
    const Text& subject;
  };

  // Whether `name` names an ordinary file: a folder, a hidden file or a
  // missing one does not.
  PELLAR_INTERNAL static bool FileExists(TextView name);

  // Writes one spool document to `file_name`. With `attachments` the
  // Extras section lists the attachments after `*last_written`, at most
  // `per_file` of them (all when `per_file` <= 0), and `*last_written`
  // moves on. Answers "" or the writer's "Error Creating File: " text when
  // the file could not be created.
  PELLAR_INTERNAL Text WriteSpoolFile(const Text& file_name,
                                      const Envelope& envelope,
                                      bool attachments, int16_t per_file,
                                      int32_t* last_written) const;

  Text body_;
  Text html_body_;
  Text tags_;
  Text extras_;
  Text login_user_;
  Text login_password_;
  int16_t attachment_count_ = 0;
  std::array<Text, kMaxAttachments> attachments_;
};

}  // namespace pellar

#endif  // PELLAR_MAIL_EMAIL_H_
