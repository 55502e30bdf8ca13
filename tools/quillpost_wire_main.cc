#include <iostream>

#include "tools/wire_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return quill::RunWireTool(args, std::cin, std::cout, std::cerr);
}
