#include "cli/linux_probe.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zelp::cli::linuxprobe {

namespace fs = std::filesystem;

namespace {

// Where modprobe looks, in its order of precedence.
const char* const kModprobeFolders[] = {"/etc/modprobe.d", "/run/modprobe.d",
                                        "/usr/local/lib/modprobe.d", "/lib/modprobe.d",
                                        "/usr/lib/modprobe.d"};

bool BlocksModule(const std::string& line, const std::string& module) {
    std::istringstream words(line);
    std::string keyword;
    std::string name;
    std::string command;
    words >> keyword >> name >> command;
    if (name != module) {
        return false;
    }
    return keyword == "blacklist" ||
           (keyword == "install" && (command == "/bin/false" || command == "/bin/true" ||
                                     command == "/usr/bin/false" || command == "/usr/bin/true"));
}

void AddBlockers(const fs::path& file, const std::string& module,
                 std::vector<std::string>& blockers) {
    std::ifstream in(file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (BlocksModule(line, module)) {
            blockers.push_back(file.string() + " line " + std::to_string(number) + ": " + line);
        }
    }
}

std::string ProgramName(const std::string& pid) {
    const std::string comm = ReadAttribute("/proc/" + pid + "/comm").value_or("?");
    std::ifstream in("/proc/" + pid + "/cmdline");
    std::string first;
    std::getline(in, first, '\0');
    // The kernel cuts comm to 15 characters; the program's own name is whole.
    const std::string shown = fs::path(first).filename().string();
    if (!comm.empty() && shown.rfind(comm, 0) == 0) {
        return shown + " (pid " + pid + ")";
    }
    return comm + " (pid " + pid + (first.empty() ? "" : ", " + first) + ")";
}

bool HoldsNode(const std::string& fdFolder, const std::string& target) {
    for (const std::string& fd : FolderEntries(fdFolder)) {
        std::error_code linkError;
        if (fs::read_symlink(fd, linkError).string() == target) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::string> ReadAttribute(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    return line;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        entries.push_back(it->path().string());
    }
    return entries;
}

std::string LinkName(const std::string& path) {
    std::error_code error;
    const fs::path target = fs::read_symlink(path, error);
    return error ? "" : target.filename().string();
}

std::string SysfsRootOf(const std::string& sysfsRoot) {
    return sysfsRoot.empty() ? "/sys" : sysfsRoot;
}

std::string DevRootOf(const std::string& devRoot) {
    return devRoot.empty() ? "/dev" : devRoot;
}

bool ModuleLoaded(const std::string& sysfsRoot, const std::string& name) {
    std::error_code error;
    return fs::exists(SysfsRootOf(sysfsRoot) + "/module/" + name, error);
}

std::vector<std::string> ModuleBlockers(const std::string& module) {
    std::vector<std::string> blockers;
    for (const char* folder : kModprobeFolders) {
        std::vector<fs::path> files;
        for (const std::string& entry : FolderEntries(folder)) {
            if (fs::path(entry).extension() == ".conf") {
                files.push_back(entry);
            }
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            AddBlockers(file, module, blockers);
        }
    }
    return blockers;
}

std::vector<std::string> ProgramsHolding(const std::string& node) {
    std::error_code error;
    const std::string target = fs::weakly_canonical(node, error).string();
    const std::string self = std::to_string(::getpid());
    std::vector<std::string> holders;
    for (const std::string& entry : FolderEntries("/proc")) {
        const std::string pid = fs::path(entry).filename().string();
        if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        if (HoldsNode(entry + "/fd", target)) {
            holders.push_back(ProgramName(pid));
        }
    }
    return holders;
}

std::string JoinedList(const std::vector<std::string>& items) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    }
    return text;
}

}  // namespace zelp::cli::linuxprobe
