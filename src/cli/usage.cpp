#include "cli/arguments.h"
#include "cli/system_setup.h"

namespace zelp::cli {

std::string UsageText() {
    return R"(zelp: set up and check the printers LibIoZelp drives, with the library's own logic.

usage:
  zelp list
      Every USB printer present, usable or not, one line each, fields
      separated by tabs: VENDOR:PRODUCT, the USB serial text, the device the
      library opens, "usable" or why not (no-driver, driver=NAME, no-node,
      no-access), where the system keeps it. "-" for none.
  zelp list VENDOR PRODUCT
      The USB printers of a model that are plugged in, with their serial
      numbers. A printer without a numeric USB serial number is asked for its
      number over its data channel (up to 12 s each).
  zelp doctor [VENDOR PRODUCT [SERIAL] | PORT]
      What stands between each printer or port (every one present when none
      is named) and the library: the cause, what was seen, and the fix.
  zelp udev-rule [VENDOR PRODUCT]
      A udev rules file that gives the printers' device nodes to group lp, or
      only those of one USB model.
  zelp detect VENDOR PRODUCT SERIAL
      Whether the USB printer of the model with this serial number is plugged in.
  zelp status PORT
      Whether the printer on a parallel port is on line, with its status bits.
  zelp send (--usb VENDOR PRODUCT SERIAL | --port PORT) [--timeout MS] [FILE | -]
      Sends FILE, or standard input, to a printer: a progress bar on a
      terminal, a one-line summary in any case.
  zelp --help | --version

VENDOR and PRODUCT are USB ids, decimal (4660) or hexadecimal (0x1234), as
zelp list shows them. SERIAL is compared by its numeric value; 0 is a printer
without a numeric serial number. When no printer with SERIAL can be opened,
send uses a printer of the model without a numeric serial number, as
applications using the library do, and says so.
)" + PortNamesHelp() +
           R"(--timeout MS: how long a USB printer may take for each 16 KiB block (default
30000; -1 waits without limit). A parallel port allows 2 s for each block.

exit status (doctor: that of the first cause it found):
  0  done (list: printers found; detect: present; status: on line;
     doctor: nothing stands in the way)
  1  usage error, or FILE cannot be read
  2  no such printer or port (list: none found; detect: not present)
  3  busy: another program has the printer or port open
  4  permission denied: the message says how to grant access
  5  time-out or I/O failure while talking to the printer
  6  the printer is off line (status)
)";
}

}  // namespace zelp::cli
