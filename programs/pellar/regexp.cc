#include "regexp.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "objects.h"

namespace pellar::script {
namespace {

[[noreturn]] void SyntaxFault() { Raise(error::kRegExpSyntax); }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool IsAsciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The escapes whose letter means the same in both dialects.
bool SharedEscape(char16_t c) {
  return std::u16string_view(u"bBdDwWsSfnrtcxu").find(c) !=
         std::u16string_view::npos;
}

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct ContextDeleter {
  void operator()(pcre2_compile_context* context) const {
    pcre2_compile_context_free(context);
  }
};
using Code = std::unique_ptr<pcre2_code, CodeDeleter>;
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;

// One match: its text, where it starts and its groups' texts.
struct Found {
  Text value;
  int32_t first_index = 0;
  std::vector<Var> groups;  // Empty where a group took no part
};

class Match final : public TableObject {
  static constexpr std::array<std::string_view, 5> kNames = {
      "", "submatches", "value", "firstindex", "length"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  explicit Match(Found found) : found_(std::move(found)) {}
  Text TypeName() const override { return u"IMatch2"; }
  Var InvokeResolved(Host& in, int32_t member, std::string_view, Args args,
                     CallKind kind) override {
    if (kind == CallKind::kLet || kind == CallKind::kSet) NoMember();
    if (member == Id("submatches")) {
      Var groups =
          Own(new ItemList(u"ISubMatches", found_.groups, error::kInvalidCall));
      // m.SubMatches(0): the collection's default member, Item.
      if (!args.empty())
        return groups.object()->Invoke(in, "", args, CallKind::kGet);
      return groups;
    }
    ArgCount(args, 0, 0);
    if (member == Id("") || member == Id("value"))
      return Var::String(found_.value);
    if (member == Id("firstindex")) return Var::Long(found_.first_index);
    if (member == Id("length"))
      return Var::Long(static_cast<int32_t>(found_.value.size()));
    NoMember();
  }

 private:
  Found found_;
};

class RegExp final : public TableObject {
  static constexpr std::array<std::string_view, 7> kNames = {
      "pattern", "global",  "ignorecase", "multiline",
      "test",    "execute", "replace"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  Text TypeName() const override { return u"IRegExp2"; }
  Var InvokeResolved(Host&, int32_t member, std::string_view, Args args,
                     CallKind kind) override {
    const bool set = kind == CallKind::kLet;
    if (kind == CallKind::kSet) Raise(error::kInvalidCall);
    if (member == Id("pattern")) return Property(pattern_, args, set);
    if (member == Id("global")) return Flag(global_, args, set);
    if (member == Id("ignorecase")) return Flag(ignore_case_, args, set);
    if (member == Id("multiline")) return Flag(multiline_, args, set);
    if (set) NoMember();
    if (member == Id("test")) {
      ArgCount(args, 1, 1);
      const Text subject = ToStr(*args[0]);
      bool found = false;
      Scan(subject, false,
           [&](const std::vector<std::ptrdiff_t>&) { found = true; });
      return Var::Bool(found);
    }
    if (member == Id("execute")) {
      ArgCount(args, 1, 1);
      const Text subject = ToStr(*args[0]);
      std::vector<Var> items;
      Scan(subject, global_, [&](const std::vector<std::ptrdiff_t>& g) {
        Found found;
        found.first_index = static_cast<int32_t>(g[0]);
        found.value = subject.substr(static_cast<size_t>(g[0]),
                                     static_cast<size_t>(g[1] - g[0]));
        for (size_t k = 2; k + 1 < g.size(); k += 2) {
          found.groups.push_back(
              g[k] < 0 ? Var()
                       : Var::String(subject.substr(
                             static_cast<size_t>(g[k]),
                             static_cast<size_t>(g[k + 1] - g[k]))));
        }
        items.push_back(Own(new Match(std::move(found))));
      });
      return Own(new ItemList(u"IMatchCollection2", std::move(items),
                              error::kInvalidCall));
    }
    if (member == Id("replace")) {
      ArgCount(args, 2, 2);
      const Text subject = ToStr(*args[0]);
      const Text replacement = ToStr(*args[1]);
      Text out;
      size_t done = 0;
      Scan(subject, global_, [&](const std::vector<std::ptrdiff_t>& g) {
        out.append(subject, done, static_cast<size_t>(g[0]) - done);
        out += ExpandReplacement(replacement, subject, g);
        CheckTextLength(out.size());  // a short pattern can grow a text fast
        done = static_cast<size_t>(g[1]);
      });
      out.append(subject, done);
      return Var::String(std::move(out));
    }
    NoMember();
  }

 private:
  static Var Property(Text& field, Args args, bool set) {
    if (!set) {
      ArgCount(args, 0, 0);
      return Var::String(field);
    }
    ArgCount(args, 1, 1);
    field = ToStr(*args[0]);
    return Var();
  }
  Var Flag(bool& field, Args args, bool set) {
    if (!set) {
      ArgCount(args, 0, 0);
      return Var::Bool(field);
    }
    ArgCount(args, 1, 1);
    const bool value = ToBool(*args[0]);
    if (value != field) code_.reset();
    field = value;
    return Var();
  }

  // Calls `each` with the groups' offsets of every match (the first only
  // unless `all`). An empty match moves the next search one place on, as
  // JScript does.
  template <typename Each>
  void Scan(const Text& subject, bool all, Each each) {
    pcre2_code* code = Compiled();
    MatchData data(pcre2_match_data_create_from_pattern(code, nullptr));
    if (!data) throw std::bad_alloc();
    const auto* text = reinterpret_cast<PCRE2_SPTR16>(subject.data());
    std::vector<std::ptrdiff_t> groups;
    size_t at = 0;
    while (at <= subject.size()) {
      const int rc =
          pcre2_match(code, text, subject.size(), at, 0, data.get(), nullptr);
      if (rc == PCRE2_ERROR_NOMATCH) return;
      if (rc == PCRE2_ERROR_NOMEMORY) throw std::bad_alloc();
      if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
          rc == PCRE2_ERROR_HEAPLIMIT) {
        Raise(error::kOutOfStack);
      }
      if (rc < 0) Raise(error::kInvalidCall);
      const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
      const uint32_t pairs = pcre2_get_ovector_count(data.get());
      groups.assign(pairs * 2, -1);
      for (uint32_t k = 0; k < pairs; ++k) {
        if (ovector[2 * k] == PCRE2_UNSET) continue;
        groups[2 * k] = static_cast<std::ptrdiff_t>(ovector[2 * k]);
        groups[2 * k + 1] = static_cast<std::ptrdiff_t>(ovector[2 * k + 1]);
      }
      // Groups beyond the pattern's count are not groups at all.
      groups.resize(2 * (CaptureCount() + 1), -1);
      each(groups);
      if (!all) return;
      at = ovector[1];
      if (ovector[1] == ovector[0]) {
        // Past an empty match by one character, a surrogate pair whole.
        at += at + 1 < subject.size() && IsHighSurrogate(subject[at]) &&
                      IsLowSurrogate(subject[at + 1])
                  ? 2
                  : 1;
      }
    }
  }

