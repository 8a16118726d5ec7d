// Scripting.FileSystemObject: text files (one-byte Windows-1252 or UTF-16
// LE with a byte order mark), files and folders. Every file operation goes
// through the current platform; nothing here touches the system directly.
#include <pellar/base/text_internal.h>
#include <pellar/io/textfile.h>
#include <pellar/platform/platform.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host.h"
#include "objects.h"

namespace pellar::script {
namespace {

constexpr char kUtf16Bom[] = "\xFF\xFE";
// OpenTextFile's format argument.
constexpr int32_t kTristateTrue = -1;

// ---- paths ------------------------------------------------------------------

bool Windows() { return Platform::Current().Separator() == u'\\'; }

// The name functions (GetFileName, BuildPath, ...) take both separators,
// as they always did: they only cut texts.
bool IsAnySeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// What names a file takes the system's separators only: on POSIX a
// backslash is part of a name, and a path must keep naming the same file.
bool IsSeparator(char16_t c) { return c == u'/' || (c == u'\\' && Windows()); }

bool HasWildcard(TextView path) {
  return path.find_first_of(u"*?") != TextView::npos;
}

size_t AnyNameStart(TextView path) {
  size_t at = path.find_last_of(u"/\\");
  return at == TextView::npos ? 0 : at + 1;
}

size_t NameStart(TextView path) {
  size_t at = Windows() ? path.find_last_of(u"/\\") : path.rfind(u'/');
  return at == TextView::npos ? 0 : at + 1;
}

bool SameName(TextView a, TextView b) {
  return Windows() ? EqualsIgnoreCase(a, b) : a == b;
}

// The length of the root at the front of an absolute path ("/", "C:\",
// "\\server\share\"), 0 for a relative one.
size_t RootLength(TextView path) {
  if (!Windows()) return !path.empty() && path[0] == u'/' ? 1 : 0;
  if (path.size() >= 3 && path[1] == u':' && IsSeparator(path[2])) return 3;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    size_t server_end = path.find_first_of(u"/\\", 2);
    if (server_end == TextView::npos) return path.size();
    size_t share_end = path.find_first_of(u"/\\", server_end + 1);
    return share_end == TextView::npos ? path.size() : share_end + 1;
  }
  return 0;
}

// The full path of `path`: relative ones taken from the working folder,
// "." and ".." resolved by the text (as Windows does, never by following a
// link), separators made the platform's, no trailing separator except a
// root's.
Text AbsolutePath(TextView path) {
  Platform& platform = Platform::Current();
  const char16_t separator = platform.Separator();
  Text full;
  if (RootLength(path) > 0) {
    full = Text(path);
  } else if (Windows() && !path.empty() && IsSeparator(path[0])) {
    Text here = platform.CurrentFolder();
    full = here.substr(0, RootLength(here)) + Text(path.substr(1));
  } else {
    full = platform.CurrentFolder();
    full += separator;
    full += path;
  }
  const size_t root_length = RootLength(full);
  Text root = full.substr(0, root_length);
  for (char16_t& c : root) {
    if (IsSeparator(c)) c = separator;
  }
  std::vector<Text> parts;
  size_t i = root_length;
  while (i <= full.size()) {
    size_t j = i;
    while (j < full.size() && !IsSeparator(full[j])) ++j;
    Text part = full.substr(i, j - i);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(std::move(part));
    }
    i = j + 1;
  }
  Text out = root;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) out += separator;
    out += parts[k];
  }
  return out;
}

Text Join(TextView folder, TextView name) {
  Text out(folder);
  if (out.empty() || !IsSeparator(out.back())) {
    out += Platform::Current().Separator();
  }
  out += name;
  return out;
}

Text ParentOf(TextView full) {
  if (RootLength(full) == full.size()) return Text();
  const size_t start = NameStart(full);
  const size_t root = RootLength(full);
  return Text(full.substr(0, std::max(start == 0 ? 0 : start - 1, root)));
}

