// Every method that touches the file system, failed at each of its platform
// calls in turn (the first, then the second, ... until a run gets through
// without reaching the injected call), with each of three failure numbers.
//
// After every failed run: a trapping method answered its prefix and the
// injected description, any other method failed the call with the injected
// number; every file holds what it held before or a prefix of what the
// complete run writes (no stray temporary file, no half-replaced copy); no
// file handle or descriptor stayed open; the thread's XML writer opens the
// next file as usual.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <pellar/automation/automation.h>
#include <pellar/base/failure.h>
#include <pellar/base/text_internal.h>
#include <pellar/io/identity.h>
#include <pellar/mail/email.h>
#include <pellar/testing/test_support.h>
#include <pellar/workarea/cell.h>

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::FakePlatform;
using testing::Op;
using testing::OpName;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

constexpr int kNumbers[] = {error::kDiskFull, error::kPermissionDenied,
                            error::kDeviceIo};

// Starts nothing: the command lines are only recorded.
class MatrixPlatform : public FailingPlatform {
 public:
  std::vector<Text> started;
  void StartProcess(TextView command_line, WindowStyle) override {
    Tick(Op::kStartProcess);
    started.emplace_back(command_line);
  }
};

std::string WorkingFolder() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) ? buffer : "";
}

// A fresh temporary folder made the working folder for one run. Relative
// names keep every byte the method writes the same from run to run.
class WorkFolder {
 public:
  WorkFolder() : previous_(WorkingFolder()) {
    if (::chdir(dir_.path().c_str()) != 0) ADD_FAILURE() << "chdir";
  }
  ~WorkFolder() {
    if (::chdir(previous_.c_str()) != 0) ADD_FAILURE() << "chdir back";
  }
  const std::string& path() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::string previous_;
};

// Every entry below `folder`, hidden ones included: relative path to bytes,
// folders as "<folder>".
using Snapshot = std::map<std::string, std::string>;
constexpr char kFolderMark[] = "<folder>";

void Take(const std::string& folder, const std::string& prefix, Snapshot& out) {
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return;
  while (struct dirent* entry = ::readdir(d)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      out[prefix + name] = kFolderMark;
      Take(path, prefix + name + "/", out);
    } else {
      out[prefix + name] = ReadBytes(path);
    }
  }
  ::closedir(d);
}

Snapshot Take() {
  Snapshot out;
  Take(".", "", out);
  return out;
}

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

// What an injected failure may show as.
struct Answer {
  bool may_throw = false;         // the call fails with the injected number
  std::vector<Text> prefixes;     // prefix & the injected description
  std::vector<Text> fixed;        // one of these texts
  bool may_answer_false = false;  // the Boolean False
};

Answer Untrapped() { return Answer{true, {}, {}, false}; }
Answer Trapped(Text prefix) {
  return Answer{false, {std::move(prefix)}, {}, false};
}
// The Cell XML saves answer a failure of the writer's own open as the
// writer tells it.
Answer XmlTrapped() {
  return Answer{false, {u"ERROR:", u"Error Creating File: "}, {}, false};
}
// The spool tells a file it could not create; later failures fail the call.
Answer Spooling() {
  return Answer{true, {u"Error Creating File: "}, {}, false};
}

struct Outcome;

struct Case {
  std::string name;  // "Cell_SaveFile_OverAnOldFile"
  Text progid;
  Text method;
  std::function<void()> files;           // what the call finds on disk
  std::function<void(Object&)> prepare;  // earlier calls on the instance
  std::function<std::vector<Value>()> args;
  Answer answer;
  // Checks particular to the method, after a failed run.
  std::function<void(const Outcome&)> check;
};

// Test names print the scenario rather than the bytes of the Case.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

struct Outcome {
  bool fired = false;
  Op failed_op = Op::kAny;
  int calls = 0;
  bool threw = false;
  int thrown = 0;
  Value answer;
  std::vector<Value> variables;  // the arguments after the call
  Snapshot before;
  Snapshot after;
  int open_files = 0;
  int descriptors_before = 0;
  int descriptors_after = 0;
  std::vector<Text> started;
  std::shared_ptr<Object> object;
};

