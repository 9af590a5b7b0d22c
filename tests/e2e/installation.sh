# Sourced by tests/e2e/run and bench/soak with installer, state and port set: the real binary,
# built with its services at https://127.0.0.1:$port and its paths below $state, installing from
# nginx under Xvfb and clicked as a person would.
#
# Users are not root. The installer runs as the ordinary account $account (made here when
# missing), umask 022, with its own HOME, XDG folders and runtime folder below $state/home:
# start anything of the user's with "${as_account[@]}" COMMAND.. (begin_installation does).
# nginx, Xvfb and the checks stay root's. The archive path lies in $shared_tmp, root's and
# sticky like /tmp, where $other_account may leave things too; the bundle's folder
# $applications is the user's. start_services makes all of these afresh.
e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$e2e_dir/../../scripts/services/lib.sh"

services="$state/services" applications="$state/Applications" shared_tmp="$state/tmp"
signing_key="$state/signing/update-key.pem"
bundle="$applications/Plimbo.app" archive_path="$shared_tmp/Plimbo.tar.gz"
account=plimbo-e2e other_account=plimbo-e2e-other
as_account=(setpriv --reuid="$account" --regid="$account" --clear-groups --)
as_other_account=(setpriv --reuid="$other_account" --regid="$other_account" --clear-groups --)
export HOME="$state/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache" \
    XDG_DATA_HOME="$HOME/.local/share" XDG_RUNTIME_DIR="$HOME/run"
unset DISPLAY
umask 022

installer_pid="" proxy_pid="" bus_pid=""
cleanup() {
    set +e # clean up all there is, whatever has gone already
    for pid in $installer_pid $proxy_pid $bus_pid; do
        kill "$pid" && wait "$pid" # the installer's files must be closed before an unmount
    done 2>/dev/null
    stop_nginx "$services"
    stop_display
}
trap cleanup EXIT
trap 'exit 143' TERM
fail() {
    echo "FAIL: $*" >&2
    tail -n 20 "$state/installer.out" "$state/installer.err" >&2
    exit 1
}

