#include <fcntl.h>
#include <unistd.h>

#include "cli/input_file.h"

namespace zelp::cli {

int OpenInputFile(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

int StandardInputFile() {
    return STDIN_FILENO;
}

}  // namespace zelp::cli
