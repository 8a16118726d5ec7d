// Lines are composed straight into Windows-1252 bytes, each character
// escaped and converted in one pass, and handed to the platform one line
// per write.
#include "xml/xml_writer.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "frame/failure.h"
#include "frame/identity.h"
#include "frame/textfile.h"
#include "platform/platform.h"

namespace pellar {
namespace {

struct XmlState {
  ~XmlState() { CloseQuietly(); }

  // Drops the file, keeping what was written; used where a failure is
  // already being reported.
  void CloseQuietly() noexcept {
    std::unique_ptr<WritableFile> closing = std::move(file);
    if (!closing) return;
    try {
      closing->Close();
    } catch (...) {
      // The failure that led here is the one reported.
    }
  }

  // Present from a successful XmlOpenFile until XmlCloseFile; a file left
  // open by a failed write stays here until the next open or close.
  std::unique_ptr<WritableFile> file;
  Text root_name;
  // The line being composed, reused for every line.
  std::unique_ptr<char[]> line;
  size_t capacity = 0;

  // Room for a line of up to `bytes` bytes and its CR LF.
  char* LineOfAtMost(size_t bytes) {
    if (bytes + 2 > capacity) {
      capacity = std::max(bytes + 2, capacity * 2);
      line = std::make_unique_for_overwrite<char[]>(capacity);
    }
    return line.get();
  }
};

// Module state exists once per host thread and starts closed.
XmlState& State() {
  thread_local XmlState state;
  return state;
}

// ASCII characters that XmlEscape replaces (CR only as the start of CR LF).
constexpr std::array<bool, 128> kSpecial = [] {
  std::array<bool, 128> special{};
  for (char c : {'&', '\r', '>', '<', '\'', '"'}) {
    special[static_cast<unsigned char>(c)] = true;
  }
  return special;
}();

bool IsPlain(char16_t c) { return c < 0x7F && !kSpecial[c]; }

// The longest replacement per character: "&#0013;&#0010;" for two, or a
// "&#0233;" for one.
constexpr size_t kMaxEscapedPerChar = 7;

// Where escaped text goes: the escaped text itself keeps a character that
// Windows-1252 lacks, a file line gets the code page's "?" for it.
struct TextSink {
  Text& out;
  void Plain(TextView plain) { out += plain; }
  void Ascii(std::string_view ascii) { out.append(ascii.begin(), ascii.end()); }
  void Char(char16_t c) { out.push_back(c); }
  void Unmappable(char16_t c) { out.push_back(c); }
};

// Writes Windows-1252 bytes into room the caller has made.
struct ByteSink {
  char* end;
  void Plain(TextView plain) {
    for (char16_t c : plain) *end++ = static_cast<char>(c);
  }
  void Ascii(std::string_view ascii) {
    std::memcpy(end, ascii.data(), ascii.size());
    end += ascii.size();
  }
  void Char(char16_t c) { *end++ = static_cast<char>(c); }
  void Unmappable(char16_t) { *end++ = '?'; }
  // Any text, converted without escaping.
  void Ansi(TextView text) {
    for (char16_t c : text) {
      const int code = c < 0x80 ? c : AnsiCode(c);
      *end++ = static_cast<char>(code < 0 ? '?' : code);
    }
  }
};

// One pass doing all the replacements of XmlEscape. They cannot interact:
// "&" is the only character whose replacement is itself replaced, and it
// goes first; every inserted text is plain ASCII without a special.
template <typename Sink>
void Escape(Sink& sink, TextView text) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    size_t run = i;
    while (run < n && IsPlain(text[run])) ++run;
    if (run > i) {
      sink.Plain(text.substr(i, run - i));
      i = run;
      if (i == n) break;
    }
    const char16_t c = text[i];
    switch (c) {
      case u'&':
        sink.Ascii("&amp;");
        break;
      case u'>':
        sink.Ascii("&gt;");
        break;
      case u'<':
        sink.Ascii("&lt;");
        break;
      case u'\'':
        sink.Ascii("&apos;");
        break;
      case u'"':
        sink.Ascii("&quot;");
        break;
      case u'\r':
        if (i + 1 < n && text[i + 1] == u'\n') {
          sink.Ascii("&#0013;&#0010;");
          ++i;
        } else {
          sink.Char(c);
        }
        break;
      default: {
        const int code = AnsiCode(c);
        if (code < 0) {
          sink.Unmappable(c);
          break;
        }
        // Codes run from 127 to 255: always four digits, the first a zero.
        const char reference[] = {'&',
                                  '#',
                                  '0',
                                  static_cast<char>('0' + code / 100),
                                  static_cast<char>('0' + code / 10 % 10),
                                  static_cast<char>('0' + code % 10),
                                  ';'};
        sink.Ascii(std::string_view(reference, sizeof(reference)));
      }
    }
    ++i;
  }
}

void AppendEscaped(Text& out, TextView text) {
  TextSink sink{out};
  Escape(sink, text);
}

// Ends the composed line at `end` with CR LF and writes it with one
// platform write.
void WriteLine(XmlState& state, char* end) {
  *end++ = '\r';
  *end++ = '\n';
  state.file->Append(std::string_view(
      state.line.get(), static_cast<size_t>(end - state.line.get())));
}

void WriteTextLine(XmlState& state, TextView text) {
  ByteSink sink{state.LineOfAtMost(text.size())};
  sink.Ansi(text);
  WriteLine(state, sink.end);
}

Text OpenTagText(TextView name, TextView attributes) {
  Text tag = u"<";
  tag += name;
  if (!attributes.empty()) {
    tag += u' ';
    tag += attributes;
  }
  tag += u'>';
  return tag;
}

