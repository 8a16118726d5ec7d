// Every method of every class, called through Invoke with extreme argument
// values: the largest and smallest 16- and 32-bit numbers, 10 MB texts,
// texts with NUL characters and lone surrogates, empty and absent texts,
// and paths that are folders, devices or missing. Every call must answer a
// value of its declared type or fail with a failure number, and the process
// must stay within a fixed memory bound.
//
// The calls run in a sandbox folder that is also the working folder; the
// platform there starts no program and reports 1 GiB of physical memory,
// so the work areas a call may ask for are bounded.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include <pellar/automation/automation.h>
#include <pellar/base/failure.h>
#include <pellar/io/identity.h>
#include <pellar/io/xml_writer.h>
#include <pellar/testing/sandbox.h>
#include <pellar/testing/test_support.h>

#if defined(__SANITIZE_ADDRESS__)
#define PELLAR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELLAR_ASAN 1
#endif
#endif

namespace pellar {
namespace {

using testing::SandboxPlatform;
using testing::TempDir;
using testing::WriteBytes;

// The peak resident memory a whole class's matrix may reach. The largest
// single demand is a 10 MB text escaped for XML (up to seven bytes per
// character in the line buffer) next to its copies; ASan's shadow memory
// and quarantine come on top.
#ifdef PELLAR_ASAN
constexpr long kPeakBoundMiB = 1024;
#else
constexpr long kPeakBoundMiB = 512;
#endif
constexpr uint64_t kSandboxMemory = uint64_t{1} << 30;
// Under ASan every character handled costs tens of nanoseconds: the
// sanitized run, which looks for memory faults rather than for limits,
// passes 1 MB where the plain run passes 10 MB.
#ifdef PELLAR_ASAN
constexpr size_t kBigTextLength = size_t{1} << 20;
constexpr char kBigLabel[] = "1MB";
#else
constexpr size_t kBigTextLength = size_t{10} << 20;
constexpr char kBigLabel[] = "10MB";
#endif

struct Extreme {
  std::string label;
  Value value;
  bool big = false;  // called alone, never with other extremes
};

// Megabytes of report text: every character the XML escaping or the code
// page conversion treats specially occurs throughout.
Text LongReportText() {
  const Text piece =
      u"Line <1> & 'single' \"double\" caf\u00E9 \u20AC \u4E2D x\r\n";
  Text text;
  text.reserve(kBigTextLength);
  while (text.size() + piece.size() <= kBigTextLength) text += piece;
  text.resize(kBigTextLength, u'a');
  return text;
}

const Text& BigText() {
  static const Text text = LongReportText();
  return text;
}

std::vector<Extreme> MakeTextValues() {
  return {
      {"absent", Value{}},
      {"empty", Text()},
      {"plain", Text(u"out.txt")},
      {kBigLabel, BigText(), true},
      {"NUL inside", Text(u"a\0b.txt", 7)},
      {"NUL only", Text(1, u'\0')},
      {"lone surrogates", Text(u"\xD800x\xDFFF.txt")},
      {"folder", Text(u"sub")},
      {"working folder", Text(u".")},
      // Nodes of the sandbox's own (made when running as root).
      {"device null", Text(u"null.dev")},
      {"device full", Text(u"full.dev")},
      {"missing", Text(u"missing/none.txt")},
      {"wildcard", Text(u"*")},
      {"long name", Text(300, u'n')},
      {"outside the sandbox", Text(u"../outside.txt")},
      {"number", int32_t{-1}},
      {"huge double", 1e300},
      {"boolean", true},
  };
}

std::vector<Extreme> MakeInt32Values() {
  return {
      {"0", int32_t{0}},
      {"1", int32_t{1}},
      {"-1", int32_t{-1}},
      {"32767", int32_t{32767}},
      {"-32768", int32_t{-32768}},
      {"65535", int32_t{65535}},
      {"int32 max", std::numeric_limits<int32_t>::max()},
      {"int32 min", std::numeric_limits<int32_t>::min()},
      {"absent", Value{}},
      {"text beyond int32", Text(u"2147483648")},
      {"text", Text(u"abc")},
      {"NaN", std::nan("")},
      {"half", 0.5},
      {"True", true},
  };
}

std::vector<Extreme> MakeInt16Values() {
  return {
      {"0", int16_t{0}},
      {"1", int16_t{1}},
      {"-1", int16_t{-1}},
      {"int16 max", std::numeric_limits<int16_t>::max()},
      {"int16 min", std::numeric_limits<int16_t>::min()},
      {"32768", int32_t{32768}},
      {"int32 max", std::numeric_limits<int32_t>::max()},
      {"blank-padded text", Text(u" 12 ")},
      {"text", Text(u"x")},
      {"absent", Value{}},
      {"-0.5", -0.5},
      {"infinity", HUGE_VAL},
  };
}

std::vector<Extreme> MakeBooleanValues() {
  return {
      {"True", true},         {"False", false},  {"absent", Value{}},
      {"text", Text(u"yes")}, {"2", int32_t{2}},
  };
}

// The values of each type, made once.
const std::vector<Extreme>& ValuesOf(Type type) {
  static const std::vector<Extreme> texts = MakeTextValues();
  static const std::vector<Extreme> int32s = MakeInt32Values();
  static const std::vector<Extreme> int16s = MakeInt16Values();
  static const std::vector<Extreme> booleans = MakeBooleanValues();
  switch (type) {
    case Type::kText:
      return texts;
    case Type::kInt32:
      return int32s;
    case Type::kInt16:
      return int16s;
    case Type::kBoolean:
      return booleans;
  }
  return booleans;
}

// An ordinary value of each type, for the arguments not being varied.
Value Ordinary(Type type) {
  switch (type) {
    case Type::kText:
      return Text(u"data.txt");
    case Type::kInt32:
      return int32_t{2};
    case Type::kInt16:
      return int16_t{1};
    case Type::kBoolean:
      return false;
  }
  return Value{};
}

bool HoldsType(const Value& value, Type type) {
  switch (type) {
    case Type::kText:
      return std::holds_alternative<Text>(value);
    case Type::kInt32:
      return std::holds_alternative<int32_t>(value);
    case Type::kInt16:
      return std::holds_alternative<int16_t>(value);
    case Type::kBoolean:
      return std::holds_alternative<bool>(value);
  }
  return false;
}

// Equal values, a NaN counting as equal to itself.
bool Same(const std::vector<Value>& a, const std::vector<const Value*>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const double* x = std::get_if<double>(&a[i]);
    const double* y = std::get_if<double>(b[i]);
    if (x && y && std::isnan(*x) && std::isnan(*y)) continue;
    if (a[i] != *b[i]) return false;
  }
  return true;
}

// The methods that read or change files; the others leave the sandbox as
// it was, so it need not be restored before them.
bool TouchesFiles(const ClassInfo& cls, const MethodInfo& method) {
  static const char16_t* const kMethods[] = {
      u"Cell.SaveFile",      u"Cell.LoadFile",
      u"Cell.Lookup",        u"Cell.SaveXMLFile",
      u"Cell.SaveWorkSheet", u"Email.BodyFile",
      u"Email.Attach",       u"Email.HTMLFile",
      u"Email.SaveOutbox",   u"Email.SaveOutboxWithAttachments",
      u"Email.SendOutbox",   u"UFL.Help"};
  const Text name = Text(cls.name) + u"." + Text(method.name);
  for (const char16_t* m : kMethods) {
    if (name == m) return true;
  }
  return cls.name == u"FTP" || cls.name == u"File" || cls.name == u"Folder";
}

// Whether instances of the class hold state worth preparing.
bool HasState(const ClassInfo& cls) {
  return cls.name == u"Cell" || cls.name == u"Table" || cls.name == u"Email";
}

long PeakMiB() {
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

Value Call(Object& object, TextView method, std::vector<Value> values) {
  std::vector<Arg> args;
  for (Value& v : values) args.push_back(Arg::Ref(v));
  return Invoke(object, method, args);
}

// Gives an instance state worth calling on: a work area, a table, a
// message, each with a long text in it.
void Prepare(Object& object) {
  static const Text long_text(size_t{64} << 10, u'm');
  const TextView name = object.cls().name;
  if (name == u"Cell") {
    Call(object, u"Clear", {int32_t{20}, int32_t{3}});
    Call(object, u"SaveValue", {int32_t{0}, int32_t{1}, long_text, Text()});
    Call(object, u"SaveFormat",
         {int32_t{0}, int32_t{0}, Text(u"f"), long_text});
    Call(object, u"SetXMLTag", {int16_t{1}, Text(u"A")});
  } else if (name == u"Table") {
    Call(object, u"BuildNew", {int32_t{4}, int32_t{3}});
    Call(object, u"LoadCell", {int32_t{0}, int32_t{0}, long_text, Text(u"f")});
  } else if (name == u"Email") {
    Call(object, u"Body", {long_text});
    Call(object, u"Attach", {Text(u"a.pdf")});
    Call(object, u"SetServerLogin", {Text(u"user"), Text(u"secret")});
  }
}

// The working folder for the calls: a sandbox holding a few files and a
// folder, restored before each call that can change it.
class SandboxFolder {
 public:
  SandboxFolder() : previous_(std::filesystem::current_path()) {
    std::filesystem::create_directory(dir_.Path("root"));
    root_ = dir_.Path("root");
    std::filesystem::current_path(root_);
    Restore();
  }
  ~SandboxFolder() { std::filesystem::current_path(previous_); }

  void Restore() {
    // No call may replace or change a device: they stay nodes with mode 0666.
    for (const char* name : {"/null.dev", "/full.dev"}) {
      struct stat st;
      if (::lstat((root_ + name).c_str(), &st) != 0) continue;
      EXPECT_TRUE(S_ISCHR(st.st_mode)) << name << " was replaced";
      EXPECT_EQ(st.st_mode & 07777, 0666u) << name << " changed its mode";
    }
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
      std::filesystem::remove_all(entry.path());
    }
    if (::geteuid() == 0) {
      ::mknod((root_ + "/null.dev").c_str(), S_IFCHR | 0666, ::makedev(1, 3));
      ::mknod((root_ + "/full.dev").c_str(), S_IFCHR | 0666, ::makedev(1, 7));
      ::chmod((root_ + "/null.dev").c_str(), 0666);
      ::chmod((root_ + "/full.dev").c_str(), 0666);
    }
    std::filesystem::create_directory(root_ + "/sub");
    WriteBytes(root_ + "/sub/inner.txt", "inner\r\n");
    WriteBytes(root_ + "/data.txt", "k1,v1\r\nk2,v2\r\n");
    WriteBytes(root_ + "/out.txt", "old\r\n");
    WriteBytes(root_ + "/a.pdf", "%PDF");
  }
  const std::string& root() const { return root_; }

 private:
  TempDir dir_;
  std::filesystem::path previous_;
  std::string root_;
};

struct Tally {
  int calls = 0;
  int answered = 0;
  std::map<int, int> failures;  // number -> count
};

class ExtremeArgsTest : public ::testing::TestWithParam<size_t> {
 protected:
  // One call; anything but a declared-type answer or a Failure fails the
  // test. Ref arguments go in as the caller's variables.
  void CallOnce(const ClassInfo& cls, const MethodInfo& method,
                const std::vector<const Value*>& given, bool prepared,
                const std::string& what) {
    SCOPED_TRACE(ToUtf8(cls.name) + "." + ToUtf8(method.name) + " (" + what +
                 (prepared ? ", prepared instance)" : ", new instance)"));
    // Only a method that reaches the file system can change the folder.
    if (TouchesFiles(cls, method)) folder_.Restore();
    std::unique_ptr<Object> object = std::make_unique<Object>(cls);
    if (prepared) Prepare(*object);
    std::vector<Value> values;
    values.reserve(given.size());
    for (const Value* v : given) values.push_back(*v);
    std::vector<Arg> args;
    for (size_t i = 0; i < values.size(); ++i) {
      args.push_back(method.params[i].passing == Passing::kRef
                         ? Arg::Ref(values[i])
                         : Arg::Val(values[i]));
    }
    ++tally_.calls;
    try {
      const Value result = Invoke(*object, method, args);
      ++tally_.answered;
      EXPECT_TRUE(HoldsType(result, method.result));
    } catch (const ArgumentFailure& failure) {
      ++tally_.failures[failure.number()];
      // Refused before the method ran: the caller's variables are as given.
      EXPECT_TRUE(Same(values, given));
      return;
    } catch (const Failure& failure) {
      ++tally_.failures[failure.number()];
      EXPECT_GT(failure.number(), 0);
      EXPECT_FALSE(failure.description().empty());
    } catch (const std::exception& e) {
      ADD_FAILURE() << "escaped as " << typeid(e).name() << ": " << e.what();
    } catch (...) {
      ADD_FAILURE() << "escaped as an unknown exception";
    }
    for (size_t i = 0; i < values.size(); ++i) {
      if (method.params[i].passing == Passing::kRef) {
        EXPECT_TRUE(HoldsType(values[i], method.params[i].type))
            << "argument " << i << " written back in another type";
      }
    }
  }

