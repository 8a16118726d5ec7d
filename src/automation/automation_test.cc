#include <pellar/automation/automation.h>

#include <gtest/gtest.h>

#include <set>

#include <pellar/base/failure.h>
#include <pellar/testing/test_support.h>

namespace pellar {
namespace {

using ::pellar::testing::FailureOf;

TEST(TableTest, HoldsTheSevenClassesWithTheirInterfaces) {
  std::vector<std::pair<Text, size_t>> expected = {
      {u"Cell", 13}, {u"UFL", 1},   {u"FTP", 2},  {u"File", 5},
      {u"Folder", 3}, {u"Email", 15}, {u"Table", 6}};
  ASSERT_EQ(Classes().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const ClassInfo& cls = Classes()[i];
    EXPECT_EQ(cls.name, expected[i].first);
    EXPECT_EQ(cls.progid, u"PellarLib." + expected[i].first);
    EXPECT_EQ(cls.interface_name, u"_" + expected[i].first);
    EXPECT_EQ(cls.methods.size(), expected[i].second) << ToUtf8(cls.name);
    for (size_t slot = 0; slot < cls.methods.size(); ++slot) {
      EXPECT_EQ(cls.methods[slot].slot, static_cast<int>(slot));
      EXPECT_EQ(cls.methods[slot].dispid, 0x60030000 + static_cast<int>(slot));
    }
  }
}

// Spot checks of the signatures whose types and passing are easy to get
// wrong: a mistake here breaks every script that passes variables.
TEST(TableTest, ParameterTypesAndPassing) {
  const ClassInfo* cell = FindClass(u"PellarLib.Cell");
  ASSERT_NE(cell, nullptr);
  const MethodInfo* clear = FindMethod(*cell, u"Clear");
  ASSERT_EQ(clear->params.size(), 2u);
  EXPECT_EQ(clear->params[0].type, Type::kInt32);
  EXPECT_EQ(clear->params[0].passing, Passing::kVal);
  EXPECT_EQ(clear->params[1].passing, Passing::kRef);
  const MethodInfo* copy = FindMethod(*cell, u"CopyFormat");
  for (const ParamInfo& p : copy->params) {
    EXPECT_EQ(p.type, Type::kInt16);
    EXPECT_EQ(p.passing, Passing::kRef);
  }
  EXPECT_EQ(FindMethod(*cell, u"LoadFile")->params[1].name, u"Seperator");
  EXPECT_EQ(FindMethod(*cell, u"SaveFile")->params[1].name, u"Separator");

  const ClassInfo* email = FindClass(u"pellarlib.email");
  ASSERT_NE(email, nullptr);
  const MethodInfo* spool = FindMethod(*email, u"SaveOutboxWithAttachments");
  EXPECT_EQ(spool->params.back().type, Type::kInt16);
  for (const ParamInfo& p : spool->params) EXPECT_EQ(p.passing, Passing::kVal);
  EXPECT_EQ(FindMethod(*email, u"Body")->params[0].passing, Passing::kVal);

  const ClassInfo* file = FindClass(u"PellarLib.File");
  EXPECT_EQ(FindMethod(*file, u"Exists")->result, Type::kBoolean);
  const MethodInfo* send = FindMethod(*FindClass(u"PellarLib.FTP"), u"SendFile");
  EXPECT_EQ(send->params.back().type, Type::kBoolean);
  EXPECT_EQ(send->params.back().name, u"SendNow");
}

TEST(TableTest, LookupByNameIsCaseInsensitiveAndByDispId) {
  const ClassInfo* cell = FindClass(u"PELLARLIB.CELL");
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(FindMethod(*cell, u"savevalue"), FindMethod(*cell, 0x60030001));
  EXPECT_EQ(FindMethod(*cell, 0x6002FFFF), nullptr);
  EXPECT_EQ(FindMethod(*cell, 0x6003000D), nullptr);
  EXPECT_EQ(FindMethod(*cell, u"NoSuch"), nullptr);
  EXPECT_EQ(FindClass(u"PellarLib.Nope"), nullptr);
}

TEST(ObjectTest, UnknownProgIdFailsWith429) {
  EXPECT_EQ(FailureOf([] { Object::Create(u"PellarLib.Nope"); }), 429);
  EXPECT_NE(Object::Create(u"pellarlib.ufl"), nullptr);
}

class InvokeTest : public ::testing::Test {
 protected:
  std::unique_ptr<Object> cell_ = Object::Create(u"PellarLib.Cell");

