#include <unistd.h>

#include <iostream>

#include "tools/lumtool.h"

int main(int argc, char** argv) {
    lum::tools::ToolIo io{std::cout, std::cerr, isatty(STDERR_FILENO) != 0};
    return lum::tools::RunLum({argv + 1, argv + argc}, io);
}
