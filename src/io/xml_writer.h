// The line-oriented XML writer: a fixed block of header comments, one
// element per line, and the escaping of element content.
//
// Each save holds its own writer (XmlFile) from opening to closing within
// its one call: no state outlives the call or is shared between threads.
// Element names, attribute texts and raw text are written unescaped.
#ifndef PELLAR_IO_XML_WRITER_H_
#define PELLAR_IO_XML_WRITER_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <pellar/base/grid.h>
#include <pellar/base/text.h>
#include <pellar/io/textfile.h>
#include <pellar/platform/platform.h>

namespace pellar {

// One open XML file: the header lines, then lines composed straight into
// Windows-1252 bytes and collected into large blocks. Destroying it writes
// what was composed and closes the file, ignoring failures, so a failed
// save keeps its lines. Failures of the other operations throw.
class XmlWriter {
 public:
  // An element name converted once, for the many elements of one column.
  class Tag {
   public:
    explicit Tag(TextView name);

   private:
    friend class XmlWriter;
    // Both padded to at least kTagCopy bytes, so that a short tag is copied
    // by one fixed-size copy.
    std::string open_;   // "<name>"
    std::string close_;  // "</name>" CR LF
    size_t open_size_ = 0;
    size_t close_size_ = 0;
  };
  static constexpr size_t kTagCopy = 32;

  // The tags of a record of elements, joined once for the many records of
  // one save: what goes before each element, and after the last.
  class RecordTags {
   public:
    // A record named `record` of `count` elements named by `tags`.
    RecordTags(const Tag& record, const Tag* tags, size_t count);
    size_t count() const { return pieces_.size() - 1; }

   private:
    friend class XmlWriter;
    struct Piece {
      std::string text;  // padded to at least kTagCopy bytes
      size_t size = 0;
    };
    // Piece c goes before element c; the last one ends the record.
    std::vector<Piece> pieces_;
    size_t total_ = 0;  // padded bytes of all pieces
    const Tag* record_;
    const Tag* tags_;
  };

  // Composes the header lines for `file_name`, created as `file`, and the
  // root start tag (none for an empty root name).
  XmlWriter(std::unique_ptr<WritableFile> file, TextView file_name,
            TextView root_name, TextView root_attributes);

  // "<name>" & XmlEscape(value) & "</name>".
  void Element(TextView name, TextView value);
  // "<name>" & XmlEscape(value) & CR LF & "</name>": the end tag on a line
  // of its own.
  void TextElement(TextView name, TextView value);
  void Element(const Tag& tag, TextView value);
  // The element of text `i` of `cells`.
  void Element(const Tag& tag, const TextCells& cells, size_t i);
  // `records` records, each its start tag line, the element of each of the
  // texts of `cells` from `first` under the tags of `tags`, its end tag
  // line; each record's first text `stride` texts after the one before.
  void Records(const RecordTags& tags, const TextCells& cells, size_t first,
               size_t stride, size_t records);
  // `text` converted, and a line end.
  void Line(TextView text);
  void OpenTag(TextView name, TextView attributes);
  void CloseTag(TextView name);
  // The start tag (without attributes) and the end tag of `tag`.
  void OpenTag(const Tag& tag);
  void CloseTag(const Tag& tag);
  // Writes the lines composed so far.
  void Flush() { out_.Flush(); }
  // Writes the root end tag and everything composed, and closes the file.
  void Close();
  // The same without the root end tag.
  void CloseAsIs() { out_.Close(); }

 private:
  void WriteHeader(TextView file_name);

  BlockWriter out_;
  Text root_name_;
};

// The XML file of one save, held by the save: the constructor creates it
// and writes the header lines and the root start tag, writer() writes the
// rest, Close() writes the root end tag and closes it. A save that stops
// half-way leaves the file closed when this goes, with what was written
// and no root end tag: no file stays open (and locked) after the call.
class XmlFile {
 public:
  // Creates `file_name` through OpenForSave. A failure is answered in
  // opened() as "Error Creating File: " & its description, the file closed.
  // `throw_clearing`: a refused name or an older file that cannot be
  // deleted is thrown instead, for the caller to report its own way.
  XmlFile(TextView file_name, TextView root_name, TextView root_attributes,
          FileAccess access = FileAccess::kNormal, bool throw_clearing = false);
  ~XmlFile();
  XmlFile(const XmlFile&) = delete;
  XmlFile& operator=(const XmlFile&) = delete;

  // "" when the file is open.
  const Text& opened() const { return opened_; }
  // The open file's writer; only while opened() is "".
  XmlWriter& writer() { return *writer_; }
  // Writes the root end tag and what is composed, and closes the file. A
  // failing write or close throws.
  void Close();

 private:
  std::unique_ptr<XmlWriter> writer_;
  Text opened_;
};

// "&" "&amp;", CR LF "&#0013;&#0010;", ">" "&gt;", "<" "&lt;", "'" "&apos;",
// '"' "&quot;", then every character with a Windows-1252 code above 126
// "&#" & the code (at least four digits) & ";". A character the code page
// lacks stays as it is (written to a file, it becomes "?").
Text XmlEscape(TextView text);

// XmlEscape for a file in UTF-8, appended to `out`: the same replacements
// of "&", CR LF, ">", "<", "'", '"' and DEL, a lone CR as "&#0013;" (a UTF-8
// file holds it no other way), characters above 127 kept as they are. The
// control characters XML cannot hold (below 32 but tab, LF and CR) go to
// `control`, which appends their form; without one they stay.
void XmlEscapeUtf8(std::string& out, std::string_view text,
                   void (*control)(std::string& out, char c) = nullptr);

}  // namespace pellar

#endif  // PELLAR_IO_XML_WRITER_H_