// ---- what stands where ------------------------------------------------------

bool IsKind(TextView path, EntryKind kind) {
  if (path.empty() || HasWildcard(path)) return false;
  try {
    return Platform::Current().Status(path).kind == kind;
  } catch (const Failure&) {
    return false;
  }
}

bool FileExists(TextView path) {
  if (path.empty() || HasWildcard(path)) return false;
  try {
    return !Platform::Current().Lookup(path, LookupKind::kFile).empty();
  } catch (const Failure&) {
    return false;
  }
}

bool FolderExists(TextView path) {
  if (path.empty() || HasWildcard(path)) return false;
  try {
    return !Platform::Current().Lookup(path, LookupKind::kFolder).empty() &&
           !FileExists(path);
  } catch (const Failure&) {
    return false;
  }
}

double DateOf(const LocalDateTime& t) {
  return MakeDate(t.year, t.month, t.day) +
         MakeTime(t.hour, t.minute, t.second);
}

// The bytes of every file below `folder`, links never followed.
uint64_t TreeSize(const Text& folder) {
  Platform& platform = Platform::Current();
  uint64_t total = 0;
  for (const FolderEntry& entry : platform.ListFolder(folder)) {
    const Text path = Join(folder, entry.name);
    if (entry.kind == EntryKind::kFile) {
      total += platform.Status(path).size;
    } else if (entry.kind == EntryKind::kFolder) {
      total += TreeSize(path);
    }
  }
  return total;
}

// Copies the tree `from` into the folder `to`, made when missing. Links
// are left out: a copy never reaches outside the tree it copies.
void CopyTree(const Text& from, const Text& to, bool overwrite) {
  Platform& platform = Platform::Current();
  // A copy into the tree it copies would never end.
  const Text outer = AbsolutePath(from), inner = AbsolutePath(to);
  if (inner.size() > outer.size() &&
      SameName(inner.substr(0, outer.size()), outer) &&
      IsSeparator(inner[outer.size()])) {
    Raise(error::kInvalidCall);
  }
  if (IsKind(to, EntryKind::kFile)) Raise(error::kFileExists);
  if (!IsKind(to, EntryKind::kFolder)) platform.CreateFolder(to);
  for (const FolderEntry& entry : platform.ListFolder(from)) {
    const Text source = Join(from, entry.name);
    const Text target = Join(to, entry.name);
    if (entry.kind == EntryKind::kFolder) {
      CopyTree(source, target, overwrite);
    } else if (entry.kind == EntryKind::kFile) {
      if (!overwrite && FileExists(target)) Raise(error::kFileExists);
      platform.CopyFile(source, target);
    }
  }
}

// The matches of `pattern`, whose last component may hold wildcards.
std::vector<Text> Matches(TextView pattern, LookupKind kind) {
  std::vector<Text> found = Platform::Current().Lookup(pattern, kind);
  if (kind == LookupKind::kFolder) {
    std::erase_if(found, [](const Text& p) { return !FolderExists(p); });
  }
  return found;
}

// ---- text streams -----------------------------------------------------------

std::string ReadAllBytes(TextView path) {
  std::unique_ptr<SequentialFile> file =
      Platform::Current().NewSequentialFile(path);
  std::string bytes;
  char buffer[1 << 16];
  size_t n;
  while ((n = file->Read(buffer, sizeof buffer)) > 0) {
    bytes.append(buffer, n);
    if (bytes.size() > (size_t{1} << 28)) Raise(error::kOutOfMemory);
    // Each byte becomes a character of the stream's text.
    CheckMemory(bytes.size() * sizeof(char16_t));
  }
  return bytes;
}

bool StartsWithBom(std::string_view bytes) {
  return bytes.size() >= 2 && bytes.compare(0, 2, kUtf16Bom) == 0;
}

