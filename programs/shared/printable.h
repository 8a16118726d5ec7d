// Texts from documents, printed or logged by the programs beside the
// library, one line each.
#ifndef PELLAR_PROGRAMS_SHARED_PRINTABLE_H_
#define PELLAR_PROGRAMS_SHARED_PRINTABLE_H_

#include <string>
#include <string_view>

namespace pellar::programs {

// `line` with its control characters written as \r, \n, \t, \xHH or
// \u00HH, so that no value can start a line of its own in a log.
std::string Printable(std::string_view line);

}  // namespace pellar::programs

#endif  // PELLAR_PROGRAMS_SHARED_PRINTABLE_H_
