# Local services for the demo, the end-to-end tests and the benchmarks: a test CA, nginx over
# HTTPS on loopback serving a release answer, an archive and an analytics endpoint that logs
# every hit. Source this file; every function works inside one state folder.

services_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# make_certificates DIR: DIR/ca.pem signs DIR/server.pem (127.0.0.1, ::1, localhost).
make_certificates() {
    local dir=$1
    [ -f "$dir/server.pem" ] && return 0
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Plimbo Local Test CA" \
        -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
        -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost\nextendedKeyUsage=serverAuth\n' \
        >"$dir/server.ext"
    openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
        -CAcreateserial -days 3650 -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
}

# start_nginx DIR PORT [RATE]: serves DIR/www over HTTPS on 127.0.0.1:PORT, archives at RATE
# bytes a second (nginx notation, 0 for no limit); the release answer is DIR/www/release.json
# (a redirect to plain http while DIR/www/release.redirect exists),
# hits to /g/collect are logged to DIR/hits.log. Writes DIR/nginx.pid.
start_nginx() {
    local dir=$1 port=$2 rate=${3:-0} user_line=""
    make_certificates "$dir"
    mkdir -p "$dir/www" "$dir/temp"
    [ "$(id -u)" -eq 0 ] && user_line="user root;"
    sed -e "s|@DIR@|$dir|g" -e "s|@PORT@|$port|g" -e "s|@RATE@|$rate|g" -e "s|@USER@|$user_line|" \
        "$services_dir/nginx.conf.in" >"$dir/nginx.conf"
    # nginx binds its port before it returns, so a port in use fails here and never lets the
    # health check below reach another tree's server.
    nginx -c "$dir/nginx.conf" -p "$dir" || return 1
    for _ in $(seq 300); do
        [ -s "$dir/nginx.pid" ] && curl -s -o /dev/null --cacert "$dir/ca.pem" \
            "https://127.0.0.1:$port/health" && return 0
        sleep 0.1
    done
    echo "nginx did not start on port $port; see $dir/error.log" >&2
    return 1
}

# stop_nginx DIR: stops it and waits until it has gone, and with it its port. The pid file of a
# server that was killed may name another process by now.
stop_nginx() {
    local dir=$1 pid
    [ -s "$dir/nginx.pid" ] || return 0
    pid=$(cat "$dir/nginx.pid")
    [ "$(ps -p "$pid" -o comm= 2>/dev/null)" = nginx ] && kill "$pid"
    for _ in $(seq 300); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$dir/nginx.pid"
}

# write_release_answer DIR ADDRESS [KEY [VERSION [ARCHIVE]]]: the release service answers with
# ADDRESS as the archive and, with KEY, the statement that ARCHIVE (DIR/www/Plimbo.tar.gz) is
# release VERSION (1.0) for this machine's platform, signed with KEY by scripts/sign-archive.
write_release_answer() {
    local signed="}" platform=CONSOLE_LINUX
    [ "$(uname -s)" != Darwin ] || platform=CONSOLE_OSX
    [ -z "${3:-}" ] ||
        signed=,$("$services_dir/../sign-archive" "$3" "${5:-$1/www/Plimbo.tar.gz}" \
            --version "${4:-1.0}" --platform "$platform")
    printf '{"updateUrl":"%s"%s\n' "$2" "${signed/,\{/,}" >"$1/www/release.json"
}

# start_announcing VAR OUT COMMAND..: starts COMMAND in the background (announced_pid) with its
# standard output in the file OUT and waits for its first line, which it writes once it is ready
# (a port, a display number); that line goes to VAR.
start_announcing() {
    local var=$1 out=$2
    shift 2
    : >"$out"
    "$@" >"$out" 2>"$out.err" &
    announced_pid=$!
    for _ in $(seq 300); do
        [ "$(wc -l <"$out")" -ge 1 ] && { read -r "${var?}" <"$out"; return 0; }
        kill -0 "$announced_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "$1 did not start: $(cat "$out.err")" >&2
    return 1
}

# start_display: an Xvfb display when there is none; sets DISPLAY and xvfb_pid. The server picks a
# free display itself and names it once it takes clients; -noreset keeps it from resetting (and
# refusing clients for a moment) whenever its last client leaves.
start_display() {
    xvfb_pid=""
    [ -n "${DISPLAY:-}" ] && return 0
    local number out
    out=$(mktemp)
    start_announcing number "$out" Xvfb -displayfd 1 -noreset -screen 0 1280x800x24 -nolisten tcp ||
        number=""
    xvfb_pid=$announced_pid
    rm -f "$out" "$out.err"
    [ -n "$number" ] && export DISPLAY=":$number"
}

stop_display() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
}

# screenshot_window NAME FILE: saves the window titled NAME.
screenshot_window() {
    local id
    id=$(xdotool search --name "^$1\$" | head -n 1)
    [ -n "$id" ] && import -window "$id" "$2"
}

# now: the time in seconds with nanoseconds; seconds_since START [DECIMALS]: seconds from START
now() { date +%s.%N; }
seconds_since() { awk -v start="$1" -v end="$(now)" -v places="${2:-3}" 'BEGIN {printf "%.*f\n", places, end - start}'; }
