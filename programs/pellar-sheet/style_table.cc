// The style table of an existing workbook: a format goes over a cell's
// current style, each property setting its own attribute, and equal entries
// are found rather than repeated.
#include "style_table.h"

#include <pellar/base/chars.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "package.h"

namespace pellar::sheet {
namespace {

struct StylesHandler {
  XML_Parser parser = nullptr;
  struct List {
    bool seen = false;
    int64_t start = 0, start_length = 0, end = 0, end_length = 0;
    std::vector<std::string> items;  // the children, raw
    int64_t item_start = 0, item_length = 0;
  };
  std::map<std::string, List, std::less<>> lists;
  std::map<std::string, int> num_fmts;  // formatCode -> id
  int max_num_fmt = 163;
  std::string default_font = "Calibri";
  std::string default_size = "11";
  int64_t root_start_end = 0;  // just after <styleSheet ...>
  int depth = 0;
  int fonts_seen = 0;
  const std::string* bytes = nullptr;
  List* current = nullptr;

  static bool Tracked(std::string_view name) {
    return name == "numFmts" || name == "fonts" || name == "fills" ||
           name == "borders" || name == "cellXfs";
  }

  void Start(std::string_view name, const XML_Char** atts) {
    const int64_t at = XML_GetCurrentByteIndex(parser);
    const int64_t length = XML_GetCurrentByteCount(parser);
    ++depth;
    if (depth == 1) root_start_end = at + length;
    if (depth == 2 && Tracked(name)) {
      current = &lists[std::string(name)];
      *current = List();
      current->seen = true;
      current->start = at;
      current->start_length = length;
    } else if (depth == 3 && current != nullptr) {
      current->item_start = at;
      current->item_length = length;
      if (name == "numFmt") {
        const char* id = Attr(atts, "numFmtId");
        const char* code = Attr(atts, "formatCode");
        if (id != nullptr && code != nullptr) {
          num_fmts.emplace(code, std::atoi(id));
          max_num_fmt = std::max(max_num_fmt, std::atoi(id));
        }
      }
      if (name == "font") ++fonts_seen;
    } else if (depth == 4 && fonts_seen == 1 && current != nullptr &&
               name != "numFmt") {
      const char* val = Attr(atts, "val");
      if (val != nullptr && name == "name") default_font = val;
      if (val != nullptr && name == "sz") default_size = val;
    }
  }

  void End(std::string_view name) {
    const int64_t at = XML_GetCurrentByteIndex(parser);
    const int64_t length = XML_GetCurrentByteCount(parser);
    if (depth == 3 && current != nullptr) {
      // An empty element ends where its start tag did.
      const int64_t stop = length == 0
                               ? current->item_start + current->item_length
                               : at + length;
      current->items.push_back(bytes->substr(
          size_t(current->item_start), size_t(stop - current->item_start)));
    } else if (depth == 2 && current != nullptr && Tracked(name)) {
      current->end = length == 0 ? current->start : at;
      current->end_length = length;
      current = nullptr;
    }
    --depth;
  }
};

std::string Hex(uint32_t rgb) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "FF%06X", unsigned(rgb & 0xFFFFFF));
  return buf;
}

int BuiltInNumberFormat(std::string_view code) {
  static const std::pair<std::string_view, int> kBuiltIn[] = {
      {"General", 0},        {"0", 1},         {"0.00", 2},
      {"#,##0", 3},          {"#,##0.00", 4},  {"0%", 9},
      {"0.00%", 10},         {"0.00E+00", 11}, {"# ?/?", 12},
      {"# ?\?/?\?", 13},     {"mm-dd-yy", 14}, {"d-mmm-yy", 15},
      {"d-mmm", 16},         {"mmm-yy", 17},   {"h:mm AM/PM", 18},
      {"h:mm:ss AM/PM", 19}, {"h:mm", 20},     {"h:mm:ss", 21},
      {"m/d/yy h:mm", 22},   {"@", 49}};
  for (const auto& [text, id] : kBuiltIn) {
    if (text == code) return id;
  }
  return -1;
}

