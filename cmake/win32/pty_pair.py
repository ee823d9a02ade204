"""Two ptys joined back to back: bytes written to one come out of the other.

usage: pty_pair.py LINK_A LINK_B READY_FILE

Each LINK names the slave side of one pty; READY_FILE appears once both
links exist. Runs until killed.
"""
import os
import select
import sys
import tty


def main():
    links, ready = sys.argv[1:3], sys.argv[3]
    pairs = [os.openpty() for _ in links]
    for (_, slave), link in zip(pairs, links):
        # Raw both ways: a printer port passes every byte as it is.
        tty.setraw(slave)
        fresh = link + ".new"
        os.symlink(os.ttyname(slave), fresh)
        os.replace(fresh, link)
    # Our own slave descriptors stay open: when the last one closes, the
    # master reads EIO, and every close of a port would end the relay.
    open(ready, "w").close()
    other = {pairs[0][0]: pairs[1][0], pairs[1][0]: pairs[0][0]}
    while True:
        readable, _, _ = select.select(list(other), [], [])
        for master in readable:
            os.write(other[master], os.read(master, 65536))


if __name__ == "__main__":
    main()
