// Text functions: lengths, pieces, searching, case, characters.
#include <pellar/base/text_internal.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "builtins_internal.h"

namespace pellar::script {

int32_t FindText(TextView hay, TextView needle, size_t start, bool text_mode) {
  if (start > hay.size() + 1) return 0;
  if (needle.empty()) return static_cast<int32_t>(start);
  if (!text_mode) {
    size_t at = hay.find(needle, start - 1);
    return at == TextView::npos ? 0 : static_cast<int32_t>(at + 1);
  }
  Text h = Lower(hay), n = Lower(needle);
  size_t at = h.find(n, start - 1);
  return at == Text::npos ? 0 : static_cast<int32_t>(at + 1);
}

Text Upper(TextView text) {
  Text out(text);
  for (char16_t& c : out) {
    if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c - 32);
    } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
      c = static_cast<char16_t>(c - 32);
    } else if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) {
      c = static_cast<char16_t>(c - 32);
    } else if (c >= 0x430 && c <= 0x44F) {
      c = static_cast<char16_t>(c - 32);
    } else if (c >= 0x450 && c <= 0x45F) {
      c = static_cast<char16_t>(c - 80);
    } else if (c >= 0x100 && c <= 0x17F &&
               LowerChar(static_cast<char16_t>(c - 1)) == c) {
      c = static_cast<char16_t>(c - 1);
    } else if (c == 0xFF) {
      c = 0x178;
    }
  }
  return out;
}

