// The job's bytes as they are: one implementation per system, since Windows
// would otherwise read files and standard input as text, turning CR LF into
// LF and stopping at the first Ctrl-Z.
#pragma once

#include <string>

namespace zelp::cli {

// A descriptor open for reading `path`, or -1 with errno set.
int OpenInputFile(const std::string& path);

// Standard input's descriptor, set to give its bytes unchanged.
int StandardInputFile();

}  // namespace zelp::cli