  uint32_t CaptureCount() {
    uint32_t count = 0;
    pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &count);
    return count;
  }

  pcre2_code* Compiled() {
    if (code_ && compiled_pattern_ == pattern_) return code_.get();
    RegExpDialect dialect =
        TranslatePattern(pattern_, ignore_case_, multiline_);
    std::unique_ptr<pcre2_compile_context, ContextDeleter> context(
        pcre2_compile_context_create(nullptr));
    if (!context) throw std::bad_alloc();
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_.reset(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR16>(dialect.pattern.data()),
                      dialect.pattern.size(), dialect.options, &error, &offset,
                      context.get()));
    if (!code_) {
      if (error == PCRE2_ERROR_NOMEMORY) throw std::bad_alloc();
      SyntaxFault();
    }
    // Compiling for speed is an optimisation: without it matching works.
    (void)pcre2_jit_compile(code_.get(), PCRE2_JIT_COMPLETE);
    compiled_pattern_ = pattern_;
    return code_.get();
  }

  Text pattern_;
  bool global_ = false;
  bool ignore_case_ = false;
  bool multiline_ = false;
  Code code_;
  Text compiled_pattern_;
};

}  // namespace

RegExpDialect TranslatePattern(TextView pattern, bool ignore_case,
                               bool multiline) {
  RegExpDialect out;
  out.options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_ALT_BSUX |
                PCRE2_ALLOW_EMPTY_CLASS |
                (multiline ? PCRE2_MULTILINE : PCRE2_DOLLAR_ENDONLY) |
                (ignore_case ? PCRE2_CASELESS : 0);
  Text& p = out.pattern;
  p.reserve(pattern.size());
  bool in_class = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    if (c == u'\\' && i + 1 < pattern.size()) {
      const char16_t e = pattern[++i];
      if (e == u'v') {
        p += u"\\x0B";  // JScript's vertical tab; PCRE2 reads a class
      } else if (IsAsciiLetter(e) && !SharedEscape(e)) {
        p += e;  // JScript reads an unknown letter escape as the letter
      } else {
        p += c;
        p += e;
      }
      continue;
    }
    if (in_class && c == u']') {
      in_class = false;
    } else if (!in_class && c == u'[') {
      in_class = true;
      p += c;
      // A "]" first in a class closes it in JScript ("[]" matches nothing,
      // "[^]" anything); PCRE2 takes it as a member unless told otherwise.
      if (i + 1 < pattern.size() && pattern[i + 1] == u'^') {
        p += pattern[++i];
      }
      if (i + 1 < pattern.size() && pattern[i + 1] == u']') {
        p += pattern[++i];
        in_class = false;
      }
      continue;
    }
    p += c;
  }
  return out;
}

