// Composing a message: bodies, attachments, login, extra elements and the
// requests for the mail program.
#include <pellar/base/failure_internal.h>
#include <pellar/base/text_internal.h>
#include <pellar/mail/email.h>

#include <new>
#include <stdexcept>

#include <pellar/io/read_text.h>
#include <pellar/io/xml_writer.h>
#include <pellar/platform/platform.h>

namespace pellar {
namespace {

constexpr TextView kCrLf = u"\r\n";
constexpr TextView kNoFileName = u"No FileName Specified";

// Bodies and element lists join their pieces with CR LF and never start or
// end with one. The room is made first, so a failed append changes nothing.
void AppendPiece(Text& field, TextView piece) {
  try {
    if (field.empty()) {
      field.assign(piece);
      return;
    }
    field.reserve(field.size() + kCrLf.size() + piece.size());
    field += kCrLf;
    field += piece;
  } catch (...) {
    throw CaughtFailure();
  }
}

// "<name>" & escaped value & "</name>"; composed here rather than by the
// XML writer, which would also write it into a file left open.
Text ElementLine(TextView name, TextView value) {
  Text line;
  line += u'<';
  line += name;
  line += u'>';
  line += XmlEscape(value);
  line += u"</";
  line += name;
  line += u'>';
  return line;
}

Text MissingFile(TextView name) { return u"Cannot find" + Text(name); }

}  // namespace

bool Email::FileExists(TextView name) {
  return !name.empty() &&
         !Platform::Current().Lookup(name, LookupKind::kFile).empty();
}

Text Email::Clear() {
  body_.clear();
  html_body_.clear();
  tags_.clear();
  extras_.clear();
  login_user_.clear();
  login_password_.clear();
  attachment_count_ = 0;
  return u"New Message started";
}

Text Email::Body(const Text& s) {
  AppendPiece(body_, s);
  return s;
}

Text Email::BodyFile(Text& Filename) {
  if (Filename.empty()) return Text(kNoFileName);
  if (!FileExists(Filename)) return MissingFile(Filename);
  // Read completely before touching the body: a failed read changes nothing.
  Text content = ReadTextFile(Filename);
  AppendPiece(body_, content);
  return u"Message Body loaded from " + Filename;
}

Text Email::HTML(const Text& s) {
  AppendPiece(html_body_, s);
  return s;
}

Text Email::HTMLFile(Text& SourceFilename) {
  if (SourceFilename.empty()) return Text(kNoFileName);
  if (!FileExists(SourceFilename)) return MissingFile(SourceFilename);
  Text name = u"HTML-File";
  return Command(name, SourceFilename);
}

Text Email::HTMLFilePreview(Text& OutputFile) {
  return OutputFile.empty() ? Text(kNoFileName) : Text();
}

Text Email::Attach(Text& Filename) {
  if (Filename.empty()) return Text(kNoFileName);
  if (!FileExists(Filename)) return MissingFile(Filename);
  Text answer = u"Attached=" + Filename;
  for (int16_t i = 0; i < attachment_count_; ++i) {
    if (EqualsIgnoreCase(attachments_[static_cast<size_t>(i)], Filename)) {
      return answer;
    }
  }
  if (attachment_count_ >= kMaxAttachments) {
    throw Failure(error::kSubscriptOutOfRange);
  }
  attachments_[static_cast<size_t>(attachment_count_)] = Filename;
  ++attachment_count_;
  return answer;
}

Text Email::Edit(Text& Find, Text& Replace) {
  if (Find.empty()) return u"Cannot Replace Empty String";
  Text find_name = u"Find", replace_name = u"Replace";
  Command(find_name, Find);
  Command(replace_name, Replace);
  return u"Replacing all occurances of '" + Find + u"' with '" + Replace + u"'";
}

Text Email::EditFile(Text& Find, Text& ReplaceFile) {
  if (Find.empty()) return u"Cannot Replace Empty String";
  Text find_name = u"Find", replace_name = u"ReplaceFile";
  Command(find_name, Find);
  Command(replace_name, ReplaceFile);
  return u"Replacing all occurances of '" + Find + u"' with File='" +
         ReplaceFile + u"'";
}

Text Email::SetServerLogin(Text& sUser, Text& sPassword) {
  login_user_ = sUser;
  login_password_ = sPassword;
  return u"Server login set to " + sUser;
}

Text Email::AddTag(Text& TagName, Text& TagValue) {
  AppendPiece(tags_, ElementLine(TagName, TagValue));
  return u"<" + TagName + u">" + TagValue;
}

Text Email::Command(Text& TagName, Text& TagValue) {
  AppendPiece(extras_, ElementLine(TagName, TagValue));
  return u"<" + TagName + u">" + TagValue;
}

}  // namespace pellar
