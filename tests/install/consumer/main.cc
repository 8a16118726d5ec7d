// Uses the installed headers both ways a caller can: a class directly and
// the automation table by programmatic identifier.
#include <pellar/automation/automation.h>
#include <pellar/workarea/cell.h>

#include <iostream>
#include <vector>

int main() {
  pellar::Cell cell;
  int32_t cols = 1;
  std::cout << pellar::ToUtf8(cell.Clear(2, cols)) << "\n";
  std::unique_ptr<pellar::Object> ufl =
      pellar::Object::Create(u"PellarLib.UFL");
  std::vector<pellar::Arg> args{pellar::Arg::Val(pellar::Text(u"version"))};
  std::cout << pellar::ToUtf8(
                   pellar::ToText(pellar::Invoke(*ufl, u"Help", args)))
            << "\n";
  return 0;
}
