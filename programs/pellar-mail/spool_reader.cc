// The spool document through expat, with the writer's code page and
// character references.
#include "spool_reader.h"

#include <expat.h>

#include <algorithm>
#include <cstddef>

#include "writer_document.h"

namespace pellar::mail {
namespace {

constexpr std::string_view kRoot = "TessaryMAILDoc";
constexpr std::string_view kMessage = "MailMessage";
constexpr std::string_view kExtras = "Extras";

// Body and HTMLBody close on the line after their value.
bool IsBlockElement(std::string_view name) {
  return name == "Body" || name == "HTMLBody";
}

class Reader {
 public:
  Reader(XML_Parser parser, SpoolDocument* document)
      : parser_(parser), document_(document) {
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &Reader::OnStart, &Reader::OnEnd);
    XML_SetCharacterDataHandler(parser, &Reader::OnText);
    XML_SetStartDoctypeDeclHandler(parser, &Reader::OnDoctype);
  }

  const std::string& error() const { return error_; }
  bool saw_message() const { return saw_message_; }

 private:
  static void XMLCALL OnStart(void* self, const XML_Char* name,
                              const XML_Char** /*attributes*/) {
    static_cast<Reader*>(self)->Start(name);
  }
  static void XMLCALL OnEnd(void* self, const XML_Char* name) {
    static_cast<Reader*>(self)->End(name);
  }
  static void XMLCALL OnText(void* self, const XML_Char* text, int length) {
    Reader* reader = static_cast<Reader*>(self);
    if (reader->value_ != nullptr) {
      reader->value_->append(text, static_cast<size_t>(length));
    }
  }
  static void XMLCALL OnDoctype(void* self, const XML_Char* /*name*/,
                                const XML_Char* /*system_id*/,
                                const XML_Char* /*public_id*/,
                                int /*has_internal_subset*/) {
    static_cast<Reader*>(self)->Fail(
        "a spool document has no document type declaration");
  }

  void Start(std::string_view name) {
    const int depth = depth_++;
    if (depth == 0) {
      if (name != kRoot) {
        Fail("the root element is <" + std::string(name) + ">, not <" +
             std::string(kRoot) + ">");
      }
    } else if (depth == 1) {
      if (name != kMessage || saw_message_) {
        return Fail(Unexpected(name) + " in <" + std::string(kRoot) + ">");
      }
      saw_message_ = true;
    } else if (depth == 2 && name == kExtras) {
      in_extras_ = true;
    } else if (depth == 2 || (depth == 3 && in_extras_)) {
      std::vector<Element>& list =
          depth == 2 ? document_->message : document_->extras;
      list.push_back(Element{std::string(name), std::string()});
      value_ = &list.back().value;
      value_name_ = name;
      value_depth_ = depth_;
    } else {
      Fail(Unexpected(name) + " inside <" + value_name_ + ">");
    }
  }

  void End(std::string_view name) {
    if (value_ != nullptr && depth_ == value_depth_) {
      programs::FromWriterCodes(*value_);
      if (IsBlockElement(name) && !value_->empty() && value_->back() == '\n') {
        value_->pop_back();
      }
      value_ = nullptr;
    } else if (depth_ == 3 && name == kExtras) {
      in_extras_ = false;
    }
    --depth_;
  }

  static std::string Unexpected(std::string_view name) {
    return "unexpected <" + std::string(name) + ">";
  }

  void Fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    XML_StopParser(parser_, XML_FALSE);
  }

  XML_Parser parser_;
  SpoolDocument* document_;
  int depth_ = 0;
  bool saw_message_ = false;
  bool in_extras_ = false;
  std::string* value_ = nullptr;  // the value being read, if any
  std::string value_name_;
  int value_depth_ = 0;
  std::string error_;
};

// The writer names the document's own path in a header comment, unescaped:
// a path holding "--" would make the comment malformed. Whole-line header
// declarations and comments are therefore skipped before parsing; answers
// how many lines were skipped.
size_t SkipHeaderLines(std::string_view& bytes) {
  size_t lines = 0;
  for (;;) {
    const size_t end = bytes.find('\n');
    if (end == std::string_view::npos) return lines;
    std::string_view line = bytes.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const bool declaration = line.starts_with("<?") && line.ends_with("?>");
    const bool comment =
        line.starts_with("<!--") && line.ends_with("-->") && line.size() >= 7;
    if (!declaration && !comment) return lines;
    bytes.remove_prefix(end + 1);
    ++lines;
  }
}

bool EndsEarly(XML_Error code) {
  return code == XML_ERROR_NO_ELEMENTS || code == XML_ERROR_UNCLOSED_TOKEN ||
         code == XML_ERROR_PARTIAL_CHAR ||
         code == XML_ERROR_UNCLOSED_CDATA_SECTION;
}

}  // namespace

const std::string* SpoolDocument::Find(std::string_view name) const {
  auto it = std::find_if(message.begin(), message.end(),
                         [&](const Element& e) { return e.name == name; });
  return it == message.end() ? nullptr : &it->value;
}

ReadResult ReadSpoolDocument(std::string_view bytes, SpoolDocument* document) {
  *document = SpoolDocument();
  const size_t skipped = SkipHeaderLines(bytes);
  // The declared encoding is overridden: the bytes are Windows-1252.
  XML_Parser parser = programs::NewWriterDocumentParser();
  if (parser == nullptr) {
    return {ReadResult::Status::kMalformed, "out of memory"};
  }
  ReadResult result;
  {
    Reader reader(parser, document);
    const XML_Status status = programs::ParseWriterBytes(parser, bytes, true);
    const std::string line =
        " (line " + std::to_string(XML_GetCurrentLineNumber(parser) + skipped) +
        ")";
    if (!reader.error().empty()) {
      result = {ReadResult::Status::kMalformed, reader.error() + line};
    } else if (status != XML_STATUS_OK) {
      const XML_Error code = XML_GetErrorCode(parser);
      result = {EndsEarly(code) ? ReadResult::Status::kIncomplete
                                : ReadResult::Status::kMalformed,
                std::string("not a complete XML document: ") +
                    XML_ErrorString(code) + line};
    } else if (!reader.saw_message()) {
      result = {ReadResult::Status::kMalformed,
                "the document holds no <MailMessage>"};
    }
  }
  XML_ParserFree(parser);
  if (result.status != ReadResult::Status::kRead) *document = SpoolDocument();
  return result;
}

}  // namespace pellar::mail
