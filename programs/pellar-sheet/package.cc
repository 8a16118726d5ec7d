// The XML helpers and part names of a workbook package.
#include "package.h"

#include <pellar/io/xml_writer.h>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace pellar::sheet {

std::string_view Local(std::string_view name) {
  const size_t sep = name.find_last_of(" :");
  return sep == std::string_view::npos ? name : name.substr(sep + 1);
}

const char* Attr(const XML_Char** atts, std::string_view name) {
  for (; atts[0] != nullptr; atts += 2) {
    if (name == atts[0]) return atts[1];
  }
  return nullptr;
}

void EscapeTo(std::string& out, std::string_view text) {
  XmlEscapeUtf8(out, text, [](std::string& to, char c) {
    // XML cannot hold it; spreadsheets read _xHHHH_ as the character.
    char code[8];
    std::snprintf(code, sizeof code, "_x%04X_", unsigned(c));
    to += code;
  });
}

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  EscapeTo(out, text);
  return out;
}

bool FindAttr(std::string_view tag, std::string_view name, size_t* from,
              size_t* value, size_t* end) {
  for (size_t i = 0; (i = tag.find(name, i + 1)) != std::string_view::npos;) {
    const char before = tag[i - 1];
    if (before != ' ' && before != '\t' && before != '\n' && before != '\r') {
      continue;
    }
    size_t j = i + name.size();
    while (j < tag.size() && (tag[j] == ' ' || tag[j] == '\t')) ++j;
    if (j >= tag.size() || tag[j] != '=') continue;
    ++j;
    while (j < tag.size() && (tag[j] == ' ' || tag[j] == '\t')) ++j;
    if (j >= tag.size() || (tag[j] != '"' && tag[j] != '\'')) continue;
    const size_t close = tag.find(tag[j], j + 1);
    if (close == std::string_view::npos) return false;
    *from = i - 1;
    *value = j + 1;
    *end = close;
    return true;
  }
  return false;
}

void SetAttr(std::string& tag, std::string_view name, std::string_view value) {
  size_t from, begin, end;
  if (FindAttr(tag, name, &from, &begin, &end)) {
    tag.replace(begin, end - begin, Escape(value));
    return;
  }
  size_t close = tag.size() - 1;
  if (close > 0 && tag[close - 1] == '/') --close;
  tag.insert(close, " " + std::string(name) + "=\"" + Escape(value) + "\"");
}

void RemoveAttr(std::string& tag, std::string_view name) {
  size_t from, begin, end;
  if (FindAttr(tag, name, &from, &begin, &end)) {
    tag.erase(from, end + 1 - from);
  }
}

std::string PrefixOf(std::string_view tag) {
  const size_t colon = tag.find(':');
  const size_t stop = tag.find_first_of(" \t\r\n/>");
  return colon < stop ? std::string(tag.substr(1, colon)) : std::string();
}

std::string Number(double d) {
  char buf[40];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  return ec == std::errc() ? std::string(buf, end) : "0";
}

double StoredWidth(double characters) {
  const double pixels = characters < 1 ? std::floor(characters * 12 + 0.5)
                                       : std::floor(characters * 7 + 0.5) + 5;
  return std::floor(pixels / 7 * 256) / 256;
}

std::string Without(const std::string& bytes, const Relationship& rel) {
  return bytes.substr(0, size_t(rel.from)) + bytes.substr(size_t(rel.to));
}

bool ValidSheetName(std::string_view name) {
  size_t characters = 0;
  for (char c : name) {
    if ((c & 0xC0) != 0x80) ++characters;
    if (std::string_view("[]:*?/\\").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return characters >= 1 && characters <= 31 && name.front() != '\'' &&
         name.back() != '\'';
}

std::string FolderOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  return slash == std::string::npos ? "" : part.substr(0, slash + 1);
}

std::string Resolve(const std::string& folder, const std::string& target) {
  std::string path =
      target.starts_with("/") ? target.substr(1) : folder + target;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    const std::string piece = path.substr(start, slash - start);
    if (piece == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!piece.empty() && piece != ".") {
      parts.push_back(piece);
    }
    start = slash + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

std::string RelsOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  return slash == std::string::npos ? "_rels/" + part + ".rels"
                                    : part.substr(0, slash + 1) + "_rels/" +
                                          part.substr(slash + 1) + ".rels";
}

}  // namespace pellar::sheet