// A file's text: UTF-16 LE when asked for (format -1) or when a byte order
// mark says so, else one byte per character.
Text DecodeFile(std::string_view bytes, int32_t format) {
  const bool bom = StartsWithBom(bytes);
  if (format == kTristateTrue || bom) {
    return FromUtf16Le(bom ? bytes.substr(2) : bytes);
  }
  return FromAnsi(bytes);
}

class TextStream final : public TableObject {
  static constexpr std::array<std::string_view, 13> kNames = {
      "close",         "line",        "column",
      "write",         "writeline",   "writeblanklines",
      "atendofstream", "atendofline", "readline",
      "skipline",      "readall",     "read",
      "skip"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  // Reading: the file's text, which counts against the budget; writing:
  // an open file.
  explicit TextStream(Text text) : text_(std::move(text)), reading_(true) {
    Charge(sizeof(TextStream) + text_.size() * sizeof(char16_t));
  }
  TextStream(std::unique_ptr<WritableFile> file, bool unicode)
      : file_(std::move(file)), unicode_(unicode) {}
  ~TextStream() override {
    try {
      Close();
    } catch (...) {
      // A failure at release has nobody to tell.
    }
  }
  Text TypeName() const override { return u"TextStream"; }

  Var InvokeResolved(Host& in, int32_t member, std::string_view, Args args,
                     CallKind) override {
    if (member == Id("close")) {
      ArgCount(args, 0, 0);
      Close();
      return Var();
    }
    if (member == Id("line")) return Var::Long(line_);
    if (member == Id("column")) {
      return Var::Long(static_cast<int32_t>(column_ + 1));
    }
    if (member == Id("write") || member == Id("writeline") ||
        member == Id("writeblanklines")) {
      if (reading_ || closed_) Raise(error::kBadFileMode);
      if (member == Id("writeblanklines")) {
        ArgCount(args, 1, 1);
        for (int32_t i = ToLong(*args[0]); i > 0; --i) Put(u"\r\n");
      } else {
        ArgCount(args, member == Id("write") ? 1 : 0, 1);
        if (!args.empty()) Put(ToStr(in.DefaultValue(*args[0])));
        if (member == Id("writeline")) Put(u"\r\n");
      }
      if (buffer_.size() >= 64 * 1024) Flush();
      return Var();
    }
    auto require_reading = [&] {
      if (!reading_ || closed_) Raise(error::kBadFileMode);
    };
    if (member == Id("atendofstream")) {
      require_reading();
      return Var::Bool(pos_ >= text_.size());
    }
    if (member == Id("atendofline")) {
      require_reading();
      return Var::Bool(pos_ >= text_.size() || text_[pos_] == u'\r' ||
                       text_[pos_] == u'\n');
    }
    if (member == Id("readline") || member == Id("skipline")) {
      require_reading();
      ArgCount(args, 0, 0);
      if (pos_ >= text_.size()) Raise(error::kInputPastEnd);
      size_t end = text_.find_first_of(u"\r\n", pos_);
      if (end == Text::npos) end = text_.size();
      Text line = text_.substr(pos_, end - pos_);
      size_t next = end;
      if (next < text_.size() && text_[next] == u'\r') ++next;
      if (next < text_.size() && text_[next] == u'\n') ++next;
      Advance(next);
      return member == Id("readline") ? Var::String(std::move(line)) : Var();
    }
    if (member == Id("readall") || member == Id("read") ||
        member == Id("skip")) {
      require_reading();
      size_t n = text_.size() - pos_;
      if (member == Id("readall")) {
        ArgCount(args, 0, 0);
        if (n == 0) Raise(error::kInputPastEnd);
      } else {
        ArgCount(args, 1, 1);
        const int32_t asked = ToLong(*args[0]);
        if (asked < 0) Raise(error::kInvalidCall);
        n = std::min(n, static_cast<size_t>(asked));
      }
      Text out = text_.substr(pos_, n);
      Advance(pos_ + n);
      return member == Id("skip") ? Var() : Var::String(std::move(out));
    }
    NoMember();
  }

 private:
  // Line and Column follow the text passed: a line ends at LF, or at a CR
  // no LF follows.
  void Pass(TextView text, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      const char16_t c = text[i];
      const bool ends =
          c == u'\n' ||
          (c == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n'));
      if (ends) {
        ++line_;
        column_ = 0;
      } else if (c != u'\r') {
        ++column_;
      }
    }
  }
  void Advance(size_t to) {
    Pass(text_, pos_, to);
    pos_ = to;
  }
  void Put(TextView text) {
    Pass(text, 0, text.size());
    if (unicode_) {
      AppendUtf16Le(buffer_, text);
    } else {
      AppendAnsi(buffer_, text);
    }
  }
  void Flush() {
    if (file_ && !buffer_.empty()) {
      std::string bytes;
      bytes.swap(buffer_);
      file_->Append(bytes);
    }
  }
  void Close() {
    if (closed_) return;
    closed_ = true;
    if (file_) {
      Flush();
      std::unique_ptr<WritableFile> file = std::move(file_);
      file->Close();
    }
  }

  Text text_;
  std::unique_ptr<WritableFile> file_;
  std::string buffer_;
  size_t pos_ = 0;
  int32_t line_ = 1;
  size_t column_ = 0;
  bool reading_ = false;
  bool unicode_ = false;
  bool closed_ = false;
};

// A stream that writes `path` afresh: `kept` (an appended file's older
// bytes) first, then a byte order mark if Unicode and nothing came before.
Var WriteStream(TextView path, std::string kept, bool unicode) {
  std::unique_ptr<WritableFile> file = OpenForSave(path);
  if (unicode && kept.empty()) kept = kUtf16Bom;
  if (!kept.empty()) file->Append(kept);
  return Own(new TextStream(std::move(file), unicode));
}

// OpenTextFile and File.OpenAsTextStream: iomode 1 reads, 2 writes, 8
// appends.
Var OpenStream(TextView path, int32_t mode, bool create, int32_t format) {
  const bool exists = FileExists(path);
  if (mode == 1) {
    if (!exists && create) {
      // Windows makes the missing file, empty, and reads it.
      OpenForSave(path)->Close();
      return Own(new TextStream(Text()));
    }
    if (!exists) Raise(error::kFileNotFound);
    return Own(new TextStream(DecodeFile(ReadAllBytes(path), format)));
  }
  if (mode != 2 && mode != 8) Raise(error::kInvalidCall);
  if (!exists && !create) Raise(error::kFileNotFound);
  return WriteStream(path, mode == 8 && exists ? ReadAllBytes(path) : "",
                     format == kTristateTrue);
}

// ---- files and folders ------------------------------------------------------

Var MakeFolder(Text path);
Var MakeFile(Text path);
void MoveEntry(TextView from, TextView to);

// Files and SubFolders: Count, Item(name) and For Each, in the platform's
// order of names.
class EntryCollection final : public TableObject {
  static constexpr std::array<std::string_view, 3> kNames = {"", "count",
                                                             "item"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  EntryCollection(Text type_name, std::vector<Text> names,
                  std::vector<Var> items)
      : type_name_(std::move(type_name)),
        names_(std::move(names)),
        items_(std::move(items)) {
    size_t chars = 0;
    for (const Text& n : names_) chars += n.size();
    Charge(sizeof(EntryCollection) + items_.size() * (sizeof(Var) + 64) +
           chars * sizeof(char16_t));
  }
  Text TypeName() const override { return type_name_; }
  Var InvokeResolved(Host&, int32_t member, std::string_view, Args args,
                     CallKind kind) override {
    if (kind == CallKind::kLet || kind == CallKind::kSet) NoMember();
    if (member == Id("count")) {
      ArgCount(args, 0, 0);
      return Var::Long(static_cast<int32_t>(items_.size()));
    }
    if (member == Id("") || member == Id("item")) {
      ArgCount(args, 1, 1);
      const Text key = ToStr(*args[0]);
      for (size_t i = 0; i < names_.size(); ++i) {
        if (SameName(names_[i], key)) return items_[i];
      }
      Raise(type_name_ == u"Files" ? error::kFileNotFound
                                   : error::kPathNotFound);
    }
    NoMember();
  }
  bool Enumerate(std::vector<Var>& out) override {
    out.insert(out.end(), items_.begin(), items_.end());
    return true;
  }

 private:
  Text type_name_;
  std::vector<Text> names_;
  std::vector<Var> items_;
};

// What File and Folder share; `path_` is full.
class Entry : public TableObject {
 protected:
  // File and Folder number their own members after these.
  static constexpr std::array<std::string_view, 7> kShared = {
      "",    "path", "name", "parentfolder", "datelastmodified", "datecreated",
      "move"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kShared, name);
  }
  template <size_t N>
  static consteval bool SharedFirst(
      const std::array<std::string_view, N>& names) {
    for (size_t i = 0; i < kShared.size(); ++i) {
      if (names[i] != kShared[i]) return false;
    }
    return true;
  }

