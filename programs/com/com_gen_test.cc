#include "com_gen.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <pellar/automation/automation.h>
#include "guids.h"

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
  EXPECT_EQ(ReadSource(kWixFileName), GenerateWix(Classes()))
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
  EXPECT_THROW(GenerateWix(classes), std::invalid_argument);
}

// Each DLL's component holds every entry its own registration writes, in
// its own registry view, with the path of its own file.
TEST(GeneratorTest, InstallerRegistersEachDllInItsOwnView) {
  const std::string wix = GenerateWix(Classes());
  const size_t split = wix.find("<Component Id=\"Server64\"");
  ASSERT_NE(split, std::string::npos);
  const std::string parts[2] = {wix.substr(0, split), wix.substr(split)};
  const size_t per_class = 8 + 5;  // class entries, interface entries
  for (int i = 0; i < 2; ++i) {
    const std::string bits = i == 0 ? "32" : "64";
    SCOPED_TRACE(bits);
    const std::string& part = parts[i];
    size_t rows = 0;
    for (size_t at = part.find("<RegistryValue "); at != std::string::npos;
         at = part.find("<RegistryValue ", at + 1)) {
      ++rows;
    }
    EXPECT_EQ(rows, Classes().size() * per_class + 4);
    for (const std::string& line : std::vector<std::string>{
             "Win64=\"" + std::string(i == 0 ? "no" : "yes") + "\"",
             "Key=\"CLSID\\{85F90CE9-1CCD-4A55-A5DA-0912928811B6}\\"
             "InprocServer32\" Value=\"[#Dll" +
                 bits + "]\"",
             "Key=\"TypeLib\\{73A8E21F-2501-4A73-AD81-C6702D5E8D7B}\\1c.0"
             "\\0\\win" +
                 bits + "\" Value=\"[#Dll" + bits + "]\"",
             "1c.0\\HELPDIR\" Value=\"[Folder" + bits + "]\"",
             "Key=\"Interface\\{17046D52-459A-4EFF-AAB0-F33B07002841}"
             "\\TypeLib\" Name=\"Version\" Value=\"1c.0\"",
             "Key=\"PellarLib.Table\\CLSID\" "
             "Value=\"{CA63AE11-F1A6-45E5-9C01-15BFD40FA411}\"",
         }) {
      EXPECT_NE(part.find(line), std::string::npos) << line;
    }
  }
  EXPECT_NE(wix.find("Version=\"3.2.0.30\" Manufacturer=\"Brambleworth Ltd\""),
            std::string::npos);
  EXPECT_NE(wix.find("Minimum=\"3.2.0.30\" IncludeMinimum=\"yes\" "
                     "Maximum=\"3.2.1\""),
            std::string::npos);
}

}  // namespace
}  // namespace pellar::com
