// What zelp's Linux survey and doctor read from the system: sysfs attributes,
// which programs hold a device (/proc), which modules are loaded or kept from
// loading (modprobe.d). Reads only.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zelp::cli::linuxprobe {

// The first line of a sysfs attribute; nothing when it cannot be read.
std::optional<std::string> ReadAttribute(const std::string& path);

// The name a link points at (a driver link's "usblp"); empty when no link.
std::string LinkName(const std::string& path);

// The paths in `folder`, in no order; none when it cannot be read. A folder
// that changes under the listing (a process's fds as it exits) ends the
// listing where it failed instead of throwing out of zelp.
std::vector<std::string> FolderEntries(const std::string& folder);

std::string SysfsRootOf(const std::string& sysfsRoot);
std::string DevRootOf(const std::string& devRoot);

// <sysfs>/module/NAME: loaded, or built in with parameters.
bool ModuleLoaded(const std::string& sysfsRoot, const std::string& name);

// The modprobe.d lines that keep `module` from loading ("blacklist usblp",
// "install usblp /bin/false"), each as "FILE line N: TEXT".
std::vector<std::string> ModuleBlockers(const std::string& module);

// The programs with `node` open, other than this one, as "NAME (pid N)" with
// the program's first argument when it tells more (CUPS' backends carry
// their device URI there). Only what /proc lets this user see.
std::vector<std::string> ProgramsHolding(const std::string& node);

// "a, b and c".
std::string JoinedList(const std::vector<std::string>& items);

}  // namespace zelp::cli::linuxprobe
