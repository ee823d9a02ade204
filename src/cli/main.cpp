// zelp: the command-line tool for the people who set printers up.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    zelp::cli::Console console{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1};
    return zelp::cli::AsInt(zelp::cli::Run(args, console));
}
