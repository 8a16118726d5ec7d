// Reading the XML documents the library writes for programs outside it
// (mail spool documents, worksheet control documents) through expat.
//
// The library writes them as Windows-1252 although they declare utf-8,
// writes characters above 126 as references to their Windows-1252 codes
// ("&#0128;" is the euro sign), and escapes neither control characters nor
// lone line ends.
#ifndef PELLAR_PROGRAMS_SHARED_WRITER_DOCUMENT_H_
#define PELLAR_PROGRAMS_SHARED_WRITER_DOCUMENT_H_

#include <expat.h>

#include <string>
#include <string_view>

namespace pellar::programs {

// A parser for such a document, whatever it declares; the caller frees it
// with XML_ParserFree. Feed it only through ParseWriterBytes.
XML_Parser NewWriterDocumentParser();

// Hands the next `bytes` of the document (as the writer wrote them, in any
// pieces) to the parser; `last` marks the final piece. Answers what
// XML_Parse answers. Line numbers the parser reports are the document's.
XML_Status ParseWriterBytes(XML_Parser parser, std::string_view bytes,
                            bool last);

// Turns a text the parser handed over (UTF-8) into what the writer meant:
// references to 128..159 become their Windows-1252 characters, and the
// control characters XML forbids come back.
void FromWriterCodes(std::string& value);

}  // namespace pellar::programs

#endif  // PELLAR_PROGRAMS_SHARED_WRITER_DOCUMENT_H_
