#include <iostream>

#include "app/cli.h"

int main(int argc, char** argv) {
    return lum::app::RunCli({argv + 1, argv + argc}, std::cout, std::cerr);
}
