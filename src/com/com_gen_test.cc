#include "com/com_gen.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>

#include "com/guids.h"
#include "frame/automation.h"

namespace pellar::com {
namespace {

std::string ReadSource(const std::string& name) {
  std::ifstream in(std::string(PELLAR_COM_GENERATED_DIR) + "/" + name,
                   std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The checked-in sources are what the table gives now: a table change
// without `--target com_generate` fails here, before a Windows build could
// ship a type library that disagrees with the table.
TEST(GeneratedSourcesTest, MatchTheAutomationTable) {
  EXPECT_EQ(ReadSource(kIdlFileName), GenerateIdl(Classes()))
      << "run: cmake --build <build> --target com_generate";
  EXPECT_EQ(ReadSource(kDualClassesFileName), GenerateDualClasses(Classes()))
      << "run: cmake --build <build> --target com_generate";
}

// The declarations the host's formulas bind to, for the three shapes of
// parameter list: values and references, 16-bit references, a Boolean
// result.
TEST(GeneratedSourcesTest, DeclaresTypesPassingAndDispatchIds) {
  const std::string idl = GenerateIdl(Classes());
  for (const char* line : {
           "    [id(0x60030000)]\n"
           "    HRESULT Clear([in] long Rows, [in, out] long* Cols, "
           "[out, retval] BSTR* Result);\n",
           "    [id(0x60030008)]\n"
           "    HRESULT Pad([in, out] BSTR* s, [in, out] short* l, "
           "[out, retval] BSTR* Result);\n",
           "    [id(0x60030000)]\n"
           "    HRESULT Exists([in, out] BSTR* sFile, "
           "[out, retval] VARIANT_BOOL* Result);\n",
           "    [id(0x60030000)]\n"
           "    HRESULT SendFile([in, out] BSTR* BATFile, [in, out] BSTR* "
           "TXTFile, [in, out] BSTR* Site, [in, out] BSTR* User, [in, out] "
           "BSTR* Password, [in, out] BSTR* RemotePath, [in, out] BSTR* "
           "Filename, [in, out] VARIANT_BOOL* SendNow, [out, retval] BSTR* "
           "Result);\n",
           "    [id(0x60030001)]\n"
           "    HRESULT Body([in] BSTR s, [out, retval] BSTR* Result);\n",
           "  interface _Cell : IDispatch\n",
           "    hidden,\n    dual,\n    nonextensible,\n    oleautomation\n",
           "  coclass Cell\n  {\n    [default] interface _Cell;\n  };\n",
           "  version(28.0),\n",
       }) {
    EXPECT_NE(idl.find(line), std::string::npos) << line;
  }
  const std::string classes = GenerateDualClasses(Classes());
  EXPECT_NE(classes.find("  HRESULT STDMETHODCALLTYPE Pad(BSTR* a0, SHORT* "
                         "a1, BSTR* result) override {\n"
                         "    return Call(8, {ComArg::StrRef(a0), "
                         "ComArg::I2Ref(a1)}, result);\n"),
            std::string::npos);
}

TEST(GuidsTest, EveryClassHasItsOwnWellFormedGuids) {
  std::set<std::string> seen = {std::string(kLibraryId)};
  ASSERT_TRUE(ParseGuid(kLibraryId).has_value());
  ASSERT_EQ(AllClassGuids().size(), Classes().size());
  for (const ClassInfo& cls : Classes()) {
    const ClassGuids* guids = FindClassGuids(cls.name);
    ASSERT_NE(guids, nullptr) << ToUtf8(cls.name);
    for (std::string_view id : {guids->interface_id, guids->class_id}) {
      EXPECT_TRUE(ParseGuid(id).has_value()) << id;
      EXPECT_TRUE(seen.insert(std::string(id)).second) << "repeated " << id;
    }
  }
}

TEST(GuidsTest, ParsesTheRegistryForm) {
  std::optional<Guid> guid = ParseGuid("00020424-0000-0000-c000-000000000046");
  ASSERT_TRUE(guid.has_value());
  EXPECT_EQ(guid->data1, 0x00020424u);
  EXPECT_EQ(guid->data2, 0u);
  EXPECT_EQ(guid->data4[0], 0xC0);
  EXPECT_EQ(guid->data4[7], 0x46);
  for (const char* bad : {"", "00020424-0000-0000-C000-00000000004",
                          "{00020424-0000-0000-C000-000000000046}",
                          "00020424-0000-0000-C000-00000000004G",
                          "00020424+0000-0000-C000-000000000046"}) {
    EXPECT_FALSE(ParseGuid(bad).has_value()) << bad;
  }
  EXPECT_EQ(BracedGuid("73a8e21f-2501-4a73-ad81-c6702d5e8d7b"),
            "{73A8E21F-2501-4A73-AD81-C6702D5E8D7B}");
}

TEST(GeneratorTest, RefusesAClassWithoutGuids) {
  std::vector<ClassInfo> classes = {
      ClassInfo{u"Other", u"PellarLib.Other", u"_Other", {}, nullptr, nullptr}};
  EXPECT_THROW(GenerateIdl(classes), std::invalid_argument);
  EXPECT_THROW(GenerateDualClasses(classes), std::invalid_argument);
}

}  // namespace
}  // namespace pellar::com
