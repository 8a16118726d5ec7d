// Uses the installed headers both ways a caller can: a class directly and
// the automation table by programmatic identifier. With --all it also calls
// every function the installed headers declare (run.sh checks the list), in
// the working folder, so that each must link against the installed library.
#include <pellar/automation/automation.h>
#include <pellar/files/file.h>
#include <pellar/files/folder.h>
#include <pellar/files/ftp.h>
#include <pellar/mail/email.h>
#include <pellar/table/table.h>
#include <pellar/ufl/ufl.h>
#include <pellar/workarea/cell.h>

#include <iostream>
#include <string_view>
#include <vector>

namespace {

using pellar::Text;

// Runs one group of calls; a failure one raises is an answer too.
template <typename Calls>
void Try(Calls calls) {
  try {
    calls();
  } catch (const pellar::Failure& failure) {
    (void)(failure.number() + failure.description().size() + *failure.what());
  }
}

void CallEverything() {
  Text empty, name = u"a.csv", sep = u";", quote = u"\"", tag = u"Bold";
  Text one = u"1", dir = u"folder", other = u"b.csv", site = u"host";
  Text third = u"c.csv", mailer = u"missing-mailer", bat = u"f.sh";
  int32_t cols = 2;
  int16_t zero = 0, row = 1, lines = 0;
  bool now = false;
  pellar::Cell cell;
  Try([&] {
    cell.Clear(2, cols), cell.SaveValue(1, 1, one, quote);
    cell.SaveFormat(1, 1, tag, one), cell.GetValue(1, 1, quote);
    cell.CopyFormat(row, row, row, row, row, row), cell.FormatCSVData(one);
    cell.Pad(one, row), cell.SaveFile(name, sep, lines);
    cell.SaveWorkSheet(other, name, tag), cell.LoadFile(name, sep);
    cell.SetXMLTag(row, tag), cell.SaveXMLFile(other, tag, tag, lines);
    cell.Lookup(name, zero, one, zero, sep), cell.value(1, 1);
    (void)(cell.max_row() + cell.max_col() + cell.format(1, 1).size());
  });
  pellar::Table table;
  Try([&] {
    table.Clear(), table.BuildNew(1, cols), table.LoadCell(0, 0, one, empty);
    table.AppendCell(0, 0, one), table.Save(tag, empty), table.GetText();
  });
  pellar::Email mail;
  Try([&] {
    mail.Clear(), mail.Body(one), mail.BodyFile(name), mail.HTML(one);
    mail.HTMLFile(name), mail.HTMLFilePreview(other), mail.Attach(name);
    mail.Edit(one, tag), mail.EditFile(one, name), mail.AddTag(tag, one);
    mail.SetServerLogin(tag, tag), mail.Command(tag, one);
    mail.SaveOutbox(dir, site, one, one, one, tag);
    mail.SaveOutboxWithAttachments(dir, site, one, one, one, tag, 1);
    mail.SendOutbox(dir, mailer), mail.body(), mail.html_body(), mail.tags();
    mail.extras();
    if (mail.attachment_count() > 0) mail.attachment(0);
  });
  pellar::File file;
  pellar::Folder folder;
  pellar::FTP ftp;
  Try([&] {
    folder.Create(dir), (void)folder.Exists(dir), folder.Rename(dir, third);
    (void)file.Exists(name), file.Copy(name, other), file.Rename(other, dir);
    file.Move(dir, other), file.Delete(other);
    ftp.SendFile(bat, third, site, tag, tag, empty, name, now);
    ftp.GetFile(bat, third, site, tag, tag, empty, name, now);
    pellar::UFL().Help(u"version");
  });
  pellar::Value value = Text(u"12");
  Try([&] {
    pellar::FromAnsi(pellar::ToAnsi(u"x")), pellar::FromUtf8("x");
    pellar::ToUtf8(pellar::Describe(13)), pellar::ToText(value);
    pellar::ConvertTo(value, pellar::Type::kInt32);
    (void)(pellar::ToInt32(value) + pellar::ToInt16(value));
    (void)pellar::ToBoolean(value);
  });
  Try([&] { throw pellar::Failure(5, u"text"); });
  Try([&] {
    pellar::ArgumentFailure failure(pellar::Failure(13), 0);
    throw pellar::Failure(failure.index());
  });
  const pellar::ClassInfo* cls = pellar::FindClass(u"PellarLib.Cell");
  Try([&] {
    (void)pellar::Classes(), (void)pellar::FindMethod(*cls, u"Clear");
    pellar::Object object(*cls);
    (void)object.cls(), (void)object.self();
    pellar::Value rows = 1, columns = 1;
    std::vector<pellar::Arg> args{pellar::Arg::Val(rows),
                                  pellar::Arg::Ref(columns)};
    pellar::Invoke(object, *pellar::FindMethod(*cls, pellar::kFirstDispId),
                   args);
    pellar::Invoke(object, u"Clear", args), (void)args[1].get();
    pellar::Object::Create(u"PellarLib.Nothing");
  });
  std::cout << "called every function\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--all") {
    CallEverything();
    return 0;
  }
  pellar::Cell cell;
  int32_t cols = 1;
  std::cout << pellar::ToUtf8(cell.Clear(2, cols)) << "\n";
  std::unique_ptr<pellar::Object> ufl =
      pellar::Object::Create(u"PellarLib.UFL");
  std::vector<pellar::Arg> args{pellar::Arg::Val(pellar::Text(u"version"))};
  std::cout << pellar::ToUtf8(
                   pellar::ToText(pellar::Invoke(*ufl, u"Help", args)))
            << "\n";
  return 0;
}
