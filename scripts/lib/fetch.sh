# Sourced by the scripts that read a package registry. A mirror can be caught
# mid-sync ("File has unexpected size ... Mirror sync in progress?"), or a
# fetch can hit a passing network fault: neither should turn a run red. So
# every fetch is tried a few times with a pause between tries, and what was
# fetched is kept outside the clone, where later runs on this machine reuse it
# without the network.

# Where fetched files outlive the clone. ZELP_FETCH_CACHE overrides it.
ZELP_FETCH_CACHE=${ZELP_FETCH_CACHE:-/var/cache/libiozelp}

# fetch_retry WHAT COMMAND...: runs COMMAND up to ZELP_FETCH_TRIES times (4),
# pausing 10, 20, then 40 s between tries. WHAT names the step in the one line
# said when every try failed.
fetch_retry() {
    local what=$1 try tries=${ZELP_FETCH_TRIES:-4} pause=10
    shift
    for ((try = 1; try <= tries; try++)); do
        "$@" && return 0
        if ((try < tries)); then
            echo "$what: try $try of $tries failed; again in ${pause} s" >&2
            sleep "$pause"
            pause=$((pause * 2))
        fi
    done
    echo "$what: failed after $tries tries: $*" >&2
    return 1
}

# apt_as_root ARGS...: apt-get as root (through sudo when needed), waiting for
# another apt on the machine rather than failing on its lock.
apt_as_root() {
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 "$@"
}

# apt_install_missing WHAT PACKAGE...: installs the packages not installed
# yet. Each try reads the package lists, then installs. A list caught
# mid-sync fails the update while the others, and those of earlier runs, are
# still good: the install goes on with them, and only its failure counts.
apt_install_missing() {
    local what=$1 package missing=()
    shift
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "$what: installing ${missing[*]}"
    fetch_retry "$what (apt-get update, apt-get install ${missing[*]})" \
        apt_update_and_install "$what" "${missing[@]}"
}

# apt_update_and_install WHAT PACKAGE...: one try of apt_install_missing.
apt_update_and_install() {
    local what=$1
    shift
    apt_as_root update -qq ||
        echo "$what: apt-get update failed; installing from the package lists at hand" >&2
    apt_as_root install -y -qq --no-install-recommends "$@" >/dev/null
}

# private_apt STATE ARCH [SOURCE_LINE]: sets PRIVATE_APT to the apt-get
# options that read package lists for ARCH into STATE, a folder of its own,
# as if nothing were installed: SOURCE_LINE's list, or without it the
# machine's own sources'. The machine's apt lists and packages stay as they
# are; nothing needs root.
private_apt() {
    local state=$1 arch=$2
    mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/parts"
    PRIVATE_APT=(
        -o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache"
        -o Dir::State::status=/dev/null
        -o "APT::Architecture=$arch" -o "APT::Architectures::=$arch"
        -o APT::Sandbox::User=root)
    if [ $# -ge 3 ]; then
        echo "$3" >"$state/sources.list"
        PRIVATE_APT+=(-o "Dir::Etc::SourceList=$state/sources.list"
            -o "Dir::Etc::SourceParts=$state/parts")
    fi
}

# have_debs DEBS PACKAGE...: every PACKAGE has its .deb in the folder DEBS.
have_debs() {
    local debs=$1 package
    shift
    for package in "$@"; do
        compgen -G "$debs/${package}_*.deb" >/dev/null || return 1
    done
}

# fetch_debs WHAT DEBS PACKAGE...: downloads PACKAGE... with PRIVATE_APT into
# DEBS (a folder of ZELP_FETCH_CACHE), tried as fetch_retry tries. Does
# nothing when DEBS holds them all already.
fetch_debs() {
    local what=$1 debs=$2
    shift 2
    have_debs "$debs" "$@" && return 0
    mkdir -p "$debs"
    echo "$what: reading the package lists to download $*" >&2
    fetch_retry "$what (apt-get update and download $*)" download_debs_once "$what" "$debs" "$@"
}

# download_debs_once WHAT DEBS PACKAGE...: one try of fetch_debs. A list
# caught mid-sync leaves the last good copy in use: only the download counts.
download_debs_once() {
    local what=$1 debs=$2
    shift 2
    apt-get "${PRIVATE_APT[@]}" update -qq ||
        echo "$what: apt-get update failed; downloading with the lists at hand" >&2
    rm -f "$debs"/*.deb
    (cd "$debs" && apt-get "${PRIVATE_APT[@]}" download -qq "$@") && have_debs "$debs" "$@"
}