// What a <font> item shows, for telling equal fonts apart from how they
// are written: its properties in order, without the font family and
// scheme (which only help find a font) and without the theme's text colour
// (which is what no colour gives). A font a new workbook's writer made
// then equals the one an update makes for the same format.
std::string FontKey(std::string_view item) {
  std::string key;
  for (size_t at = item.find('<'); at != std::string_view::npos;
       at = item.find('<', at + 1)) {
    const size_t end = item.find('>', at);
    if (end == std::string_view::npos) break;
    const std::string_view tag = item.substr(at, end + 1 - at);
    const std::string_view name =
        Local(tag.substr(1, tag.find_first_of(" \t\r\n/>") - 1));
    if (tag[1] == '/' || name == "font" || name == "family" ||
        name == "scheme" || name == "charset") {
      continue;
    }
    std::string values;
    for (std::string_view attr : {"val", "rgb", "theme", "indexed", "tint"}) {
      size_t from, begin, stop;
      if (FindAttr(tag, attr, &from, &begin, &stop)) {
        values += std::string(attr) + "=" +
                  std::string(tag.substr(begin, stop - begin)) + ",";
      }
    }
    if (name == "color" && values == "theme=1,") continue;
    key += std::string(name) + "(" + values + ")";
  }
  return key;
}

// The raw child elements of a style item ("<font><b/><sz val="11"/>...")
// with their local names, and the item's own start and end tags.
struct Children {
  std::string start, end;  // end is "" for an empty item
  std::vector<std::pair<std::string, std::string>> items;
};

Children SplitItem(std::string_view item) {
  Children out;
  const size_t open_end = item.find('>');
  if (open_end == std::string_view::npos) return out;
  out.start = item.substr(0, open_end + 1);
  if (out.start.ends_with("/>")) {
    out.start.erase(out.start.size() - 2, 1);
    return out;
  }
  const size_t close = item.rfind("</");
  out.end = item.substr(close);
  for (size_t at = item.find('<', open_end); at < close;) {
    const size_t tag_end = item.find('>', at);
    if (tag_end == std::string_view::npos || tag_end > close) break;
    const std::string_view tag = item.substr(at, tag_end + 1 - at);
    const std::string_view qname =
        tag.substr(1, tag.find_first_of(" \t\r\n/>") - 1);
    size_t stop = tag_end + 1;
    if (!tag.ends_with("/>")) {
      const size_t end_tag = item.find("</" + std::string(qname), stop);
      const size_t after = end_tag == std::string_view::npos
                               ? std::string_view::npos
                               : item.find('>', end_tag);
      stop = after == std::string_view::npos ? close : after + 1;
    }
    out.items.emplace_back(std::string(Local(qname)),
                           std::string(item.substr(at, stop - at)));
    at = item.find('<', stop);
  }
  return out;
}

std::string AttrOf(std::string_view tag, std::string_view name) {
  size_t from, begin, end;
  return FindAttr(tag, name, &from, &begin, &end)
             ? std::string(tag.substr(begin, end - begin))
             : std::string();
}

int IndexAttr(std::string_view tag, std::string_view name) {
  return std::atoi(AttrOf(tag, name).c_str());
}

// The style table of an existing workbook. A format goes over the style a
// cell has, property by property, so the cell styles it makes are known
// only as the worksheet's cells are read: they are made then, and the
// table is written after the worksheet.

}  // namespace

class StyleTable::Impl {
 public:
  [[nodiscard]] std::string Load(std::string* bytes, const Plan& plan) {
    bytes_ = bytes;
    plan_ = &plan;
    h_.bytes = bytes;
    if (std::string why = ParseSmall(*bytes, &h_, "the style table");
        !why.empty()) {
      return why;
    }
    for (const char* need : {"fonts", "fills", "borders", "cellXfs"}) {
      if (!h_.lists[need].seen) {
        return std::string("the style table has no <") + need + ">";
      }
    }
    fonts_ = &h_.lists["fonts"];
    fills_ = &h_.lists["fills"];
    borders_ = &h_.lists["borders"];
    xfs_ = &h_.lists["cellXfs"];
    if (fonts_->items.empty() || xfs_->items.empty()) {
      return "the style table has no fonts or no cell styles";
    }
    counts_ = {fonts_->items.size(), fills_->items.size(),
               borders_->items.size(), xfs_->items.size()};
    for (const std::string& item : fonts_->items)
      font_keys_.push_back(FontKey(item));
    for (const auto& [code, id] : h_.num_fmts) codes_.emplace(id, code);
    return "";
  }

