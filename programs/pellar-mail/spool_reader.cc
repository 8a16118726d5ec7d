// The spool document through the shared reader of the library's documents.
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

// Every element name the library writes, and those the mail program reads
// in the Extras section: matched in any case.
constexpr std::string_view kNames[] = {
    kRoot,       kMessage,       kExtras,   "Server",      "Encryption",
    "SMTPUser",  "SMTPPassword", "From",    "To",          "Cc",
    "Bcc",       "Reply-To",     "Subject", "Body",        "HTMLBody",
    "HTML-File", "Find",         "Replace", "ReplaceFile", "Attach",
};

class Reader : public programs::DocumentReader {
 public:
  explicit Reader(SpoolDocument* document)
      : DocumentReader(kNames, "a spool document"), document_(document) {}

  bool saw_message() const { return saw_message_; }

 private:
  void Start(std::string_view name) override {
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
      Collect(value_);
      value_name_ = name;
      value_depth_ = depth_;
    } else {
      Fail(Unexpected(name) + " inside <" + value_name_ + ">");
    }
  }

  void End(std::string_view name) override {
    if (value_ != nullptr && depth_ == value_depth_) {
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

  SpoolDocument* document_;
  int depth_ = 0;
  bool saw_message_ = false;
  bool in_extras_ = false;
  std::string* value_ = nullptr;  // the value being read, if any
  std::string value_name_;
  int value_depth_ = 0;
};

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
  ReadResult result;
  {
    Reader reader(document);
    const bool read = reader.Feed(bytes, true);
    const std::string line = " (line " + std::to_string(reader.line()) + ")";
    if (!reader.reason().empty()) {
      result = {ReadResult::Status::kMalformed, reader.reason() + line};
    } else if (!read) {
      const XML_Error code = reader.expat_error();
      result = {EndsEarly(code) ? ReadResult::Status::kIncomplete
                                : ReadResult::Status::kMalformed,
                std::string("not a complete XML document: ") +
                    XML_ErrorString(code) + line};
    } else if (!reader.saw_message()) {
      result = {ReadResult::Status::kMalformed,
                "the document holds no <MailMessage>"};
    }
  }
  if (result.status != ReadResult::Status::kRead) *document = SpoolDocument();
  return result;
}

}  // namespace pellar::mail
