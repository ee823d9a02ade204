// Opening a device node for our exclusive, non-blocking use, and telling
// which kind of device it is.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>

#include "native/platform/linux/io_strategy.h"
#include "native/platform/linux/unique_fd.h"
#include "native/wintypes.h"

namespace zelp::linuxbk {

struct OpenedNode {
    UniqueFd fd;
    UniqueFd wakeFd;  // wakes a thread that waits in poll() for the device
    DeviceKind kind = DeviceKind::Stream;
    DWORD error = ERROR_SUCCESS;  // the reason when fd is not valid
};

// Opens `path` read-write, non-blocking, without becoming our controlling
// terminal and closed on exec, and takes our exclusive lock on it: a second
// open, in this process or another, fails with ERROR_SHARING_VIOLATION.
// A terminal is switched to raw mode; a ppdev port is claimed.
OpenedNode OpenDeviceNode(const std::string& path, const std::shared_ptr<FdLedger>& ledger);

// The kernel does not make every device exclusive (ptys, ppdev, files), so
// exclusivity rests on a lock of our own, which zelp's doctor asks too.
// flock() locks belong to the open file, so they also keep apart two opens
// within this process. ERROR_SHARING_VIOLATION when another open holds it.
DWORD TakeExclusiveLock(int fd);

// The kind of an open node, from its file type and device numbers.
DeviceKind KindOfNode(int fd, const struct stat& info);

}  // namespace zelp::linuxbk