  // The cell style of a cell that had `base` once the plan's style `style`
  // and, for a date whose format gives none, `date_format` go over it.
  int Merged(int base, int style, std::string_view date_format) {
    if (base < 0 || size_t(base) >= xfs_->items.size()) base = 0;
    const auto key = std::tuple(base, style, date_format);
    if (key == last_key_) return last_xf_;
    auto [slot, added] = merged_.emplace(key, 0);
    if (added)
      slot->second = Merge(base, plan_->styles[size_t(style)], date_format);
    last_key_ = key;
    return last_xf_ = slot->second;
  }

  // Writes the added entries into the table; false when none were.
  bool Finish();

 private:
  int FindOrAdd(StylesHandler::List& list, const std::string& item) {
    auto it = std::find(list.items.begin(), list.items.end(), item);
    if (it != list.items.end()) return int(it - list.items.begin());
    list.items.push_back(item);
    return int(list.items.size() - 1);
  }

  int FindOrAddFont(const std::string& item) {
    const std::string key = FontKey(item);
    auto it = std::find(font_keys_.begin(), font_keys_.end(), key);
    if (it != font_keys_.end()) return int(it - font_keys_.begin());
    font_keys_.push_back(key);
    fonts_->items.push_back(item);
    return int(fonts_->items.size() - 1);
  }

  int NumberFormatId(const std::string& text) {
    // The workbook's own entry for the code first: a writer may list
    // built-in codes too, and its cells use that entry. The table holds
    // control characters as codes: so is the code looked up.
    std::string scratch;
    const std::string& code = EscapeControlCodes(text, &scratch);
    auto it = h_.num_fmts.find(code);
    int id = it != h_.num_fmts.end() ? it->second : BuiltInNumberFormat(code);
    if (id < 0) {
      id = ++h_.max_num_fmt;
      h_.num_fmts.emplace(code, id);
      codes_.emplace(id, code);
      new_num_fmts_.push_back("<numFmt numFmtId=\"" + std::to_string(id) +
                              "\" formatCode=\"" + Escape(code) + "\"/>");
    }
    return id;
  }

  // The font `item` with what `s` sets, its properties in the order
  // spreadsheet programs write them.
  static std::string EditFont(const std::string& item, const Style& s) {
    Children font = SplitItem(item);
    const std::string prefix = PrefixOf(font.start);
    if (font.end.empty()) font.end = "</" + prefix + "font>";
    const auto set = [&](std::string_view name, bool on, std::string raw) {
      std::erase_if(font.items, [&](const auto& c) { return c.first == name; });
      if (on) font.items.emplace_back(name, std::move(raw));
    };
    const auto flag = [&](std::string_view name, const std::optional<bool>& b) {
      if (b) set(name, *b, "<" + prefix + std::string(name) + "/>");
    };
    flag("b", s.bold);
    flag("i", s.italic);
    flag("strike", s.strike);
    flag("u", s.underline);
    if (s.size) {
      set("sz", true, "<" + prefix + "sz val=\"" + Number(*s.size) + "\"/>");
    }
    if (s.color) {
      set("color", true,
          "<" + prefix + "color rgb=\"" + Hex(*s.color) + "\"/>");
    }
    if (s.font) {
      set("name", true,
          "<" + prefix + "name val=\"" + Escape(*s.font) + "\"/>");
      // A theme's scheme font would be shown instead of the name.
      set("scheme", false, "");
    }
    static constexpr std::string_view kOrder[] = {
        "b",       "i",      "strike", "condense",  "extend",
        "outline", "shadow", "u",      "vertAlign", "sz",
        "color",   "name",   "family", "charset",   "scheme"};
    const auto rank = [](const std::string& name) {
      return std::find(std::begin(kOrder), std::end(kOrder), name) -
             std::begin(kOrder);
    };
    std::stable_sort(font.items.begin(), font.items.end(),
                     [&](const auto& a, const auto& b) {
                       return rank(a.first) < rank(b.first);
                     });
    std::string out = font.start;
    for (const auto& child : font.items) out += child.second;
    return out + font.end;
  }