Text ExpandReplacement(TextView replacement, TextView subject,
                       const std::vector<std::ptrdiff_t>& groups) {
  const size_t group_count = groups.size() / 2;  // group 0 included
  Text out;
  for (size_t i = 0; i < replacement.size(); ++i) {
    const char16_t c = replacement[i];
    if (c != u'$' || i + 1 == replacement.size()) {
      out += c;
      continue;
    }
    const char16_t n = replacement[i + 1];
    if (n == u'$') {
      out += u'$';
      ++i;
    } else if (n == u'&') {
      out += subject.substr(static_cast<size_t>(groups[0]),
                            static_cast<size_t>(groups[1] - groups[0]));
      ++i;
    } else if (n == u'`') {
      out += subject.substr(0, static_cast<size_t>(groups[0]));
      ++i;
    } else if (n == u'\'') {
      out += subject.substr(static_cast<size_t>(groups[1]));
      ++i;
    } else if (n >= u'0' && n <= u'9') {
      // Two digits when that names a group, else one; $0 is no group.
      size_t k = n - u'0', used = 1;
      if (i + 2 < replacement.size() && replacement[i + 2] >= u'0' &&
          replacement[i + 2] <= u'9') {
        const size_t two = k * 10 + (replacement[i + 2] - u'0');
        if (two >= 1 && two < group_count) {
          k = two;
          used = 2;
        }
      }
      if (k == 0 || k >= group_count) {
        out += c;
        continue;
      }
      if (groups[2 * k] >= 0) {
        out += subject.substr(
            static_cast<size_t>(groups[2 * k]),
            static_cast<size_t>(groups[2 * k + 1] - groups[2 * k]));
      }
      i += used;
    } else {
      out += c;
    }
  }
  return out;
}

Var MakeRegExp() { return Own(new RegExp); }

}  // namespace pellar::script