  SandboxFolder folder_;
  Tally tally_;
};

TEST_P(ExtremeArgsTest, EveryMethodAnswersOrFailsCleanly) {
  const ClassInfo& cls = Classes()[GetParam()];
  SandboxPlatform sandbox(folder_.root());
  sandbox.physical_memory = kSandboxMemory;
  ScopedPlatform scope(sandbox);

  for (const MethodInfo& method : cls.methods) {
    std::vector<Value> ordinary;
    for (const ParamInfo& param : method.params) {
      ordinary.push_back(Ordinary(param.type));
    }
    for (bool prepared : {false, true}) {
      if (prepared && !HasState(cls)) continue;
      // Every parameter through its whole list, the others ordinary.
      for (size_t p = 0; p < method.params.size(); ++p) {
        for (const Extreme& extreme : ValuesOf(method.params[p].type)) {
          std::vector<const Value*> values;
          for (const Value& v : ordinary) values.push_back(&v);
          values[p] = &extreme.value;
          CallOnce(cls, method, values, prepared,
                   ToUtf8(method.params[p].name) + " " + extreme.label);
          if (HasFailure()) return;
        }
      }
      // Every parameter extreme at once: the k-th value of each list.
      size_t longest = 1;
      for (const ParamInfo& param : method.params) {
        longest = std::max(longest, ValuesOf(param.type).size());
      }
      for (size_t k = 0; k < longest; ++k) {
        std::vector<const Value*> values;
        std::string what = "all extreme";
        for (const ParamInfo& param : method.params) {
          const std::vector<Extreme>& list = ValuesOf(param.type);
          size_t i = (k + values.size()) % list.size();
          if (list[i].big) i = (i + 1) % list.size();
          const Extreme& extreme = list[i];
          values.push_back(&extreme.value);
          what += ", " + extreme.label;
        }
        CallOnce(cls, method, values, prepared, what);
        if (HasFailure()) return;
      }
    }
  }

  std::printf("extreme arguments: %s: %d calls, %d answered",
              ToUtf8(cls.name).c_str(), tally_.calls, tally_.answered);
  for (const auto& [number, count] : tally_.failures) {
    std::printf(", %d failed with %d", count, number);
  }
  std::printf("; peak %ld MiB (bound %ld MiB)\n", PeakMiB(), kPeakBoundMiB);
  EXPECT_LE(PeakMiB(), kPeakBoundMiB);
  EXPECT_EQ(sandbox.start_count > 0,
            cls.name == u"Email" || cls.name == u"FTP");
}

INSTANTIATE_TEST_SUITE_P(Classes, ExtremeArgsTest,
                         ::testing::Range(size_t{0}, Classes().size()),
                         [](const auto& info) {
                           return ToUtf8(Classes()[info.param].name);
                         });

}  // namespace
}  // namespace pellar