  int Merge(int base, const Style& s, std::string_view date_format) {
    Children xf = SplitItem(xfs_->items[size_t(base)]);
    std::string& tag = xf.start;
    const bool font = s.bold || s.italic || s.strike || s.underline || s.size ||
                      s.color || s.font;
    if (font) {
      size_t font = size_t(IndexAttr(tag, "fontId"));
      if (font >= fonts_->items.size()) font = 0;
      SetAttr(tag, "fontId",
              std::to_string(FindOrAddFont(EditFont(fonts_->items[font], s))));
    }
    int num_fmt = -1;
    if (s.number_format) {
      num_fmt = NumberFormatId(*s.number_format);
    } else if (!date_format.empty()) {
      // A template's own date format stays.
      const int id = IndexAttr(tag, "numFmtId");
      const auto code = codes_.find(id);
      if (!IsDateFormat(id, code == codes_.end() ? "" : code->second)) {
        num_fmt = NumberFormatId(std::string(date_format));
      }
    }
    if (num_fmt >= 0) SetAttr(tag, "numFmtId", std::to_string(num_fmt));
    if (s.fill) {
      SetAttr(tag, "fillId",
              std::to_string(FindOrAdd(
                  *fills_,
                  "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"" +
                      Hex(*s.fill) +
                      "\"/><bgColor indexed=\"64\"/></patternFill></fill>")));
    }
    if (s.border) {
      const char* style = *s.border == Border::kThin     ? "thin"
                          : *s.border == Border::kMedium ? "medium"
                                                         : "thick";
      std::string border = "<border>";
      for (const char* side : {"left", "right", "top", "bottom"}) {
        border += *s.border == Border::kNone
                      ? std::string("<") + side + "/>"
                      : std::string("<") + side + " style=\"" + style +
                            "\"><color auto=\"1\"/></" + side + ">";
      }
      SetAttr(tag, "borderId",
              std::to_string(
                  FindOrAdd(*borders_, border + "<diagonal/></border>")));
    }
    // What was set is flagged as a new workbook's writer flags it, so that
    // its styles are found again rather than repeated.
    for (const auto& [set, id, flag] :
         {std::tuple{num_fmt >= 0, "numFmtId", "applyNumberFormat"},
          {font, "fontId", "applyFont"},
          {s.fill.has_value(), "fillId", "applyFill"},
          {s.border.has_value(), "borderId", "applyBorder"}}) {
      if (set && IndexAttr(tag, id) != 0) SetAttr(tag, flag, "1");
    }
    if (s.align || s.valign || s.wrap) {
      auto it = std::find_if(xf.items.begin(), xf.items.end(),
                             [](auto& c) { return c.first == "alignment"; });
      if (it == xf.items.end()) {
        it =
            xf.items.insert(xf.items.begin(),
                            {"alignment", "<" + PrefixOf(tag) + "alignment/>"});
      }
      std::string& align = it->second;
      if (s.align) {
        SetAttr(align, "horizontal",
                *s.align == Align::kLeft     ? "left"
                : *s.align == Align::kCenter ? "center"
                                             : "right");
      }
      if (s.valign) {
        SetAttr(align, "vertical",
                *s.valign == VAlign::kTop      ? "top"
                : *s.valign == VAlign::kCenter ? "center"
                                               : "bottom");
      }
      if (s.wrap && *s.wrap) SetAttr(align, "wrapText", "1");
      if (s.wrap && !*s.wrap) RemoveAttr(align, "wrapText");
      if (align.find('=') == std::string::npos) {
        xf.items.erase(it);
      } else {
        SetAttr(tag, "applyAlignment", "1");
      }
    }
    std::string item = tag;
    if (xf.items.empty()) {
      item.insert(item.size() - 1, "/");
    } else {
      for (const auto& child : xf.items) item += child.second;
      item += xf.end.empty() ? "</" + PrefixOf(tag) + "xf>" : xf.end;
    }
    return FindOrAdd(*xfs_, item);
  }