  Value Call(TextView method, std::vector<Arg> args) {
    return Invoke(*cell_, method, args);
  }
};

TEST_F(InvokeTest, WrongArgumentCountFailsBeforeTheMethodRuns) {
  EXPECT_EQ(FailureOf([&] { Call(u"Clear", {Arg::Val(int16_t{1})}); }), 450);
  EXPECT_EQ(FailureOf([&] { Call(u"Clear", {}); }), 450);
  Value s = Text(u"ab");
  EXPECT_EQ(FailureOf([&] {
              Call(u"Pad", {Arg::Ref(s), Arg::Val(int16_t{5}),
                            Arg::Val(int16_t{1})});
            }),
            450);
  EXPECT_EQ(s, Value(Text(u"ab")));
}

TEST_F(InvokeTest, UnknownMethodFailsWith438) {
  EXPECT_EQ(FailureOf([&] { Call(u"NoSuch", {}); }), 438);
}

TEST_F(InvokeTest, ConvertsArgumentsAndNamesTheBadOne) {
  EXPECT_EQ(Call(u"Clear", {Arg::Val(Text(u"10")), Arg::Val(3.0)}),
            Value(Text(u"Pellar Work Area Created (10 x 3)")));
  try {
    Call(u"Clear", {Arg::Val(int16_t{1}), Arg::Val(Text(u"abc"))});
    FAIL();
  } catch (const ArgumentFailure& f) {
    EXPECT_EQ(f.number(), 13);
    EXPECT_EQ(f.index(), 1);
  }
  Value l = int32_t{40000};
  Value s = Text(u"x");
  EXPECT_EQ(FailureOf([&] { Call(u"Pad", {Arg::Ref(s), Arg::Ref(l)}); }), 6);
  // Nothing ran, so nothing was written back.
  EXPECT_EQ(l, Value(int32_t{40000}));
}

TEST_F(InvokeTest, RefParametersAreWrittenBackInTheirDeclaredType) {
  Value s = int32_t{7};
  Value l = Text(u"3");
  EXPECT_EQ(Call(u"Pad", {Arg::Ref(s), Arg::Ref(l)}), Value(Text(u"7  ")));
  EXPECT_EQ(s, Value(Text(u"7  ")));
  EXPECT_EQ(l, Value(int16_t{3}));
}

TEST_F(InvokeTest, ValueArgumentsLeaveTheirSourceAlone) {
  Value s = Text(u"ab");
  std::vector<Arg> args = {Arg::Val(s), Arg::Val(int16_t{4})};
  EXPECT_EQ(Invoke(*cell_, u"Pad", args), Value(Text(u"ab  ")));
  EXPECT_EQ(s, Value(Text(u"ab")));
}

TEST_F(InvokeTest, WriteBackHappensEvenWhenTheMethodFails) {
  // Pad fails for a negative length after conversion; the caller's
  // variables still hold their declared types.
  Value s = int16_t{1};
  Value l = int32_t{-1};
  EXPECT_EQ(FailureOf([&] { Call(u"Pad", {Arg::Ref(s), Arg::Ref(l)}); }), 5);
  EXPECT_EQ(s, Value(Text(u"1")));
  EXPECT_EQ(l, Value(int16_t{-1}));
}

TEST_F(InvokeTest, MethodFailuresPassThrough) {
  Value v = Text(u"x");
  Value d = Text();
  EXPECT_EQ(FailureOf([&] {
              Call(u"SaveValue",
                   {Arg::Val(int32_t{0}), Arg::Val(int32_t{0}), Arg::Ref(v),
                    Arg::Ref(d)});
            }),
            9);
}

}  // namespace
}  // namespace pellar