 public:
  explicit Entry(Text path) : path_(std::move(path)) {}
  Var InvokeResolved(Host& in, int32_t member, std::string_view, Args args,
                     CallKind kind) override {
    if (kind == CallKind::kLet || kind == CallKind::kSet) NoMember();
    if (member == Id("") || member == Id("path")) {
      ArgCount(args, 0, 0);
      return Var::String(path_);
    }
    if (member == Id("name")) {
      return Var::String(RootLength(path_) == path_.size()
                             ? Text()
                             : path_.substr(NameStart(path_)));
    }
    if (member == Id("parentfolder")) {
      const Text parent = ParentOf(path_);
      return parent.empty() ? Var::Object(nullptr) : MakeFolder(parent);
    }
    if (member == Id("datelastmodified") || member == Id("datecreated")) {
      const EntryStatus status = Platform::Current().Status(path_);
      return Var::Date(DateOf(member == Id("datecreated") ? status.created
                                                          : status.modified));
    }
    if (member == Id("move")) {
      ArgCount(args, 1, 1);
      Text to = ToStr(*args[0]);
      if (!to.empty() && IsSeparator(to.back())) {
        to += path_.substr(NameStart(path_));
      }
      MoveEntry(path_, to);
      path_ = AbsolutePath(to);
      return Var();
    }
    return Member(in, member, args);
  }

