// The thread's line-oriented XML writer (module XMLCode): one output file
// open at a time per thread, a fixed block of header comments, one element
// per line, and the escaping of element content.
//
// State is per thread: two threads write independent files; no locks.
// Element names, attribute texts and raw text are written unescaped.
#ifndef PELLAR_IO_XML_WRITER_H_
#define PELLAR_IO_XML_WRITER_H_

#include <string>
#include <string_view>
#include <vector>

#include "base/grid.h"
#include "base/text.h"
#include "io/textfile.h"
#include "platform/platform.h"

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

  // Creates `file_name` and composes the header lines and the root start
  // tag (none for an empty root name).
  XmlWriter(TextView file_name, TextView root_name, TextView root_attributes,
            FileAccess access);

  // "<name>" & XmlEscape(value) & "</name>".
  void Element(TextView name, TextView value);
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

// The thread's XML file, opened by XmlOpenFile for one save of many lines,
// which go to the file in large blocks. The destructor closes a file still
// open, keeping what was written, as XmlAbandonFile does: no caller needs a
// catch block for it.
class ScopedXmlFile {
 public:
  ScopedXmlFile(TextView file_name, TextView root_name,
                TextView root_attributes,
                FileAccess access = FileAccess::kNormal);
  ~ScopedXmlFile();
  ScopedXmlFile(const ScopedXmlFile&) = delete;
  ScopedXmlFile& operator=(const ScopedXmlFile&) = delete;

  // XmlOpenFile's answer: "" when the file is open.
  const Text& opened() const { return opened_; }
  // The open file's writer; only while opened() is "".
  XmlWriter& writer();
  // XmlCloseFile.
  Text Close();

 private:
  Text opened_;
};

// Deletes an existing file of that name, closes a file still open on this
// thread (without its root end tag), creates the file and writes the header
// lines and the root start tag (none for an empty root name). Answers "" on
// success, else "Error Creating File: " & description with the writer
// closed. Never throws.
Text XmlOpenFile(TextView file_name, TextView root_name,
                 TextView root_attributes);
// As above, creating the file with `access`: kPrivate for documents that
// hold secrets such as a mail login.
Text XmlOpenFile(TextView file_name, TextView root_name,
                 TextView root_attributes, FileAccess access);
// "XML File closed" after writing the root end tag and closing, or "XML
// already closed" when nothing was open. A failing write or close throws
// and leaves the writer open.
Text XmlCloseFile();
// "<name>" & XmlEscape(value) & "</name>", written as one line while a file
// is open; returned either way. A failing write throws.
Text XmlWriteElement(TextView name, TextView value);
// "<name>" & XmlEscape(value) & CR LF & "</name>", written while open.
Text XmlWriteTextElement(TextView name, TextView value);
// Writes `text` unchanged and a line end while a file is open.
void XmlWriteRaw(TextView text);
// "<name>" or "<name attributes>", written while open.
Text XmlOpenTag(TextView name, TextView attributes);
// "</name>", written while open.
Text XmlCloseTag(TextView name);
// "&" "&amp;", CR LF "&#0013;&#0010;", ">" "&gt;", "<" "&lt;", "'" "&apos;",
// '"' "&quot;", then every character with a Windows-1252 code above 126
// "&#" & the code (at least four digits) & ";".
Text XmlEscape(TextView text);
// Whether a file is open on this thread.
bool XmlFileIsOpen();
// Closes the file open on this thread, if any, without its root end tag,
// keeping what was written and ignoring failures. Callers whose write
// failed use it, so that no file stays open (and locked) after their call.
void XmlAbandonFile() noexcept;

// Write-only forms of XmlWriteElement, XmlOpenTag and XmlCloseTag for
// writers of many lines: the same line is written while a file is open, but
// no result is composed. A failing write throws and leaves the writer open.
void XmlPutElement(TextView name, TextView value);
void XmlPutOpenTag(TextView name, TextView attributes);
void XmlPutCloseTag(TextView name);

}  // namespace pellar

#endif  // PELLAR_IO_XML_WRITER_H_
