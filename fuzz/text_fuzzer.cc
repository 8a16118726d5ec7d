// XmlEscape and the Windows-1252 and UTF-8 conversions on arbitrary text.
// Escaping must be undone exactly by reading the references back, stay
// within the seven bytes per character the XML writer sizes its line
// buffer by, and write the same bytes whether a line is composed as text
// (XmlWriteElement) or straight into the file (XmlPutElement).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <pellar/base/text_internal.h>
#include <pellar/io/xml_writer.h>
#include <pellar/platform/platform.h>

namespace pellar {
namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Undoes XmlEscape: the five named references and "&#" digits ";".
Text Unescape(const Text& text) {
  static const std::pair<TextView, char16_t> kNamed[] = {{u"&amp;", u'&'},
                                                         {u"&gt;", u'>'},
                                                         {u"&lt;", u'<'},
                                                         {u"&apos;", u'\''},
                                                         {u"&quot;", u'"'}};
  Text out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] != u'&') {
      out += text[i++];
      continue;
    }
    bool named = false;
    for (const auto& [reference, c] : kNamed) {
      if (TextView(text).substr(i, reference.size()) == reference) {
        out += c;
        i += reference.size();
        named = true;
        break;
      }
    }
    if (named) continue;
    Check(i + 1 < text.size() && text[i + 1] == u'#');
    size_t j = i + 2;
    int code = 0;
    while (j < text.size() && text[j] >= u'0' && text[j] <= u'9') {
      code = code * 10 + (text[j] - u'0');
      Check(code < 1000);
      ++j;
    }
    Check(j - i - 2 >= 4 && j < text.size() && text[j] == u';');
    out += code == 13 || code == 10
               ? static_cast<char16_t>(code)
               : AnsiChar(static_cast<unsigned char>(code));
    i = j + 1;
  }
  return out;
}

// Captures what the XML writer writes, in memory.
class MemoryPlatform : public ForwardingPlatform {
 public:
  MemoryPlatform() : ForwardingPlatform(Platform::Default()) {}
  std::string written;

  std::vector<Text> Lookup(TextView, LookupKind) override { return {}; }
  // Saves enter the platform through CreateForSave: it too writes to memory,
  // so no input ever reaches a real file.
  std::unique_ptr<WritableFile> CreateForSave(TextView path, FileAccess access,
                                              SaveStep* step) override {
    if (step != nullptr) *step = SaveStep::kCreate;
    return NewWritableFile(path, access);
  }
  std::unique_ptr<WritableFile> NewWritableFile(TextView, FileAccess) override {
    class File : public WritableFile {
     public:
      explicit File(std::string& out) : out_(out) {}
      void Append(std::string_view bytes) override { out_.append(bytes); }
      void Close() override {}

     private:
      std::string& out_;
    };
    return std::make_unique<File>(written);
  }
};

}  // namespace
}  // namespace pellar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pellar;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Windows-1252: every byte survives the round trip.
  const Text from_ansi = FromAnsi(bytes);
  Check(from_ansi.size() == bytes.size());
  Check(ToAnsi(from_ansi) == bytes);

  // The input as UTF-16 code units, lone surrogates and NUL included.
  Text text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  }
  Check(ToAnsi(text).size() == text.size());
  Check(FromAnsi(ToAnsi(from_ansi)) == from_ansi);

  // UTF-8 both ways; a lone surrogate comes back as U+FFFD.
  Text expected;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      expected += c;
      expected += text[++i];
    } else {
      expected += (c >= 0xD800 && c <= 0xDFFF) ? u'\uFFFD' : c;
    }
  }
  Check(FromUtf8(ToUtf8(text)) == expected);
  const std::string utf8 = ToUtf8(FromUtf8(bytes));
  Check(ToUtf8(FromUtf8(utf8)) == utf8);

  const Text escaped = XmlEscape(text);
  Check(escaped.size() <= 7 * text.size());
  for (char16_t c : escaped) {
    Check(c != u'<' && c != u'>' && c != u'"' && c != u'\'');
  }
  Check(Unescape(escaped) == text);
  Check(EqualsIgnoreCase(text, Lower(text)));

  // The same element line, composed as text or straight into the file.
  const size_t cut = text.empty() ? 0 : text[0] % (text.size() + 1);
  const Text name = text.substr(0, std::min<size_t>(cut, 8));
  MemoryPlatform memory;
  ScopedPlatform scope(memory);
  XmlFile file(u"mem.xml", u"", u"");
  Check(file.opened().empty());
  memory.written.clear();
  file.writer().Line(u"<" + name + u">" + escaped + u"</" + name + u">");
  file.writer().Flush();
  const std::string composed = memory.written;
  memory.written.clear();
  file.writer().Element(name, text);
  file.writer().Flush();
  Check(memory.written == composed);
  file.Close();
  return 0;
}
