// Reading the XML documents the library writes for programs outside it
// (mail spool documents, worksheet control documents) through expat.
//
// The library declares utf-8 but writes Windows-1252 bytes (only in element
// names and its header comments: it writes characters above 126 in values
// as references to their Windows-1252 codes, "&#0128;" being the euro
// sign), and escapes neither control characters nor lone line ends. A
// document edited by hand may hold what its declaration says. So a document
// is read as the encoding it declares, UTF-8 when it declares none, and in
// UTF-8 a byte that begins no valid sequence is the library's Windows-1252.
#ifndef PELLAR_PROGRAMS_SHARED_WRITER_DOCUMENT_H_
#define PELLAR_PROGRAMS_SHARED_WRITER_DOCUMENT_H_

#include <expat.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pellar::programs {

// What a document's bytes are read as.
enum class DocumentEncoding : uint8_t {
  kUtf8,  // with the library's Windows-1252 where a byte is no UTF-8
  kWindows1252,
  kLatin1,
  kAscii,
};

// The encoding a declared name means (any case); false for a name not read.
bool EncodingOfName(std::string_view name, DocumentEncoding* encoding);

// The expat front end for one of the library's document types. A subclass
// gets the elements in document order; an element name the type knows
// comes in the spelling the library writes, whatever its case in the
// document (a script's AddTag may spell it in any case).
class DocumentReader {
 public:
  // `names`: the element names of the type, as the library writes them,
  // the most frequent first; they must outlive the reader. `kind` names the
  // type in reasons ("a spool document").
  DocumentReader(std::span<const std::string_view> names,
                 std::string_view kind);
  virtual ~DocumentReader();
  DocumentReader(const DocumentReader&) = delete;
  DocumentReader& operator=(const DocumentReader&) = delete;

  // Hands on the next bytes of the document, in any pieces; `last` marks
  // the end. False once the document is refused, then for every call.
  bool Feed(std::string_view bytes, bool last);

  // Why the document was refused, without the line: the reason of a Fail,
  // or "" when the parser refused it (expat_error() then says why).
  const std::string& reason() const { return reason_; }
  XML_Error expat_error() const;
  // The document's line where reading stands, or where it was refused.
  int64_t line() const;

 protected:
  virtual void Start(std::string_view name) = 0;
  virtual void End(std::string_view name) = 0;

  // Collects the text of the element just started into `*value` until the
  // next end tag, which first turns the writer's codes back
  // (FromWriterCodes). Text is taken only then: the line ends between
  // elements cost no calls.
  void Collect(std::string* value);
  // Stops the reading with `why`, unless it was already stopped.
  void Fail(std::string why);

 private:
  static void XMLCALL OnStart(void* self, const XML_Char* name,
                              const XML_Char** attributes);
  static void XMLCALL OnEnd(void* self, const XML_Char* name);
  static void XMLCALL OnText(void* self, const XML_Char* text, int length);
  static void XMLCALL OnDoctype(void* self, const XML_Char* name,
                                const XML_Char* system_id,
                                const XML_Char* public_id,
                                int has_internal_subset);

  std::string_view Known(std::string_view name) const;
  bool ReadHeader(std::string_view bytes, bool last);
  bool Parse(std::string_view bytes, bool last);
  size_t Recode(std::string_view bytes, bool last);
  bool ParsePiece(const char* bytes, size_t size, bool last);

  std::span<const std::string_view> names_;
  std::string_view kind_;
  XML_Parser parser_ = nullptr;
  DocumentEncoding encoding_ = DocumentEncoding::kUtf8;
  bool in_header_ = true;
  bool saw_mark_ = false;  // a UTF-8 byte order mark
  std::string header_;     // the leading lines, until they are all seen
  std::string pending_;    // the start of a UTF-8 sequence cut by a piece
  std::string recoded_;
  int64_t skipped_lines_ = 0;
  int64_t reason_line_ = 0;   // the line of a reason found outside the parser
  bool above_ascii_ = false;  // a byte above 127 in a US-ASCII document
  std::string* value_ = nullptr;
  bool refused_ = false;
  std::string reason_;
};

// Turns a text the parser handed over (UTF-8) into what the writer meant:
// references to 128..159 become their Windows-1252 characters, and the
// control characters XML forbids come back.
void FromWriterCodes(std::string& value);

}  // namespace pellar::programs

#endif  // PELLAR_PROGRAMS_SHARED_WRITER_DOCUMENT_H_
