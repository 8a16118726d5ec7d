// VBScript's RegExp object (New RegExp, CreateObject("VBScript.RegExp")),
// matching with PCRE2 on the script's UTF-16 text.
#ifndef PELLAR_HOST_REGEXP_H_
#define PELLAR_HOST_REGEXP_H_

#include <pellar/base/text.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "variant.h"

namespace pellar::script {

Var MakeRegExp();

// The PCRE2 options and pattern for a pattern in VBScript's dialect (the
// regular expressions of JScript 5.5). Exposed for tests.
struct RegExpDialect {
  Text pattern;
  uint32_t options = 0;
};
RegExpDialect TranslatePattern(TextView pattern, bool ignore_case,
                               bool multiline);

// Expands a Replace text for one match: $1..$99 (groups that exist), $&,
// $` (before the match), $' (after it), $$; any other "$" stays as it is.
// `groups` holds start and end offsets in `subject` per group, group 0 the
// match; a group that did not take part has a negative start.
Text ExpandReplacement(TextView replacement, TextView subject,
                       const std::vector<std::ptrdiff_t>& groups);

}  // namespace pellar::script

#endif  // PELLAR_HOST_REGEXP_H_
