// Reading a worksheet control document.
//
// The document is read as the encoding it declares (the library writes
// Windows-1252 in element names although it declares utf-8, and characters
// above 126 in values as references to their Windows-1252 codes, "&#0128;"
// being the euro sign), element names in any case; every text is handed on
// as UTF-8.
#ifndef PELLAR_SHEET_CONTROL_READER_H_
#define PELLAR_SHEET_CONTROL_READER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace pellar::sheet {

struct ControlCell {
  int64_t row = 0;  // work area numbering: rows from 0, columns from 1
  int64_t col = 0;
  std::string value;   // as stored, delimiters included
  std::string format;  // the format text
  int64_t line = 0;    // the line of its <Cell>
};

// Receives the document as it is read. Header() comes once, before the first
// cell; a non-empty answer from either stops the reading with that reason.
class ControlSink {
 public:
  virtual ~ControlSink() = default;
  [[nodiscard]] virtual std::string Header(const std::string& excel_file,
                                           const std::string& worksheet) = 0;
  [[nodiscard]] virtual std::string Cell(const ControlCell& cell) = 0;
};

// Reads a document in pieces, so a large one never sits in memory whole.
class ControlReader {
 public:
  explicit ControlReader(ControlSink* sink);
  ~ControlReader();
  ControlReader(const ControlReader&) = delete;
  ControlReader& operator=(const ControlReader&) = delete;

  // False once the document is refused; error() then says why, with the line.
  [[nodiscard]] bool Feed(std::string_view bytes, bool last);
  const std::string& error() const { return error_; }

 private:
  class Parser;

  std::unique_ptr<Parser> parser_;
  std::string error_;
};

// The whole document `bytes`, or the file `path` read in pieces. Answer the
// reason it was refused, or "".
[[nodiscard]] std::string ReadControl(std::string_view bytes,
                                      ControlSink* sink);
[[nodiscard]] std::string ReadControlFile(const std::string& path,
                                          ControlSink* sink);

}  // namespace pellar::sheet

#endif  // PELLAR_SHEET_CONTROL_READER_H_