# wait_for SECONDS COMMAND..: until COMMAND succeeds, SECONDS by the clock however long it takes
wait_for() {
    local deadline=$((${EPOCHREALTIME//[!0-9]/} + $1 * 1000000)) # in microseconds
    shift
    until "$@" >/dev/null 2>&1; do
        [ "${EPOCHREALTIME//[!0-9]/}" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# demo_archive MIB: a demo archive with MIB of resources, made once per state folder
demo_archive() {
    local archive="$state/archives/demo-${1}MiB.tar.gz"
    if [ ! -s "$archive" ]; then
        mkdir -p "$state/archives"
        "$e2e_dir/../../scripts/services/make-demo-archive" "$archive.part" "$1" >&2
        mv "$archive.part" "$archive"
    fi
    echo "$archive"
}

# ensure_account NAME: an ordinary account without a password or a home of its own
ensure_account() {
    for _ in $(seq 50); do # another tree's tests may be making it, holding the account files
        id -u "$1" >/dev/null 2>&1 && return 0
        useradd --no-create-home --user-group --shell /usr/sbin/nologin "$1" 2>/dev/null ||
            sleep 0.1
    done
    fail "no account $1"
}

# start_services MIB RATE: nothing installed yet, nginx serving a MIB archive at RATE, a display
start_services() {
    stop_nginx "$services" # left by a run that was killed
    ! mountpoint -q "$applications" || umount "$applications"
    ensure_account "$account" && ensure_account "$other_account"
    rm -rf "$applications" "$HOME" "$shared_tmp" "$services/access.log"
    mkdir -p "$applications" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" \
        "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    chown -R "$account:" "$applications" "$HOME"
    mkdir -m 1777 "$shared_tmp"
    start_nginx "$services" "$port" "$2"
    "${as_account[@]}" test -x "$installer" -a -r "$services/ca.pem" ||
        fail "$account cannot read $installer or $services/ca.pem"
    ln -f "$(demo_archive "$1")" "$services/www/Plimbo.tar.gz"
    start_display
}

# start_proxy ARGUMENTS..: the cutting proxy in front of nginx; sets proxy_port
start_proxy() {
    start_announcing proxy_port "$state/proxy.port" \
        python3 "$e2e_dir/../../scripts/services/cutting_proxy.py" "$@" || proxy_port=""
    proxy_pid=$announced_pid proxy_port=${proxy_port#port }
    [ -n "$proxy_port" ] || fail "the proxy did not start"
}

window_size() { xdotool search --name '^Plimbo Installer$' getwindowgeometry %1 | sed -n 's/.*Geometry: //p'; }
has_size() { [ "$(window_size 2>/dev/null)" = "$1" ]; }
partial_downloads() { find "${XDG_CACHE_HOME:-$HOME/.cache}" -name 'plimbo-download-*'; }
no_partial_download() { [ -z "$(partial_downloads)" ]; }

begin_installation() {
    : >"$services/hits.log" # nginx appends to it: no reopening, no hit lost on the way
    rm -f "$applications/plimbo-launched.txt"
    TMPDIR="$shared_tmp" "${as_account[@]}" "$installer" >"$state/installer.out" \
        2>"$state/installer.err" &
    installer_pid=$!
}

ended() { ! kill -0 "$installer_pid"; }
# wait_for_exit SECONDS: the installer's exit status in $status
wait_for_exit() {
    wait_for "$1" ended || fail "the installer did not end within $1 s"
    status=0
    wait "$installer_pid" || status=$?
    installer_pid=""
}

# check_hits PATTERN [RETRIES]: the hits, with the installer's headers, are the events PATTERN in
# the order sent (_s 1, 2, ..) from one cid; finish_download reports RETRIES. Leaves
# "event cid auto_retry_count duration" lines in $state/hits.txt.
check_hits() {
    python3 - "$services/hits.log" "$@" >"$state/hits.txt" <<'PY' || fail "unexpected hits: $(cat "$services/hits.log")"
import re, sys, urllib.parse
rows = []
for line in open(sys.argv[1]):
    request, *headers = line.rstrip("\n").split("|")
    assert headers == ["application/json"] + 2 * ["https://127.0.0.1"] + ["Plimbo/1.0.0 (macos)"], line
    rows.append(dict(urllib.parse.parse_qsl(request.split("?", 1)[1].split(" ")[0], keep_blank_values=True)))
rows.sort(key=lambda row: int(row["_s"]))  # nginx logs a hit once it has answered it
assert [int(row["_s"]) for row in rows] == list(range(1, len(rows) + 1)), rows
assert len({row["cid"] for row in rows}) == 1, rows
assert re.fullmatch(sys.argv[2], " ".join(row["en"] for row in rows)), rows
for row in rows:
    assert row["en"] != "installer_finish_download" or row["ep.auto_retry_count"] == sys.argv[3], row
    print(row["en"], row["cid"], row.get("ep.auto_retry_count", "-"), row.get("ep.duration", "-"))
PY
}

# check_same_tree EXPECTED ACTUAL WHAT: the same entries, contents, link targets and modes
listing() { (cd "$1" && find . -printf '%p %m %y %l\n' | sort); }
same_tree() { diff -r --no-dereference "$1" "$2" >/dev/null && cmp -s <(listing "$1") <(listing "$2"); }
check_same_tree() { same_tree "$1" "$2" || fail "$3 differs from what it should be"; }

shows_success_or_ended() { has_size 378x166 || ended; }
wait_for_success_panel() {
    wait_for "$1" shows_success_or_ended && has_size 378x166 ||
        fail "no success panel (window $(window_size))"
    [ ! -e "$applications/plimbo-launched.txt" ] || fail "Plimbo started before the click"
}

# answer_release ADDRESS [VERSION [ARCHIVE]]: signed with this tree's key
answer_release() { write_release_answer "$services" "$1" "$signing_key" "${2:-1.0}" "${3:-}"; }

# launch_and_check RETRIES [KEY]: "Ok", clicked or pressed with KEY, ends the installer with status
# 0 and starts Plimbo from a bundle equal to the archive; the hits are those of a whole
# installation with RETRIES resumptions.
launch_and_check() {
    if [ -n "${2:-}" ]; then
        # Typed as on a keyboard (XTEST): Return and Enter press "Ok" as they go down, and the
        # installer may be gone before the key comes up.
        xdotool search --name '^Plimbo Installer$' windowfocus --sync %1
        xdotool key "$2"
    else # "Ok" is 90 x 32 at (144, 32) from the bottom-left of the 378 x 166 panel.
        xdotool search --name '^Plimbo Installer$' mousemove --window %1 189 118 click 1
    fi
    wait_for_exit 20
    [ "$status" -eq 0 ] || fail "exit status $status after the click"
    wait_for 10 test -s "$applications/plimbo-launched.txt" || fail "Plimbo did not start"
    rm -rf "$state/expected" && mkdir "$state/expected"
    bsdtar -xpf "$services/www/Plimbo.tar.gz" -C "$state/expected"
    check_same_tree "$state/expected" "$bundle" "the bundle"
    no_partial_download || fail "partial downloads left: $(partial_downloads)"
    wait_for 5 grep -q launch_plimbo "$services/hits.log" || fail "no launch hit"
    check_hits "installer_start_download( installer_download_progress_spot)* installer_finish_download installer_ungzip installer_launch_plimbo" "$1"
}

# install_and_launch RETRIES [KEY]
install_and_launch() {
    begin_installation
    wait_for_success_panel 120
    launch_and_check "$@"
}