 protected:
  virtual Var Member(Host& in, int32_t member, Args args) = 0;
  Text path_;
};

class FileObject final : public Entry {
  static constexpr std::array<std::string_view, 12> kNames = {
      "",
      "path",
      "name",
      "parentfolder",
      "datelastmodified",
      "datecreated",
      "move",
      "size",
      "type",
      "delete",
      "copy",
      "openastextstream"};
  static_assert(SharedFirst(kNames));
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  using Entry::Entry;
  Text TypeName() const override { return u"File"; }

 protected:
  Var Member(Host&, int32_t member, Args args) override {
    if (member == Id("size")) {
      return Var::Number(
          static_cast<int64_t>(Platform::Current().Status(path_).size));
    }
    if (member == Id("type")) {
      // Windows asks the shell for the type's description; here it is the
      // extension in capitals and " File", the shell's own fallback.
      const Text file = path_.substr(NameStart(path_));
      const size_t dot = file.rfind(u'.');
      if (dot == Text::npos || dot + 1 == file.size())
        return Var::String(u"File");
      Text extension = file.substr(dot + 1);
      for (char16_t& c : extension) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
      }
      return Var::String(extension + u" File");
    }
    if (member == Id("delete")) {
      ArgCount(args, 0, 1);
      if (!args.empty() && ToBool(*args[0])) {
        Platform::Current().ForceDeleteFile(path_);
      } else {
        Platform::Current().DeleteFile(path_);
      }
      return Var();
    }
    if (member == Id("copy")) {
      ArgCount(args, 1, 2);
      Text to = ToStr(*args[0]);
      if (!to.empty() && IsSeparator(to.back())) {
        to += path_.substr(NameStart(path_));
      }
      if (FileExists(to) && args.size() == 2 && !ToBool(*args[1])) {
        Raise(error::kFileExists);
      }
      Platform::Current().CopyFile(path_, to);
      return Var();
    }
    if (member == Id("openastextstream")) {
      ArgCount(args, 0, 2);
      return OpenStream(path_, args.empty() ? 1 : ToLong(*args[0]), false,
                        args.size() > 1 ? ToLong(*args[1]) : 0);
    }
    NoMember();
  }
};

