// Faults found by the fault matrix, the extreme-argument matrix and the
// fuzzers, each pinned by the smallest case that showed it.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <pellar/automation/automation.h>
#include <pellar/base/failure.h>
#include <pellar/files/file.h>
#include <pellar/io/read_text.h>
#include <pellar/io/xml_writer.h>
#include <pellar/mail/email.h>
#include <pellar/platform/platform.h>
#include <pellar/testing/sandbox.h>
#include <pellar/testing/test_support.h>
#include <pellar/workarea/cell.h>

namespace pellar {
namespace {

using testing::FailingPlatform;
using testing::Op;
using testing::PathExists;
using testing::ReadBytes;
using testing::SandboxPlatform;
using testing::TempDir;
using testing::WriteBytes;

using ::pellar::testing::FailureOf;

// A FIFO would block these tests for good if the library waited on it: the
// alarm ends the process instead.
class NoHang {
 public:
  NoHang() { ::alarm(static_cast<unsigned>(testing::kPatience.count())); }
  ~NoHang() { ::alarm(0); }
};

bool IsFifo(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// Reading a device never ends (/dev/zero, /dev/full) or waits for a writer
// (a FIFO): a lookup in one grew its line buffer until memory ran out.
TEST(DeviceTest, OnlyOrdinaryFilesAreRead) {
  NoHang no_hang;
  TempDir dir;
  const std::string fifo = dir.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Platform& platform = Platform::Default();
  for (const std::string& path :
       {std::string("/dev/zero"), std::string("/dev/full"), fifo}) {
    EXPECT_EQ(FailureOf([&] { platform.NewSequentialFile(FromUtf8(path)); }),
              error::kPathFileAccess)
        << path;
  }
  Cell cell;
  Text name = u"/dev/full", key = u"k", separator = u",";
  int16_t key_col = 0, col = 1;
  EXPECT_EQ(FailureOf([&] { cell.Lookup(name, key_col, key, col, separator); }),
            error::kPathFileAccess);
  Email email;
  Text fifo_name = FromUtf8(fifo);
  EXPECT_EQ(email.BodyFile(fifo_name), u"Cannot find" + fifo_name);
}

// A FIFO without a reader blocked the save's open, and the host with it.
TEST(DeviceTest, AFifoIsNeverWaitedOn) {
  NoHang no_hang;
  TempDir dir;
  const std::string fifo = dir.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Cell cell;
  int32_t cols = 1;
  cell.Clear(1, cols);
  Text name = FromUtf8(fifo), separator = u",";
  int16_t max_lines = 0;
  EXPECT_EQ(cell.SaveFile(name, separator, max_lines),
            u"ERROR:Device I/O error");
  EXPECT_TRUE(IsFifo(fifo));
}

// A copy is made beside its destination and renamed over it: a device
// node or FIFO in its place was replaced by an ordinary file (as root,
// File.Copy onto /dev/null replaced the device).
TEST(DeviceTest, ACopyReplacesOnlyAnOrdinaryFile) {
  TempDir dir;
  const std::string fifo = dir.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  WriteBytes(dir.Path("a.txt"), "alpha");
  EXPECT_EQ(FailureOf([&] {
              Platform::Default().ReplaceFile(dir.TextPath("a.txt"),
                                              FromUtf8(fifo));
            }),
            error::kPathFileAccess);
  EXPECT_TRUE(IsFifo(fifo));
  File file;
  Text from = dir.TextPath("a.txt"), to = FromUtf8(fifo);
  EXPECT_EQ(file.Copy(from, to), u"Error: Path/File access error");
  EXPECT_TRUE(IsFifo(fifo));
  EXPECT_EQ(ReadBytes(dir.Path("a.txt")), "alpha");
  // No temporary copy is left beside it.
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 2u);
}

// One CopyFormat call copied a long format into every cell of the
// rectangle: 65,536 copies of a megabyte took the process down.
TEST(CopyFormatTest, ACopyBeyondTheMemoryShareIsRefused) {
  TempDir dir;
  SandboxPlatform sandbox(dir.path());
  sandbox.physical_memory = uint64_t{1} << 30;
  ScopedPlatform scope(sandbox);
  Cell cell;
  int32_t cols = 1;
  ASSERT_EQ(cell.Clear(32767, cols), u"Pellar Work Area Created (32767 x 1)");
  Text property = u"f", value(size_t{1} << 20, u'v');
  cell.SaveFormat(0, 0, property, value);
  int16_t from_row = 0, from_col = 0, start_row = 0, start_col = 0,
          end_row = 32767, end_col = 1;
  EXPECT_EQ(FailureOf([&] {
              cell.CopyFormat(from_row, from_col, start_row, start_col, end_row,
                              end_col);
            }),
            error::kOutOfMemory);
  EXPECT_EQ(cell.format(1, 1), u"");  // nothing was copied
  // The same copy over a rectangle that fits is made.
  end_row = 20;
  EXPECT_EQ(cell.CopyFormat(from_row, from_col, start_row, start_col, end_row,
                            end_col),
            u"Format Copied");
  EXPECT_EQ(cell.format(20, 1), cell.format(0, 0));
}

// A failed XML save kept its file open until the thread's next XML open:
// the file stayed locked, and a second save under the same name could not
// delete it on Windows.
TEST(XmlWriterTest, AFailedSaveLeavesNoFileOpen) {
  TempDir dir;
  Cell cell;
  int32_t cols = 1;
  cell.Clear(3, cols);
  Text name = dir.TextPath("out.xml"), doc = u"D", record = u"R";
  int16_t max_lines = 0;
  {
    FailingPlatform failing(Op::kWrite, 12, error::kDiskFull);
    ScopedPlatform scope(failing);
    EXPECT_EQ(cell.SaveXMLFile(name, doc, record, max_lines),
              u"ERROR:Disk full");
    EXPECT_EQ(failing.OpenFiles(), 0);
  }
  EXPECT_EQ(cell.SaveXMLFile(name, doc, record, max_lines),
            u"Saved to " + name + u" (3 records)");
}

// Running out of memory inside a method without a trap (a line of a
// lookup file too long to hold) escaped Invoke as std::bad_alloc, without
// a failure number.
TEST(InvokeTest, RunningOutOfMemoryFailsWithSeven) {
  class Exhausted : public ForwardingPlatform {
   public:
    Exhausted() : ForwardingPlatform(Platform::Default()) {}
    std::unique_ptr<SequentialFile> NewSequentialFile(TextView) override {
      struct File : SequentialFile {
        size_t Read(char*, size_t) override { throw std::bad_alloc(); }
      };
      return std::make_unique<File>();
    }
  } exhausted;
  ScopedPlatform scope(exhausted);
  std::unique_ptr<Object> cell = Object::Create(u"PellarLib.Cell");
  std::vector<Arg> args{Arg::Val(Text(u"big.csv")), Arg::Val(int16_t{0}),
                        Arg::Val(Text(u"k")), Arg::Val(int16_t{1}),
                        Arg::Val(Text(u","))};
  EXPECT_EQ(FailureOf([&] { Invoke(*cell, u"Lookup", args); }),
            error::kOutOfMemory);
}

// The fuzzers' sandbox ran a script's WScript.Shell.Run for real: a mutated
// command could reach the machine. Programs it is asked to run wait for
// nothing and leave no trace but the record.
TEST(SandboxTest, RunsNoProgram) {
  TempDir dir;
  SandboxPlatform sandbox(dir.path());
  const std::string marker = dir.Path("ran");
  EXPECT_EQ(sandbox.RunProcess(u"sh -c \"echo > '" + FromUtf8(marker) +
                               u"'; exit 3\""),
            0);
  EXPECT_EQ(sandbox.start_count, 1);
  EXPECT_FALSE(std::filesystem::exists(marker));
}

}  // namespace
}  // namespace pellar