  std::string* bytes_ = nullptr;
  const Plan* plan_ = nullptr;
  StylesHandler h_;
  StylesHandler::List *fonts_ = nullptr, *fills_ = nullptr, *borders_ = nullptr,
                      *xfs_ = nullptr;
  std::array<size_t, 4> counts_{};
  std::vector<std::string> font_keys_;
  std::map<int, std::string> codes_;  // numFmtId -> formatCode
  std::vector<std::string> new_num_fmts_;
  std::map<std::tuple<int, int, std::string_view>, int> merged_;
  std::tuple<int, int, std::string_view> last_key_{-1, -1, ""};
  int last_xf_ = 0;
};

bool StyleTable::Impl::Finish() {
  std::string* bytes = bytes_;
  // The edits, at their offsets in the table.
  struct Edit {
    int64_t at, length;
    std::string text;
  };
  std::vector<Edit> edits;
  auto grow = [&](const StylesHandler::List& list, size_t old_count,
                  const std::string& name) {
    if (list.items.size() == old_count) return;
    std::string added;
    for (size_t i = old_count; i < list.items.size(); ++i)
      added += list.items[i];
    std::string tag =
        bytes->substr(size_t(list.start), size_t(list.start_length));
    SetAttr(tag, "count", std::to_string(list.items.size()));
    if (list.end_length == 0) {  // <name/>
      const std::string prefix = PrefixOf(tag);
      tag.erase(tag.size() - 2, 1);
      edits.push_back({list.start, list.start_length,
                       tag + added + "</" + prefix + name + ">"});
    } else {
      edits.push_back({list.start, list.start_length, tag});
      edits.push_back({list.end, 0, added});
    }
  };
  grow(*fonts_, counts_[0], "fonts");
  grow(*fills_, counts_[1], "fills");
  grow(*borders_, counts_[2], "borders");
  grow(*xfs_, counts_[3], "cellXfs");
  if (!new_num_fmts_.empty()) {
    StylesHandler::List& list = h_.lists["numFmts"];
    const size_t old_count = list.items.size();
    list.items.insert(list.items.end(), new_num_fmts_.begin(),
                      new_num_fmts_.end());
    if (list.seen) {
      grow(list, old_count, "numFmts");
    } else {
      const std::string root = bytes->substr(0, size_t(h_.root_start_end));
      const size_t lt = root.rfind('<');
      const std::string prefix = PrefixOf(root.substr(lt));
      std::string text = "<" + prefix + "numFmts count=\"" +
                         std::to_string(list.items.size()) + "\">";
      for (const std::string& item : list.items) text += item;
      edits.push_back(
          {h_.root_start_end, 0, text + "</" + prefix + "numFmts>"});
    }
  }
  if (edits.empty()) return false;
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.at < b.at; });
  // In place, from the last: a large table is not held twice (it was read
  // with room for what is added).
  for (auto e = edits.rbegin(); e != edits.rend(); ++e) {
    bytes->replace(size_t(e->at), size_t(e->length), e->text);
  }
  return true;
}

StyleTable::StyleTable() : impl_(std::make_unique<Impl>()) {}
StyleTable::~StyleTable() = default;

std::string StyleTable::Load(std::string* bytes, const Plan& plan) {
  return impl_->Load(bytes, plan);
}

int StyleTable::Merged(int base, int style, std::string_view date_format) {
  return impl_->Merged(base, style, date_format);
}

bool StyleTable::Finish() { return impl_->Finish(); }

}  // namespace pellar::sheet