class FolderObject final : public Entry {
  static constexpr std::array<std::string_view, 15> kNames = {
      "",
      "path",
      "name",
      "parentfolder",
      "datelastmodified",
      "datecreated",
      "move",
      "size",
      "type",
      "isrootfolder",
      "files",
      "subfolders",
      "delete",
      "copy",
      "createtextfile"};
  static_assert(SharedFirst(kNames));
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  using Entry::Entry;
  Text TypeName() const override { return u"Folder"; }

 protected:
  Var Member(Host& in, int32_t member, Args args) override {
    if (member == Id("size")) {
      return Var::Number(static_cast<int64_t>(TreeSize(path_)));
    }
    if (member == Id("type")) return Var::String(u"File folder");
    if (member == Id("isrootfolder")) {
      return Var::Bool(RootLength(path_) == path_.size());
    }
    if (member == Id("files") || member == Id("subfolders")) {
      const bool files = member == Id("files");
      std::vector<Text> names;
      std::vector<Var> items;
      for (const pellar::FolderEntry& entry :
           Platform::Current().ListFolder(path_)) {
        Text path = Join(path_, entry.name);
        // A link counts as what it leads to, as on Windows; walks through
        // the tree (Size, Copy, Delete) still never follow it.
        const bool folder =
            entry.kind == EntryKind::kFolder ||
            (entry.kind == EntryKind::kLink && FolderExists(path));
        const bool file = entry.kind == EntryKind::kFile ||
                          (entry.kind == EntryKind::kLink && FileExists(path));
        if (files ? !file : !folder) continue;
        names.push_back(entry.name);
        items.push_back(files ? MakeFile(std::move(path))
                              : MakeFolder(std::move(path)));
      }
      Var list = Own(new EntryCollection(files ? u"Files" : u"Folders",
                                         std::move(names), std::move(items)));
      if (!args.empty()) {
        return list.object()->Invoke(in, "", args, CallKind::kGet);
      }
      return list;
    }
    if (member == Id("delete")) {
      ArgCount(args, 0, 1);
      Platform::Current().DeleteFolderTree(path_,
                                           !args.empty() && ToBool(*args[0]));
      return Var();
    }
    if (member == Id("copy")) {
      ArgCount(args, 1, 2);
      Text to = ToStr(*args[0]);
      if (!to.empty() && IsSeparator(to.back())) {
        to += path_.substr(NameStart(path_));
      }
      CopyTree(path_, to, args.size() < 2 || ToBool(*args[1]));
      return Var();
    }
    if (member == Id("createtextfile")) {
      ArgCount(args, 1, 3);
      const Text name = ToStr(*args[0]);
      const Text path = RootLength(name) > 0 ? name : Join(path_, name);
      if (args.size() > 1 && !ToBool(*args[1]) && FileExists(path)) {
        Raise(error::kFileExists);
      }
      return WriteStream(path, "", args.size() > 2 && ToBool(*args[2]));
    }
    NoMember();
  }
};

Var MakeFolder(Text path) { return Own(new FolderObject(std::move(path))); }
Var MakeFile(Text path) { return Own(new FileObject(std::move(path))); }

// Renames a file or folder; an existing `to` is 58, as on Windows.
void MoveEntry(TextView from, TextView to) {
  Platform::Current().Rename(from, to);
}