namespace {

Var Len(Host&, Args args) {
  const Var& v = Arg(args, 0);
  if (v.is_null()) return Var::Null();
  if (v.is_string()) return Var::Long(static_cast<int32_t>(v.str().size()));
  return Var::Long(static_cast<int32_t>(ToStr(v).size()));
}

Var LeftOrRight(Args args, bool left) {
  if (Arg(args, 0).is_null()) return Var::Null();
  Text t = ToStr(Arg(args, 0));
  size_t k = std::min(static_cast<size_t>(NonNegative(Arg(args, 1))), t.size());
  return Var::String(left ? t.substr(0, k) : t.substr(t.size() - k));
}
Var Left(Host&, Args args) { return LeftOrRight(args, true); }
Var Right(Host&, Args args) { return LeftOrRight(args, false); }

Var Mid(Host&, Args args) {
  if (Arg(args, 0).is_null()) return Var::Null();
  Text t = ToStr(Arg(args, 0));
  int32_t start = ToLong(Arg(args, 1));
  if (start < 1) Raise(error::kInvalidCall);
  size_t from = static_cast<size_t>(start - 1);
  if (from >= t.size()) return Var::String(Text());
  size_t len = Given(args, 2) ? static_cast<size_t>(NonNegative(Arg(args, 2)))
                              : t.size();
  return Var::String(t.substr(from, len));
}

Var InStr(Host&, Args args) {
  size_t start = 1, at = 0;
  if (args.size() >= 3) {
    if (Arg(args, 0).is_null()) Raise(error::kInvalidNull);
    int32_t s = ToLong(Arg(args, 0));
    if (s < 1) Raise(error::kInvalidCall);
    start = static_cast<size_t>(s);
    at = 1;
  }
  if (Arg(args, at).is_null() || Arg(args, at + 1).is_null())
    return Var::Null();
  if (ToStr(Arg(args, at)).empty()) return Var::Long(0);
  return Var::Long(FindText(ToStr(Arg(args, at)), ToStr(Arg(args, at + 1)),
                            start, TextMode(args, at + 2)));
}

Var InStrRev(Host&, Args args) {
  if (Arg(args, 0).is_null() || Arg(args, 1).is_null()) return Var::Null();
  Text hay = ToStr(Arg(args, 0)), needle = ToStr(Arg(args, 1));
  int32_t start = Given(args, 2) ? ToLong(Arg(args, 2)) : -1;
  if (start == 0 || start < -1) Raise(error::kInvalidCall);
  size_t end = start == -1 ? hay.size()
                           : std::min(hay.size(), static_cast<size_t>(start));
  if (TextMode(args, 3)) {
    hay = Lower(hay);
    needle = Lower(needle);
  }
  if (needle.empty())
    return Var::Long(static_cast<int32_t>(start == -1 ? hay.size() : start));
  if (start > static_cast<int32_t>(hay.size()) || needle.size() > end)
    return Var::Long(0);
  size_t found = TextView(hay).substr(0, end).rfind(needle);
  return Var::Long(found == TextView::npos ? 0
                                           : static_cast<int32_t>(found + 1));
}

Var Replace(Host&, Args args) {
  if (AnyNull(args, 3)) Raise(error::kInvalidNull);
  Text t = ToStr(Arg(args, 0)), find = ToStr(Arg(args, 1)),
       with = ToStr(Arg(args, 2));
  int32_t start = Given(args, 3) ? ToLong(Arg(args, 3)) : 1;
  int32_t count = Given(args, 4) ? ToLong(Arg(args, 4)) : -1;
  if (start < 1 || count < -1) Raise(error::kInvalidCall);
  bool text_mode = TextMode(args, 5);
  if (static_cast<size_t>(start) > t.size()) return Var::String(Text());
  t = t.substr(static_cast<size_t>(start - 1));
  if (find.empty() || count == 0) return Var::String(t);
  Text hay = text_mode ? Lower(t) : t, needle = text_mode ? Lower(find) : find;
  Text out;
  size_t pos = 0;
  int32_t done = 0;
  while (count < 0 || done < count) {
    size_t at = hay.find(needle, pos);
    if (at == Text::npos) break;
    out.append(t, pos, at - pos);
    out += with;
    CheckTextLength(out.size());
    pos = at + find.size();
    ++done;
  }
  out.append(t, pos, Text::npos);
  return Var::String(std::move(out));
}

Var Split(Host&, Args args) {
  if (Arg(args, 0).is_null()) return Var::Null();
  Text t = ToStr(Arg(args, 0));
  Text delim = Given(args, 1) ? ToStr(Arg(args, 1)) : Text(u" ");
  int32_t limit = Given(args, 2) ? ToLong(Arg(args, 2)) : -1;
  if (limit < -1) Raise(error::kInvalidCall);
  std::vector<Var> parts;
  if (t.empty() || limit == 0) return NewArray(std::move(parts));
  if (delim.empty()) {
    parts.push_back(Var::String(t));
    return NewArray(std::move(parts));
  }
  bool text_mode = TextMode(args, 3);
  Text hay = text_mode ? Lower(t) : t,
       needle = text_mode ? Lower(delim) : delim;
  // The pieces are counted before any is made: a text of commas must
  // not become millions of elements before the budget says no.
  size_t pieces = 1;
  if (needle.size() == 1) {
    pieces +=
        static_cast<size_t>(std::count(hay.begin(), hay.end(), needle[0]));
  } else {
    for (size_t at = hay.find(needle); at != Text::npos;
         at = hay.find(needle, at + needle.size())) {
      ++pieces;
    }
  }
  if (limit > 0) pieces = std::min(pieces, static_cast<size_t>(limit));
  CheckMemory(pieces * (sizeof(Var) + sizeof(StrBox)) +
              t.size() * sizeof(char16_t));
  parts.reserve(pieces);
  size_t pos = 0;
  while (limit < 0 || static_cast<int32_t>(parts.size()) < limit - 1) {
    size_t at = hay.find(needle, pos);
    if (at == Text::npos) break;
    parts.push_back(Var::String(t.substr(pos, at - pos)));
    pos = at + delim.size();
  }
  parts.push_back(Var::String(t.substr(pos)));
  return NewArray(std::move(parts));
}

Var Join(Host&, Args args) {
  const ArrBox& a = ArrayArg(Arg(args, 0));
  if (a.upper.size() != 1) Raise(error::kSubscriptOutOfRange);
  Text delim = Given(args, 1) ? ToStr(Arg(args, 1)) : Text(u" ");
  Text out;
  for (size_t i = 0; i < a.items.size(); ++i) {
    if (i) out += delim;
    if (!a.items[i].is_null()) out += ToStr(a.items[i]);
    CheckTextLength(out.size());
  }
  return Var::String(std::move(out));
}

Var Filter(Host&, Args args) {
  const ArrBox& a = ArrayArg(Arg(args, 0));
  Text match = ToStr(Arg(args, 1));
  bool include = Given(args, 2) ? ToBool(Arg(args, 2)) : true;
  bool text_mode = TextMode(args, 3);
  std::vector<Var> out;
  for (const Var& item : a.items) {
    bool found = FindText(ToStr(item), match, 1, text_mode) != 0;
    if (found == include) out.push_back(Var::String(ToStr(item)));
  }
  return NewArray(std::move(out));
}

Var Trimmed(Args args, bool front, bool back) {
  if (Arg(args, 0).is_null()) return Var::Null();
  Text t = ToStr(Arg(args, 0));
  size_t b = 0, e = t.size();
  if (front)
    while (b < e && t[b] == u' ') ++b;
  if (back)
    while (e > b && t[e - 1] == u' ') --e;
  return Var::String(t.substr(b, e - b));
}
Var Trim(Host&, Args args) { return Trimmed(args, true, true); }
Var LTrim(Host&, Args args) { return Trimmed(args, true, false); }
Var RTrim(Host&, Args args) { return Trimmed(args, false, true); }

Var UCase(Host&, Args args) {
  if (Arg(args, 0).is_null()) return Var::Null();
  return Var::String(Upper(ToStr(Arg(args, 0))));
}
Var LCase(Host&, Args args) {
  if (Arg(args, 0).is_null()) return Var::Null();
  return Var::String(Lower(ToStr(Arg(args, 0))));
}

Var Space(Host&, Args args) {
  size_t k = static_cast<size_t>(NonNegative(Arg(args, 0)));
  CheckTextLength(k);
  return Var::String(Text(k, u' '));
}

Var String(Host&, Args args) {
  size_t k = static_cast<size_t>(NonNegative(Arg(args, 0)));
  const Var& with = Arg(args, 1);
  if (with.is_null()) return Var::Null();
  char16_t c;
  if (with.is_string()) {
    if (with.str().empty()) Raise(error::kInvalidCall);
    c = with.str()[0];
  } else {
    int32_t code = ToLong(with) % 256;
    if (code < 0) code += 256;
    c = AnsiChar(static_cast<unsigned char>(code));
  }
  CheckTextLength(k);
  return Var::String(Text(k, c));
}

Var StrComp(Host&, Args args) {
  if (Arg(args, 0).is_null() || Arg(args, 1).is_null()) return Var::Null();
  int c = Compare(Var::String(ToStr(Arg(args, 0))),
                  Var::String(ToStr(Arg(args, 1))), TextMode(args, 2));
  return Var::Integer(static_cast<int16_t>(c));
}

Var StrReverse(Host&, Args args) {
  if (Arg(args, 0).is_null()) Raise(error::kInvalidNull);
  Text t = ToStr(Arg(args, 0));
  std::reverse(t.begin(), t.end());
  return Var::String(std::move(t));
}

Var Asc(Host&, Args args) {
  Text t = ToStr(Arg(args, 0));
  if (t.empty()) Raise(error::kInvalidCall);
  int code = AnsiCode(t[0]);
  return Var::Integer(static_cast<int16_t>(code < 0 ? '?' : code));
}

Var AscW(Host&, Args args) {
  Text t = ToStr(Arg(args, 0));
  if (t.empty()) Raise(error::kInvalidCall);
  return Var::Integer(static_cast<int16_t>(t[0]));
}

Var Chr(Host&, Args args) {
  int32_t code = ToLong(Arg(args, 0));
  if (code < 0 || code > 255) Raise(error::kInvalidCall);
  return Var::String(Text(1, AnsiChar(static_cast<unsigned char>(code))));
}

Var ChrW(Host&, Args args) {
  int32_t code = ToLong(Arg(args, 0));
  if (code < -32768 || code > 65535) Raise(error::kInvalidCall);
  if (code < 0) code += 65536;
  return Var::String(Text(1, static_cast<char16_t>(code)));
}

constexpr BuiltinInfo kEntries[] = {
    {"Len", 1, 1, Len},
    {"Left", 2, 2, Left},
    {"Right", 2, 2, Right},
    {"Mid", 2, 3, Mid},
    {"InStr", 2, 4, InStr},
    {"InStrRev", 2, 4, InStrRev},
    {"Replace", 3, 6, Replace},
    {"Split", 1, 4, Split},
    {"Join", 1, 2, Join},
    {"Filter", 2, 4, Filter},
    {"Trim", 1, 1, Trim},
    {"LTrim", 1, 1, LTrim},
    {"RTrim", 1, 1, RTrim},
    {"UCase", 1, 1, UCase},
    {"LCase", 1, 1, LCase},
    {"Space", 1, 1, Space},
    {"String", 2, 2, String},
    {"StrComp", 2, 3, StrComp},
    {"StrReverse", 1, 1, StrReverse},
    {"Asc", 1, 1, Asc},
    {"AscW", 1, 1, AscW},
    {"Chr", 1, 1, Chr},
    {"ChrW", 1, 1, ChrW},
};

}  // namespace

std::span<const BuiltinInfo> TextBuiltins() { return kEntries; }

}  // namespace pellar::script
