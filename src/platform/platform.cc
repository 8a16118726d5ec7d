#include <pellar/platform/platform.h>

#include <cstdint>
#include <random>

namespace pellar {
namespace {

thread_local Platform* current_platform = nullptr;

// Random, so that copies running at the same time never share a name.
std::mt19937_64& TemporaryNames() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  return random;
}

}  // namespace

Platform& Platform::Current() {
  return current_platform ? *current_platform : Default();
}

ScopedPlatform::ScopedPlatform(Platform& platform)
    : previous_(current_platform) {
  current_platform = &platform;
}

ScopedPlatform::~ScopedPlatform() { current_platform = previous_; }

void Platform::ReplaceFile(TextView from, TextView to) {
  if (!Lookup(to, LookupKind::kFile).empty()) DeleteFile(to);
  Rename(from, to);
}

void Platform::CheckReplaceable(TextView) {}

bool Platform::SameFile(TextView a, TextView b) { return a == b; }

Text TemporarySibling(TextView path, char16_t separator) {
  // Windows also takes "/" and a drive's "C:" as the end of a folder part.
  const TextView ends =
      separator == u'\\' ? TextView(u"\\/:") : TextView(&separator, 1);
  const size_t cut = path.find_last_of(ends);
  Text temp(cut == TextView::npos ? TextView() : path.substr(0, cut + 1));
  uint64_t n = TemporaryNames()();
  temp += u".~pellar-";
  for (int i = 0; i < 16; ++i, n >>= 4) {
    temp.push_back(u"0123456789abcdef"[n & 15]);
  }
  temp += u".tmp";
  return temp;
}

void SeedTemporaryNames(uint64_t seed) { TemporaryNames().seed(seed); }

std::vector<Text> SplitCommandLine(TextView line) {
  std::vector<Text> args;
  size_t i = 0;
  const size_t n = line.size();
  auto is_blank = [](char16_t c) { return c == u' ' || c == u'\t'; };

  while (i < n && is_blank(line[i])) ++i;
  if (i >= n) return args;

  // The program name: quotes only group, backslashes are literal.
  Text program;
  bool quoted = false;
  while (i < n && (quoted || !is_blank(line[i]))) {
    if (line[i] == u'"') {
      quoted = !quoted;
    } else {
      program.push_back(line[i]);
    }
    ++i;
  }
  args.push_back(std::move(program));

  while (true) {
    while (i < n && is_blank(line[i])) ++i;
    if (i >= n) break;
    Text arg;
    bool in_quotes = false;
    while (i < n && (in_quotes || !is_blank(line[i]))) {
      if (line[i] == u'\\') {
        size_t backslashes = 0;
        while (i < n && line[i] == u'\\') {
          ++backslashes;
          ++i;
        }
        if (i < n && line[i] == u'"') {
          arg.append(backslashes / 2, u'\\');
          if (backslashes % 2 == 1) {
            arg.push_back(u'"');
            ++i;
          }
          // An even count leaves the quote to toggle below.
        } else {
          arg.append(backslashes, u'\\');
        }
      } else if (line[i] == u'"') {
        if (in_quotes && i + 1 < n && line[i + 1] == u'"') {
          arg.push_back(u'"');
          i += 2;
        } else {
          in_quotes = !in_quotes;
          ++i;
        }
      } else {
        arg.push_back(line[i]);
        ++i;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace pellar