// CopyFile, MoveFile, CopyFolder and MoveFolder: the source's last
// component may hold wildcards; then, or when `to` ends in a separator,
// `to` is a folder that takes each match under its own name.
void Transfer(TextView from, Text to, bool folders, bool move, bool overwrite) {
  const bool into =
      HasWildcard(from) || (!to.empty() && IsSeparator(to.back()));
  std::vector<Text> sources;
  if (HasWildcard(from)) {
    sources = Matches(from, folders ? LookupKind::kFolder : LookupKind::kFile);
  } else if (folders ? FolderExists(from) : FileExists(from)) {
    sources.emplace_back(from);
  }
  if (sources.empty()) {
    Raise(folders ? error::kPathNotFound : error::kFileNotFound);
  }
  if (into && !FolderExists(to)) Raise(error::kPathNotFound);
  for (const Text& source : sources) {
    // A link among the matches is no folder of the tree to copy.
    if (folders && !move && HasWildcard(from) &&
        IsKind(source, EntryKind::kLink)) {
      continue;
    }
    const Text target =
        into ? Join(to, TextView(source).substr(NameStart(source))) : to;
    if (move) {
      MoveEntry(source, target);
    } else if (folders) {
      CopyTree(source, target, overwrite);
    } else {
      if (!overwrite && FileExists(target)) Raise(error::kFileExists);
      Platform::Current().CopyFile(source, target);
    }
  }
}

// "rad" and five hexadecimal digits, as Windows names them.
Text TempName() {
  thread_local std::mt19937 random{std::random_device{}()};
  Text name = u"rad";
  uint32_t n = random();
  for (int i = 0; i < 5; ++i, n >>= 4) {
    name.push_back(u"0123456789ABCDEF"[n & 15]);
  }
  return name + u".tmp";
}

