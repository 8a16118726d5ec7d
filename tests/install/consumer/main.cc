// Uses the installed headers both ways a caller can: a class directly and
// the automation table by programmatic identifier. With --all it also calls
// every function the installed headers declare (run.sh checks the list), in
// the working folder, so that each must link against the installed library.
#include <pellar/automation/automation.h>
#include <pellar/base/failure.h>
#include <pellar/base/text.h>
#include <pellar/base/value.h>
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

size_t calls = 0;

// Runs one call; a failure it raises is an answer too.
template <typename Call>
void Try(Call call) {
  ++calls;
  try {
    call();
  } catch (const pellar::Failure& failure) {
    (void)failure.number();
    (void)failure.description();
    (void)failure.what();
  }
}

void CallEverything() {
  Text empty, name = u"a.csv", sep = u";", quote = u"\"", tag = u"Bold";
  Text one = u"1", dir = u"folder", other = u"b.csv", site = u"host";
  int32_t cols = 2;
  int16_t zero = 0, row = 1, col = 1, lines = 0;
  bool now = false;

  pellar::Cell cell;
  Try([&] { cell.Clear(2, cols); });
  Try([&] { cell.SaveValue(1, 1, one, quote); });
  Try([&] { cell.SaveFormat(1, 1, tag, one); });
  Try([&] { cell.CopyFormat(row, col, row, col, row, col); });
  Try([&] { cell.GetValue(1, 1, quote); });
  Try([&] { cell.Pad(name, row); });
  Try([&] { cell.FormatCSVData(name); });
  name = u"a.csv";
  Try([&] { cell.SaveFile(name, sep, lines); });
  Try([&] { cell.SaveWorkSheet(other, name, tag); });
  Try([&] { cell.LoadFile(name, sep); });
  Try([&] { cell.SetXMLTag(col, tag); });
  Try([&] { cell.SaveXMLFile(other, tag, tag, lines); });
  Try([&] { cell.Lookup(name, zero, one, zero, sep); });
  Try([&] { (void)(cell.max_row() + cell.max_col()); });
  Try([&] { cell.value(1, 1) + cell.format(1, 1); });

  pellar::Table table;
  Try([&] { table.Clear(); });
  Try([&] { table.BuildNew(1, cols); });
  Try([&] { table.LoadCell(0, 0, one, empty); });
  Try([&] { table.AppendCell(0, 0, one); });
  Try([&] { table.Save(tag, empty); });
  Try([&] { table.GetText(); });

  pellar::Email mail;
  Try([&] { mail.Clear(); });
  Try([&] { mail.Body(one); });
  Try([&] { mail.BodyFile(name); });
  Try([&] { mail.HTML(one); });
  Try([&] { mail.HTMLFile(name); });
  Try([&] { mail.HTMLFilePreview(other); });
  Try([&] { mail.Attach(name); });
  Try([&] { mail.Edit(one, tag); });
  Try([&] { mail.EditFile(one, name); });
  Try([&] { mail.SetServerLogin(tag, tag); });
  Try([&] { mail.AddTag(tag, one); });
  Try([&] { mail.Command(tag, one); });
  Try([&] { mail.SaveOutbox(dir, site, one, one, one, tag); });
  Try([&] { mail.SaveOutboxWithAttachments(dir, site, one, one, one, tag, 1); });
  Text missing = u"missing-mailer";
  Try([&] { mail.SendOutbox(dir, missing); });
  Try([&] {
    (void)(mail.body().size() + mail.html_body().size() + mail.tags().size() +
           mail.extras().size() + mail.attachment_count());
  });
  Try([&] { mail.attachment(0); });

  pellar::File file;
  pellar::Folder folder;
  Try([&] { folder.Create(dir); });
  Try([&] { (void)folder.Exists(dir); });
  Text renamed = u"renamed";
  Try([&] { folder.Rename(dir, renamed); });
  Try([&] { (void)file.Exists(name); });
  Try([&] { file.Copy(name, other); });
  Text third = u"c.csv";
  Try([&] { file.Rename(other, third); });
  Try([&] { file.Move(third, other); });
  Try([&] { file.Delete(other); });

  pellar::FTP ftp;
  Text bat = u"ftp.sh", txt = u"ftp.txt";
  Try([&] { ftp.SendFile(bat, txt, site, tag, tag, empty, name, now); });
  Try([&] { ftp.GetFile(bat, txt, site, tag, tag, empty, name, now); });

  pellar::UFL ufl;
  Try([&] { ufl.Help(u"version"); });

  Try([&] { pellar::FromAnsi(pellar::ToAnsi(u"x")); });
  Try([&] { pellar::FromUtf8(pellar::ToUtf8(u"x")); });
  pellar::Value value = Text(u"12");
  Try([&] { pellar::ConvertTo(value, pellar::Type::kInt32); });
  Try([&] { (void)(pellar::ToInt32(value) + pellar::ToInt16(value)); });
  Try([&] { (void)pellar::ToBoolean(value); });
  Try([&] { pellar::ToText(value); });
  Try([&] { pellar::Describe(13); });
  Try([&] { throw pellar::Failure(5); });
  Try([&] { throw pellar::Failure(5, u"text"); });
  Try([&] {
    pellar::ArgumentFailure failure(pellar::Failure(13), 0);
    (void)failure.index();
    throw failure;
  });

  const pellar::ClassInfo* cls = pellar::FindClass(u"PellarLib.Cell");
  Try([&] { (void)pellar::Classes().size(); });
  Try([&] { (void)pellar::FindMethod(*cls, u"Clear"); });
  Try([&] { (void)pellar::FindMethod(*cls, pellar::kFirstDispId); });
  Try([&] {
    pellar::Object object(*cls);
    (void)object.cls();
    (void)object.self();
    pellar::Value rows = 1, columns = 1;
    std::vector<pellar::Arg> args{pellar::Arg::Val(rows),
                                  pellar::Arg::Ref(columns)};
    (void)args[1].get();
    pellar::Invoke(object, *pellar::FindMethod(*cls, u"Clear"), args);
    pellar::Invoke(object, u"Clear", args);
  });
  Try([&] { pellar::Object::Create(u"PellarLib.Nothing"); });
  std::cout << "called " << calls << "\n";
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
