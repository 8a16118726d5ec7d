// The control document through the shared reader of the library's
// documents.
#include "control_reader.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "writer_document.h"

namespace pellar::sheet {
namespace {

constexpr std::string_view kRoot = "WorksheetDoc";

[[nodiscard]] bool ParseIndex(const std::string& text, int64_t* n) {
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *n = v;
  return true;
}

}  // namespace

namespace {

// Every element name of the document, matched in any case; those of each
// cell first.
constexpr std::string_view kNames[] = {
    "Row", "Col",         "Value",     "Format",        "Cell",
    kRoot, "Application", "ExcelFile", "OpenWorkSheet",
};

}  // namespace

class ControlReader::Parser : public programs::DocumentReader {
 public:
  explicit Parser(ControlSink* sink)
      : DocumentReader(kNames, "a control document"), sink_(sink) {}

  // Answers the reason, with the line, or "".
  std::string Parse(std::string_view bytes, bool last) {
    if (!Feed(bytes, last)) {
      std::string why = reason();
      if (why.empty()) {
        why = std::string("not an XML document: ") +
              XML_ErrorString(expat_error());
      }
      return why + " (line " + std::to_string(line()) + ")";
    }
    if (last && !saw_header_) {
      return "the document names no <ExcelFile> or <OpenWorkSheet> (line " +
             std::to_string(line()) + ")";
    }
    return "";
  }

 private:
  void Start(std::string_view name) override {
    const int depth = depth_++;
    if (depth == 0) {
      if (name != kRoot) {
        Fail("the root element is <" + std::string(name) + ">, not <" +
             std::string(kRoot) + ">");
      }
    } else if (depth == 1 && name == "Cell") {
      if (!HeaderDone()) return;
      cell_ = ControlCell();
      cell_.line = line();
      seen_ = 0;
    } else if (depth == 1 && (name == "Application" || name == "ExcelFile" ||
                              name == "OpenWorkSheet")) {
      if (saw_header_) {
        return Fail("<" + std::string(name) + "> after the first <Cell>");
      }
      Take(name == "Application" ? &application_
           : name == "ExcelFile" ? &excel_file_
                                 : &worksheet_);
    } else if (depth == 2 && (name == "Row" || name == "Col" ||
                              name == "Value" || name == "Format")) {
      const int bit = name == "Row"     ? 1
                      : name == "Col"   ? 2
                      : name == "Value" ? 4
                                        : 8;
      if (seen_ & bit)
        return Fail("two <" + std::string(name) + "> in a <Cell>");
      seen_ |= bit;
      text_.clear();
      Take(bit <= 2 ? &text_ : bit == 4 ? &cell_.value : &cell_.format);
    } else {
      Fail("unexpected <" + std::string(name) + ">" +
           (depth == 2 ? " in a <Cell>" : ""));
    }
  }

  void End(std::string_view name) override {
    --depth_;
    if (value_ != nullptr) {
      if ((name == "Row" || name == "Col") &&
          !ParseIndex(text_, name == "Row" ? &cell_.row : &cell_.col)) {
        return Fail("<" + std::string(name) + "> holds \"" + text_ +
                    "\", not a number");
      }
      if (name == "ExcelFile") seen_header_ |= 1;
      if (name == "OpenWorkSheet") seen_header_ |= 2;
      value_ = nullptr;
    } else if (depth_ == 1 && name == "Cell") {
      if ((seen_ & 7) != 7) {
        return Fail(std::string("a <Cell> without <") +
                    ((seen_ & 1) == 0   ? "Row"
                     : (seen_ & 2) == 0 ? "Col"
                                        : "Value") +
                    ">");
      }
      if (std::string why = sink_->Cell(cell_); !why.empty()) {
        Fail(std::move(why));
      }
    } else if (depth_ == 0) {
      HeaderDone(true);
    }
  }

  // The header goes to the sink before the first cell, or at the end.
  bool HeaderDone(bool at_end = false) {
    if (saw_header_) return true;
    if (seen_header_ != 3) {
      const char* missing = (seen_header_ & 1) ? "OpenWorkSheet" : "ExcelFile";
      Fail(at_end ? std::string("the document names no <") + missing + ">"
                  : std::string("no <") + missing + "> before the cells");
      return false;
    }
    saw_header_ = true;
    if (std::string why = sink_->Header(excel_file_, worksheet_);
        !why.empty()) {
      Fail(std::move(why));
      return false;
    }
    return true;
  }

  void Take(std::string* value) {
    value_ = value;
    Collect(value);
  }

  ControlSink* sink_;
  int depth_ = 0;
  std::string* value_ = nullptr;
  std::string text_;
  std::string application_, excel_file_, worksheet_;
  int seen_header_ = 0;
  bool saw_header_ = false;
  ControlCell cell_;
  int seen_ = 0;
};

ControlReader::ControlReader(ControlSink* sink)
    : parser_(std::make_unique<Parser>(sink)) {}
ControlReader::~ControlReader() = default;

bool ControlReader::Feed(std::string_view bytes, bool last) {
  if (!error_.empty()) return false;
  error_ = parser_->Parse(bytes, last);
  return error_.empty();
}

std::string ReadControl(std::string_view bytes, ControlSink* sink) {
  ControlReader reader(sink);
  return reader.Feed(bytes, true) ? "" : reader.error();
}

std::string ReadControlFile(const std::string& path, ControlSink* sink) {
  // Not blocking on a FIFO's open; only plain files are read.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return "not a plain file";
  }
  ControlReader reader(sink);
  std::string buffer(size_t{1} << 16, '\0');
  for (;;) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int code = errno;
      close(fd);
      return std::strerror(code);
    }
    if (!reader.Feed(std::string_view(buffer.data(), size_t(n)), n == 0)) {
      break;
    }
    if (n == 0) break;
  }
  close(fd);
  return reader.error();
}

}  // namespace pellar::sheet