class FileSystemObject final : public TableObject {
  static constexpr std::array<std::string_view, 21> kNames = {
      "fileexists",       "folderexists",        "createtextfile",
      "opentextfile",     "deletefile",          "deletefolder",
      "copyfile",         "copyfolder",          "movefile",
      "movefolder",       "createfolder",        "getfolder",
      "getfile",          "getabsolutepathname", "gettempname",
      "getspecialfolder", "getbasename",         "getextensionname",
      "getfilename",      "getparentfoldername", "buildpath"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  Text TypeName() const override { return u"FileSystemObject"; }

  Var InvokeResolved(Host&, int32_t member, std::string_view, Args args,
                     CallKind kind) override {
    if (kind == CallKind::kLet || kind == CallKind::kSet) NoMember();
    auto text = [&](size_t i) { return ToStr(*args[i]); };
    auto flag = [&](size_t i, bool absent) {
      return args.size() > i ? ToBool(*args[i]) : absent;
    };
    if (member == Id("fileexists")) {
      ArgCount(args, 1, 1);
      return Var::Bool(FileExists(text(0)));
    }
    if (member == Id("folderexists")) {
      ArgCount(args, 1, 1);
      return Var::Bool(FolderExists(text(0)));
    }
    if (member == Id("createtextfile")) {
      ArgCount(args, 1, 3);
      Text path = text(0);
      if (!flag(1, true) && FileExists(path)) Raise(error::kFileExists);
      return WriteStream(path, "", flag(2, false));
    }
    if (member == Id("opentextfile")) {
      ArgCount(args, 1, 4);
      return OpenStream(text(0), args.size() > 1 ? ToLong(*args[1]) : 1,
                        flag(2, false), args.size() > 3 ? ToLong(*args[3]) : 0);
    }
    if (member == Id("deletefile")) {
      ArgCount(args, 1, 2);
      Text path = text(0);
      std::vector<Text> matches =
          Platform::Current().Lookup(path, LookupKind::kFile);
      if (matches.empty()) Raise(error::kFileNotFound);
      for (const Text& match : matches) {
        if (flag(1, false)) {
          Platform::Current().ForceDeleteFile(match);
        } else {
          Platform::Current().DeleteFile(match);
        }
      }
      return Var();
    }
    if (member == Id("deletefolder")) {
      ArgCount(args, 1, 2);
      Text pattern = text(0);
      while (pattern.size() > RootLength(pattern) + 1 &&
             IsSeparator(pattern.back())) {
        pattern.pop_back();
      }
      std::vector<Text> matches;
      if (HasWildcard(pattern)) {
        matches = Matches(pattern, LookupKind::kFolder);
      } else if (FolderExists(pattern)) {
        matches.push_back(pattern);
      }
      if (matches.empty()) Raise(error::kPathNotFound);
      for (const Text& match : matches) {
        Platform::Current().DeleteFolderTree(match, flag(1, false));
      }
      return Var();
    }
    if (member == Id("copyfile") || member == Id("copyfolder")) {
      ArgCount(args, 2, 3);
      Transfer(text(0), text(1), member == Id("copyfolder"), false,
               flag(2, true));
      return Var();
    }
    if (member == Id("movefile") || member == Id("movefolder")) {
      ArgCount(args, 2, 2);
      Transfer(text(0), text(1), member == Id("movefolder"), true, false);
      return Var();
    }
    if (member == Id("createfolder")) {
      ArgCount(args, 1, 1);
      Text path = text(0);
      if (FileExists(path) || FolderExists(path)) Raise(error::kFileExists);
      Platform::Current().CreateFolder(path);
      return MakeFolder(AbsolutePath(path));
    }
    if (member == Id("getfolder") || member == Id("getfile")) {
      ArgCount(args, 1, 1);
      Text path = text(0);
      if (member == Id("getfolder")) {
        if (!FolderExists(path)) Raise(error::kPathNotFound);
        return MakeFolder(AbsolutePath(path));
      }
      if (!FileExists(path)) Raise(error::kFileNotFound);
      return MakeFile(AbsolutePath(path));
    }
    if (member == Id("getabsolutepathname")) {
      ArgCount(args, 1, 1);
      return Var::String(AbsolutePath(text(0)));
    }
    if (member == Id("gettempname")) {
      ArgCount(args, 0, 0);
      return Var::String(TempName());
    }
    if (member == Id("getspecialfolder")) {
      ArgCount(args, 1, 1);
      // Only the temporary folder has a meaning off Windows.
      if (ToLong(*args[0]) != 2) Raise(error::kInvalidCall);
      return MakeFolder(AbsolutePath(Platform::Current().TempFolder()));
    }
    if (member == Id("getbasename") || member == Id("getextensionname") ||
        member == Id("getfilename")) {
      ArgCount(args, 1, 1);
      Text path = text(0);
      while (!path.empty() && IsAnySeparator(path.back())) path.pop_back();
      Text file = path.substr(AnyNameStart(path));
      if (member == Id("getfilename")) return Var::String(file);
      size_t dot = file.rfind(u'.');
      if (member == Id("getbasename"))
        return Var::String(dot == Text::npos ? file : file.substr(0, dot));
      return Var::String(dot == Text::npos ? Text() : file.substr(dot + 1));
    }
    if (member == Id("getparentfoldername")) {
      ArgCount(args, 1, 1);
      Text path = text(0);
      size_t start = AnyNameStart(path);
      return Var::String(start == 0 ? Text() : path.substr(0, start - 1));
    }
    if (member == Id("buildpath")) {
      ArgCount(args, 2, 2);
      Text a = text(0), b = text(1);
      if (a.empty()) return Var::String(b);
      const bool a_ends = IsAnySeparator(a.back());
      const bool b_starts = !b.empty() && IsAnySeparator(b.front());
      if (a_ends && b_starts) b.erase(0, 1);
      if (!a_ends && !b_starts) a += Platform::Current().Separator();
      return Var::String(a + b);
    }
    NoMember();
  }
};

}  // namespace

Var MakeFileSystemObject() { return Own(new FileSystemObject); }

}  // namespace pellar::script
