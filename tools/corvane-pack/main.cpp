#include "pack_tool.h"

#include <iostream>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return corvane::pack::RunPackTool(args, std::cout, std::cerr);
}
