// pellar_comgen FOLDER: writes the table-derived COM sources (com_gen.h)
// into FOLDER, leaving files whose content is already right untouched.
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <pellar/automation/automation.h>
#include "com_gen.h"

namespace {

void WriteIfChanged(const std::string& path, const std::string& text) {
  {
    std::ifstream in(path, std::ios::binary);
    if (in && std::string(std::istreambuf_iterator<char>(in), {}) == text) {
      return;
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
  std::cout << "wrote " << path << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: pellar_comgen FOLDER\n";
    return 2;
  }
  try {
    const std::string folder = argv[1];
    const auto& classes = pellar::Classes();
    WriteIfChanged(folder + "/" + pellar::com::kIdlFileName,
                   pellar::com::GenerateIdl(classes));
    WriteIfChanged(folder + "/" + pellar::com::kDualClassesFileName,
                   pellar::com::GenerateDualClasses(classes));
    WriteIfChanged(folder + "/" + pellar::com::kWixFileName,
                   pellar::com::GenerateWix(classes));
  } catch (const std::exception& e) {
    std::cerr << "pellar_comgen: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
