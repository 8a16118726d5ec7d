// PellarLib.UFL: who and what the library is, and control of the activity
// log.
#ifndef PELLAR_UFL_UFL_H_
#define PELLAR_UFL_UFL_H_

#include <pellar/base/export.h>
#include <pellar/base/text.h>

namespace pellar {

class PELLAR_EXPORT UFL {
 public:
  // Answers the command word (case-insensitive, otherwise exact); "" for an
  // unknown word. "savelog" lets file-system failures through.
  Text Help(const Text& HelpCommand);
};

}  // namespace pellar

#endif  // PELLAR_UFL_UFL_H_
