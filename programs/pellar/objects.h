// The objects a script gets besides the library's: WScript, Err,
// Scripting.Dictionary, the text-file part of Scripting.FileSystemObject,
// and the wrapper that calls library classes through Invoke.
#ifndef PELLAR_HOST_OBJECTS_H_
#define PELLAR_HOST_OBJECTS_H_

#include <pellar/base/text.h>
#include "variant.h"

namespace pellar::script {

Var MakeWScript(Interpreter& in);
Var MakeErrObject(Interpreter& in);
// CreateObject: the scripting objects by name, else a library class.
Var CreateScriptObject(Interpreter& in, const Text& progid);

}  // namespace pellar::script

#endif  // PELLAR_HOST_OBJECTS_H_