void WriteHeader(XmlState& state, TextView file_name) {
  const LibraryInfo info = GetLibraryInfo();
  const LocalDateTime now = Platform::Current().LocalTime();
  const Text developer = GetDeveloper();
  WriteTextLine(state, u"<?xml version=\"1.0\" encoding=\"utf-8\"?>");
  WriteTextLine(state, u"<!-- XML File Created by " + info.exe_name + u" -->");
  WriteTextLine(state, u"<!-- Developed by " + developer + u" -->");
  WriteTextLine(state, u"<!-- Copyright (c) " + ZeroPadded(now.year, 4) + u" " +
                           developer + u" -->");
  WriteTextLine(state, u"<!-- " + info.product_name + u" version " +
                           Decimal(info.major) + u"." + Decimal(info.minor) +
                           u" (" + Decimal(info.revision) + u") -->");
  WriteTextLine(
      state, u"<!-- " + GetDeveloperWebAddress() + u" for further details -->");
  Text created = u"<!-- File ";
  created += file_name;
  created += u" Created ";
  created += FormatDate(now);
  created += u"-->";
  WriteTextLine(state, created);
}

}  // namespace

Text XmlOpenFile(TextView file_name, TextView root_name,
                 TextView root_attributes) {
  return XmlOpenFile(file_name, root_name, root_attributes,
                     FileAccess::kNormal);
}

Text XmlOpenFile(TextView file_name, TextView root_name,
                 TextView root_attributes, FileAccess access) {
  XmlState& state = State();
  try {
    // Deleting by a name with wildcards would remove every file it
    // matches; Windows refuses to create such a name anyway.
    if (file_name.find_first_of(u"*?") != TextView::npos) {
      throw Failure(error::kBadFileName);
    }
    // A file written under a fresh name replaces the old one by renaming;
    // deleting first would also remove a symbolic link planted there.
    if (access == FileAccess::kNormal) DeleteIfExists(file_name);
    if (state.file) {
      // The file left open loses its root end tag, as callers expect.
      std::unique_ptr<WritableFile> previous = std::move(state.file);
      previous->Close();
    }
    state.root_name = root_name;
    state.file = Platform::Current().NewWritableFile(file_name, access);
    WriteHeader(state, file_name);
    if (!root_name.empty()) {
      WriteTextLine(state, OpenTagText(root_name, root_attributes));
    }
    return Text();
  } catch (const Failure& failure) {
    state.CloseQuietly();
    return u"Error Creating File: " + failure.description();
  } catch (const std::bad_alloc&) {
    state.CloseQuietly();
    return u"Error Creating File: " + Text(Describe(error::kOutOfMemory));
  }
}

Text XmlCloseFile() {
  XmlState& state = State();
  if (!state.file) return u"XML already closed";
  if (!state.root_name.empty()) XmlPutCloseTag(state.root_name);
  state.file->Close();
  state.file.reset();
  return u"XML File closed";
}

Text XmlWriteElement(TextView name, TextView value) {
  Text element = u"<";
  element += name;
  element += u'>';
  AppendEscaped(element, value);
  element += u"</";
  element += name;
  element += u'>';
  XmlState& state = State();
  if (state.file) WriteTextLine(state, element);
  return element;
}

Text XmlWriteTextElement(TextView name, TextView value) {
  Text element = u"<";
  element += name;
  element += u'>';
  AppendEscaped(element, value);
  element += u"\r\n</";
  element += name;
  element += u'>';
  XmlState& state = State();
  if (state.file) WriteTextLine(state, element);
  return element;
}

void XmlWriteRaw(TextView text) {
  XmlState& state = State();
  if (state.file) WriteTextLine(state, text);
}

Text XmlOpenTag(TextView name, TextView attributes) {
  Text tag = OpenTagText(name, attributes);
  XmlState& state = State();
  if (state.file) WriteTextLine(state, tag);
  return tag;
}

Text XmlCloseTag(TextView name) {
  Text tag = u"</";
  tag += name;
  tag += u'>';
  XmlState& state = State();
  if (state.file) WriteTextLine(state, tag);
  return tag;
}

Text XmlEscape(TextView text) {
  Text escaped;
  escaped.reserve(text.size());
  AppendEscaped(escaped, text);
  return escaped;
}

bool XmlFileIsOpen() { return State().file != nullptr; }

void XmlAbandonFile() noexcept { State().CloseQuietly(); }

void XmlPutElement(TextView name, TextView value) {
  XmlState& state = State();
  if (!state.file) return;
  ByteSink sink{state.LineOfAtMost(2 * name.size() + 5 +
                                   kMaxEscapedPerChar * value.size())};
  sink.Char(u'<');
  sink.Ansi(name);
  sink.Char(u'>');
  Escape(sink, value);
  sink.Ascii("</");
  sink.Ansi(name);
  sink.Char(u'>');
  WriteLine(state, sink.end);
}

void XmlPutOpenTag(TextView name, TextView attributes) {
  XmlState& state = State();
  if (!state.file) return;
  ByteSink sink{state.LineOfAtMost(name.size() + attributes.size() + 3)};
  sink.Char(u'<');
  sink.Ansi(name);
  if (!attributes.empty()) {
    sink.Char(u' ');
    sink.Ansi(attributes);
  }
  sink.Char(u'>');
  WriteLine(state, sink.end);
}

void XmlPutCloseTag(TextView name) {
  XmlState& state = State();
  if (!state.file) return;
  ByteSink sink{state.LineOfAtMost(name.size() + 3)};
  sink.Ascii("</");
  sink.Ansi(name);
  sink.Char(u'>');
  WriteLine(state, sink.end);
}

}  // namespace pellar