template <typename T>
T& Self(const Outcome& outcome) {
  return *static_cast<T*>(outcome.object->self());
}

Value Call(Object& object, TextView method, std::vector<Value> values) {
  std::vector<Arg> args;
  for (Value& v : values) args.push_back(Arg::Ref(v));
  return Invoke(object, method, args);
}

// One run of `c` in a fresh folder, failing the `nth` platform call (none
// for 0) with `number`.
Outcome RunOnce(const Case& c, int nth, int number) {
  WorkFolder work;
  Outcome out;
  FakePlatform setup;
  setup.module_folder = FromUtf8(work.path());
  {
    ScopedPlatform scope(setup);
    if (c.files) c.files();
    out.object = Object::Create(c.progid);
    if (c.prepare) c.prepare(*out.object);
  }
  out.variables = c.args();
  std::vector<Arg> args;
  for (Value& v : out.variables) args.push_back(Arg::Ref(v));
  out.before = Take();

  MatrixPlatform failing;
  failing.module_folder = setup.module_folder;
  if (nth > 0) failing.FailAt(Op::kAny, nth, number);
  out.descriptors_before = OpenDescriptors();
  {
    ScopedPlatform scope(failing);
    try {
      out.answer = Invoke(*out.object, c.method, args);
    } catch (const Failure& failure) {
      out.threw = true;
      out.thrown = failure.number();
    }
  }
  out.descriptors_after = OpenDescriptors();
  out.fired = failing.Fired();
  if (out.fired) out.failed_op = failing.Trace().back();
  out.calls = failing.TotalCalls();
  out.open_files = failing.OpenFiles();
  out.started = failing.started;
  out.after = Take();
  return out;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A file after a failure holds its old bytes, or a prefix of what the
// complete run leaves there; an entry may be gone only where the complete
// run changes or removes it; nothing else appears.
void CheckFiles(const Outcome& golden, const Outcome& run) {
  for (const auto& [path, bytes] : run.after) {
    auto old = run.before.find(path);
    if (old != run.before.end() && old->second == bytes) continue;
    auto done = golden.after.find(path);
    if (done == golden.after.end()) {
      ADD_FAILURE() << "stray entry " << path;
      continue;
    }
    if (bytes == kFolderMark || done->second == kFolderMark) {
      EXPECT_EQ(bytes, done->second) << path;
      continue;
    }
    EXPECT_TRUE(StartsWith(done->second, bytes))
        << path << " holds bytes the complete run does not write:\n"
        << bytes;
  }
  for (const auto& [path, bytes] : run.before) {
    if (run.after.count(path)) continue;
    auto done = golden.after.find(path);
    EXPECT_TRUE(done == golden.after.end() || done->second != bytes)
        << path << " is gone though the complete run keeps it";
  }
}

void CheckAnswer(const Case& c, const Outcome& run, int number) {
  const Answer& a = c.answer;
  const Text description(Describe(number));
  if (run.threw) {
    EXPECT_TRUE(a.may_throw) << "the call failed with " << run.thrown;
    EXPECT_EQ(run.thrown, number);
    return;
  }
  if (const bool* b = std::get_if<bool>(&run.answer)) {
    EXPECT_TRUE(a.may_answer_false && !*b) << "answered " << *b;
    return;
  }
  const Text* text = std::get_if<Text>(&run.answer);
  ASSERT_NE(text, nullptr);
  for (const Text& fixed : a.fixed) {
    if (*text == fixed) return;
  }
  for (const Text& prefix : a.prefixes) {
    if (*text == prefix + description) return;
  }
  ADD_FAILURE() << "answered \"" << ToUtf8(*text) << "\"";
}

// Scenario figures, printed when the program ends.
struct Figures {
  std::map<std::string, int> points;  // scenario -> injection points
  int runs = 0;
  ~Figures() {
    if (points.empty()) return;
    int total = 0;
    for (const auto& [name, n] : points) {
      std::printf("fault matrix: %-48s %3d injection points\n", name.c_str(),
                  n);
      total += n;
    }
    std::printf("fault matrix: %zu scenarios, %d injection points, %d runs\n",
                points.size(), total, runs);
  }
};
Figures& figures() {
  static Figures f;
  return f;
}

class FaultMatrixTest : public ::testing::TestWithParam<Case> {};

TEST_P(FaultMatrixTest, FailsCleanlyAtEveryPlatformCall) {
  const Case& c = GetParam();
  const Outcome golden = RunOnce(c, 0, 0);
  ASSERT_FALSE(golden.threw)
      << "the complete run failed with " << golden.thrown;
  ASSERT_GT(golden.calls, 0);
  EXPECT_EQ(golden.open_files, 0);
  EXPECT_EQ(golden.descriptors_after, golden.descriptors_before);

  int nth = 1;
  for (;; ++nth) {
    bool fired = false;
    for (int number : kNumbers) {
      const Outcome run = RunOnce(c, nth, number);
      ++figures().runs;
      if (!run.fired) {
        // Past the last call: the run is the complete one.
        EXPECT_EQ(nth, golden.calls + 1);
        EXPECT_EQ(run.answer, golden.answer);
        EXPECT_EQ(run.after, golden.after);
        break;
      }
      fired = true;
      SCOPED_TRACE(c.name + ": call " + std::to_string(nth) + " (" +
                   OpName(run.failed_op) + ") failed with " +
                   std::to_string(number));
      CheckAnswer(c, run, number);
      CheckFiles(golden, run);
      EXPECT_EQ(run.open_files, 0) << "files left open";
      EXPECT_EQ(run.descriptors_after, run.descriptors_before)
          << "descriptors left open";
      if (c.check) c.check(run);
      if (::testing::Test::HasFailure()) return;
    }
    if (!fired) break;
    ASSERT_LE(nth, golden.calls) << "more calls than the complete run made";
  }
  figures().points[c.name] = nth - 1;
}

// --- The scenarios ---------------------------------------------------------

Value T(const char16_t* text) { return Text(text); }
Value I16(int16_t n) { return n; }

void Write(const char* name, std::string_view bytes) {
  WriteBytes(std::string("./") + name, bytes);
}

void Folder(const char* name) { ::mkdir(name, 0755); }

void CellGrid(Object& cell, int32_t rows, int32_t cols) {
  Call(cell, u"Clear", {rows, cols});
  for (int32_t r = 0; r <= rows; ++r) {
    for (int32_t c = 0; c <= cols; ++c) {
      Call(cell, u"SaveValue",
           {r, c, Text(u"v") + Decimal(r) + u"\u00E9" + Decimal(c), T(u"")});
    }
  }
}

// A delimited file larger than one read, so that a load can stop half-way.
std::string LongDelimitedFile(int lines) {
  std::string bytes;
  for (int i = 0; i < lines; ++i) {
    bytes += "k" + std::to_string(i) + ",value " + std::to_string(i) +
             std::string(40, 'x') + "\r\n";
  }
  return bytes;
}
constexpr int kLongLines = 3000;

std::vector<Case> Cases() {
  std::vector<Case> cases;
  // Cell
  cases.push_back({"Cell_SaveFile_OverAnOldFile", u"PellarLib.Cell",
                   u"SaveFile", [] { Write("out.csv", "old\r\n"); },
                   [](Object& cell) { CellGrid(cell, 3, 2); },
                   [] {
                     return std::vector<Value>{T(u"out.csv"), T(u","), I16(2)};
                   },
                   Trapped(u"ERROR:"),
                   [](const Outcome& run) {
                     const int32_t rows = Self<Cell>(run).max_row();
                     EXPECT_TRUE(rows == 3 || rows == 2) << rows;
                   }});
  cases.push_back(
      {"Cell_SaveXMLFile", u"PellarLib.Cell", u"SaveXMLFile",
       [] { Write("out.xml", "old\r\n"); },
       [](Object& cell) {
         CellGrid(cell, 2, 2);
         Call(cell, u"SetXMLTag", {I16(1), T(u"A")});
         Call(cell, u"SetXMLTag", {I16(2), T(u"B&")});
       },
       [] {
         return std::vector<Value>{T(u"out.xml"), T(u"Doc"), T(u"Rec"), I16(0)};
       },
       XmlTrapped(), nullptr});
  cases.push_back({"Cell_SaveWorkSheet", u"PellarLib.Cell", u"SaveWorkSheet",
                   [] { Write("sheet.xml", "old\r\n"); },
                   [](Object& cell) { CellGrid(cell, 1, 2); },
                   [] {
                     return std::vector<Value>{T(u"sheet.xml"), T(u"book.xls"),
                                               T(u"Sheet 1")};
                   },
                   XmlTrapped(), nullptr});
  cases.push_back({"Cell_LoadFile", u"PellarLib.Cell", u"LoadFile",
                   [] { Write("in.csv", LongDelimitedFile(kLongLines)); },
                   [](Object& cell) {
                     Call(cell, u"Clear", {int32_t{kLongLines}, 1});
                   },
                   [] {
                     return std::vector<Value>{T(u"in.csv"), T(u",")};
                   },
                   Trapped(u"ERROR:"),
                   [](const Outcome& run) {
                     // The rows read before the failure stay loaded, in file
                     // order.
                     const Cell& cell = Self<Cell>(run);
                     bool loaded = true;
                     for (int32_t r = 0; r < kLongLines; ++r) {
                       const Text key = cell.value(r, 0);
                       if (key.empty()) {
                         loaded = false;
                         continue;
                       }
                       ASSERT_TRUE(loaded)
                           << "row " << r << " loaded after a gap";
                       EXPECT_EQ(key, u"k" + Decimal(r));
                     }
                   }});
  cases.push_back({"Cell_Lookup", u"PellarLib.Cell", u"Lookup",
                   [] { Write("in.csv", LongDelimitedFile(kLongLines)); },
                   nullptr,
                   [] {
                     return std::vector<Value>{T(u"in.csv"), I16(0),
                                               T(u"k2999"), I16(1), T(u",")};
                   },
                   Untrapped(), nullptr});
  // UFL
  cases.push_back({"UFL_Help_savelog", u"PellarLib.UFL", u"Help", nullptr,
                   [](Object&) {
                     ClearActivityLog();
                     LogLine(u"report started");
                     LogLine(u"report ended");
                   },
                   [] { return std::vector<Value>{T(u"savelog")}; },
                   Untrapped(), nullptr});
  // Email
  cases.push_back({"Email_BodyFile", u"PellarLib.Email", u"BodyFile",
                   [] { Write("body.txt", "line 1\r\nline 2\r\n"); },
                   [](Object& email) { Call(email, u"Body", {T(u"first")}); },
                   [] { return std::vector<Value>{T(u"body.txt")}; },
                   Untrapped(),
                   [](const Outcome& run) {
                     EXPECT_EQ(Self<Email>(run).body(), u"first");
                   }});
  cases.push_back({"Email_Attach", u"PellarLib.Email", u"Attach",
                   [] {
                     Write("a.pdf", "a");
                     Write("b.pdf", "b");
                   },
                   [](Object& email) { Call(email, u"Attach", {T(u"a.pdf")}); },
                   [] { return std::vector<Value>{T(u"b.pdf")}; }, Untrapped(),
                   [](const Outcome& run) {
                     EXPECT_EQ(Self<Email>(run).attachment_count(), 1);
                   }});
  cases.push_back(
      {"Email_HTMLFile", u"PellarLib.Email", u"HTMLFile",
       [] { Write("page.html", "<p>"); }, nullptr,
       [] { return std::vector<Value>{T(u"page.html")}; }, Untrapped(),
       [](const Outcome& run) { EXPECT_EQ(Self<Email>(run).extras(), u""); }});
  auto compose = [](Object& email) {
    Call(email, u"SetServerLogin", {T(u"user"), T(u"secret")});
    Call(email, u"Body", {T(u"Dear reader,\r\nthe figures.")});
    Call(email, u"HTML", {T(u"<b>figures</b>")});
    Call(email, u"AddTag", {T(u"Priority"), T(u"high")});
    Call(email, u"Command", {T(u"Find"), T(u"%x%")});
    for (const char16_t* name :
         {u"a.pdf", u"b.pdf", u"c.pdf", u"d.pdf", u"e.pdf"}) {
      Call(email, u"Attach", {T(name)});
    }
  };
  auto attachments = [] {
    Folder("outbox");
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf", "d.pdf", "e.pdf"}) {
      Write(name, name);
    }
  };
  cases.push_back({"Email_SaveOutbox", u"PellarLib.Email", u"SaveOutbox",
                   [attachments] {
                     attachments();
                     Write("outbox/M1.xml", "old\r\n");
                   },
                   compose,
                   [] {
                     return std::vector<Value>{
                         T(u"outbox"),    T(u"smtp.example"), T(u"a@example"),
                         T(u"b@example"), T(u"Figures"),      T(u"M1")};
                   },
                   Spooling(), nullptr});
  cases.push_back({"Email_SaveOutboxWithAttachments", u"PellarLib.Email",
                   u"SaveOutboxWithAttachments", attachments, compose,
                   [] {
                     return std::vector<Value>{
                         T(u"outbox"),    T(u"smtp.example"), T(u"a@example"),
                         T(u"b@example"), T(u"Figures"),      T(u"M"),
                         I16(2)};
                   },
                   Spooling(), nullptr});
  cases.push_back({"Email_SendOutbox", u"PellarLib.Email", u"SendOutbox",
                   [] { Write("mail prog", "#!/bin/sh\n"); }, nullptr,
                   [] {
                     return std::vector<Value>{T(u"outbox"), T(u"mail prog")};
                   },
                   Untrapped(),
                   [](const Outcome& run) {
                     // Quoting comes before the start and stays when the start
                     // fails.
                     const Text& program = std::get<Text>(run.variables[1]);
                     if (run.failed_op == Op::kStartProcess) {
                       EXPECT_EQ(program, u"\"mail prog\"");
                     } else {
                       EXPECT_EQ(program, u"mail prog");
                     }
                     EXPECT_TRUE(run.started.empty());
                   }});
  // FTP
  auto ftp_args = [](bool now) {
    return [now] {
      return std::vector<Value>{
          T(u"run.sh"), T(u"cmds.txt"), T(u"ftp.example"), T(u"user"),
          T(u"secret"), T(u"/in"),      T(u"report.csv"),  now};
    };
  };
  cases.push_back(
      {"FTP_SendFile_Now", u"PellarLib.FTP", u"SendFile", nullptr, nullptr,
       ftp_args(true), Untrapped(),
       [](const Outcome& run) { EXPECT_TRUE(run.started.empty()); }});
  cases.push_back({"FTP_GetFile_DryRunOverOldFiles", u"PellarLib.FTP",
                   u"GetFile",
                   [] {
                     Write("run.sh", "old launcher\n");
                     Write("cmds.txt", "old commands\r\n");
                   },
                   nullptr, ftp_args(false), Untrapped(), nullptr});
  // File
  auto two_files = [] {
    Write("a.txt", "alpha\r\n");
    Write("b.txt", "beta\r\n");
  };
  cases.push_back({"File_Exists", u"PellarLib.File", u"Exists", two_files,
                   nullptr, [] { return std::vector<Value>{T(u"a.txt")}; },
                   Answer{false, {}, {}, true}, nullptr});
  cases.push_back(
      {"File_Delete_Wildcard", u"PellarLib.File", u"Delete",
       [] {
         Write("one.tmp", "1");
         Write("two.tmp", "2");
         Write("keep.txt", "k");
       },
       nullptr, [] { return std::vector<Value>{T(u"*.tmp")}; },
       Answer{false, {}, {u"UFL Error: Cannot Delete *.tmp"}, false}, nullptr});
  cases.push_back({"File_Rename", u"PellarLib.File", u"Rename", two_files,
                   nullptr,
                   [] {
                     return std::vector<Value>{T(u"a.txt"), T(u"c.txt")};
                   },
                   Trapped(u"Error: "), nullptr});
  cases.push_back({"File_Copy_OntoAnOldFile", u"PellarLib.File", u"Copy",
                   two_files, nullptr,
                   [] {
                     return std::vector<Value>{T(u"a.txt"), T(u"b.txt")};
                   },
                   Trapped(u"Error: "),
                   [](const Outcome& run) {
                     // Replaced whole or not at all.
                     EXPECT_EQ(run.after.at("b.txt"), "beta\r\n");
                   }});
  cases.push_back(
      {"File_Move", u"PellarLib.File", u"Move", two_files, nullptr,
       [] {
         return std::vector<Value>{T(u"a.txt"), T(u"c.txt")};
       },
       Answer{false,
              {u"Error: "},
              {u"File Moved from a.txt to c.txt",
               u"File copied to c.txt; UFL Error: Cannot Delete a.txt"},
              false},
       [](const Outcome& run) {
         // The source goes only after a complete copy.
         EXPECT_EQ(run.after.count("a.txt"), 1u);
         if (run.after.count("c.txt")) {
           EXPECT_EQ(run.after.at("c.txt"), "alpha\r\n");
         }
       }});
  // Folder
  auto folders = [] {
    Folder("sub");
    Write("sub/x.txt", "x");
  };
  cases.push_back({"Folder_Create", u"PellarLib.Folder", u"Create", folders,
                   nullptr, [] { return std::vector<Value>{T(u"sub/new")}; },
                   Trapped(u"UFL Error: "), nullptr});
  cases.push_back({"Folder_Exists", u"PellarLib.Folder", u"Exists", folders,
                   nullptr, [] { return std::vector<Value>{T(u"sub")}; },
                   Answer{false, {}, {}, true}, nullptr});
  cases.push_back({"Folder_Rename", u"PellarLib.Folder", u"Rename", folders,
                   nullptr,
                   [] {
                     return std::vector<Value>{T(u"sub"), T(u"renamed")};
                   },
                   Trapped(u"UFL Error: "), nullptr});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Methods, FaultMatrixTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// Every class method that reaches the file system has a scenario above.
TEST(FaultMatrixCoverageTest, CoversEveryFileMethod) {
  const std::vector<std::string> expected = {
      "Cell.SaveFile",      "Cell.LoadFile",
      "Cell.Lookup",        "Cell.SaveXMLFile",
      "Cell.SaveWorkSheet", "Email.BodyFile",
      "Email.Attach",       "Email.HTMLFile",
      "Email.SaveOutbox",   "Email.SaveOutboxWithAttachments",
      "Email.SendOutbox",   "FTP.SendFile",
      "FTP.GetFile",        "File.Exists",
      "File.Delete",        "File.Rename",
      "File.Copy",          "File.Move",
      "Folder.Create",      "Folder.Exists",
      "Folder.Rename",      "UFL.Help"};
  std::vector<std::string> covered;
  for (const Case& c : Cases()) {
    covered.push_back(ToUtf8(FindClass(c.progid)->name) + "." +
                      ToUtf8(c.method));
  }
  for (const std::string& method : expected) {
    EXPECT_NE(std::find(covered.begin(), covered.end(), method), covered.end())
        << method;
  }
}

}  // namespace
}  // namespace pellar
