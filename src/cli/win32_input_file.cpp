#include <fcntl.h>
#include <io.h>

#include "cli/input_file.h"

namespace zelp::cli {

int OpenInputFile(const std::string& path) {
    return ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int StandardInputFile() {
    ::_setmode(0, _O_BINARY);
    return 0;
}

}  // namespace zelp::cli
