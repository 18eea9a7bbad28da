#!/usr/bin/env bash
# The test environment: Debian packages, a private Wine prefix with a persistent wineserver,
# Xvfb, and a PulseAudio null sink whose monitor is the default capture (an audio loopback).
#
#   tools/testenv.sh install          install the Debian packages (root)
#   tools/testenv.sh start ENV_DIR    start Xvfb, PulseAudio (kept awake) and wineserver; create the prefix
#   tools/testenv.sh stop ENV_DIR     stop what start started, by process id
#   tools/testenv.sh vars ENV_DIR     print the environment for processes run inside it
#   tools/testenv.sh local-updates ENV_DIR
#                                     point the driver's update check at a loopback port where
#                                     nothing listens (tests delete the driver's keys, so every
#                                     script that loads the real driver calls this first)
#   tools/testenv.sh add-sink ENV_DIR NAME
#   tools/testenv.sh remove-sink ENV_DIR NAME
#                                     add or remove a sound device of the environment's own: a
#                                     null sink NAME (also its description), whose monitor Wine
#                                     lists as a capture endpoint of the same name
#   tools/testenv.sh runnable FILE    exit 0 when this machine can run the Windows program FILE
#                                     under Wine; 77 (ctest's skip) for a 32-bit one on a machine
#                                     whose kernel runs no 32-bit programs
set -euo pipefail

# wine32 runs the 32-bit programs in the same prefix; its PulseAudio driver needs libpulse0:i386.
PACKAGES=(cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix
          binutils-mingw-w64-i686 googletest wine wine64 wine32:i386 libpulse0:i386 xvfb pulseaudio
          pulseaudio-utils x11-apps imagemagick nsis)
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64

vars() {
    local env_dir=$1
    cat <<VARS
export WINEPREFIX='$env_dir/prefix'
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
export DISPLAY=':$(cat "$env_dir/display" 2>/dev/null || echo 99)'
export XDG_RUNTIME_DIR='$env_dir/run'
export PULSE_SERVER='unix:$env_dir/run/pulse/native'
export PULSE_RUNTIME_PATH='$env_dir/run/pulse'
VARS
}

install_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "testenv: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update -q >/dev/null
    apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}

alive() { [ -f "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }

start_xvfb() {
    local env_dir=$1
    alive "$env_dir/xvfb.pid" && return 0
    local display=99
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$env_dir/xvfb.log" 2>&1 &
    echo $! >"$env_dir/xvfb.pid"
    echo "$display" >"$env_dir/display"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && return 0; sleep 0.1; done
    echo "testenv: Xvfb did not start" >&2; return 1
}

start_pulse() {
    local env_dir=$1
    alive "$env_dir/pulse.pid" && return 0
    mkdir -p "$env_dir/run/pulse"
    chmod 700 "$env_dir/run"
    pulseaudio --daemonize=no -n --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
        --load="module-native-protocol-unix socket=$env_dir/run/pulse/native auth-anonymous=1" \
        --load="module-null-sink sink_name=veloran_loop rate=48000 sink_properties=device.description=VeloranLoop" \
        </dev/null >"$env_dir/pulse.log" 2>&1 &
    echo $! >"$env_dir/pulse.pid"
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl set-default-sink veloran_loop
    pactl set-default-source veloran_loop.monitor
}

# A null sink sleeps in 2-second blocks while nobody plays to it, which holds back a new
# capture's first packet, and otherwise runs at the pace of its clients' latencies, so that its
# monitor's packets come irregularly; a silent low-latency client keeps it running every 10 ms,
# as a sound card's clock does. Its process id goes to keepalive[-SINK].pid.
start_keepalive() {
    local env_dir=$1 sink=${2:-veloran_loop} pid_file=$env_dir/keepalive${2:+-$2}.pid
    alive "$pid_file" && return 0
    pacat --playback --device="$sink" --latency-msec=10 --raw --format=s16le --rate=48000 \
        --channels=2 --client-name="veloran-keepalive${2:+-$2}" /dev/zero </dev/null >"${pid_file%.pid}.log" 2>&1 &
    echo $! >"$pid_file"
}

# Windows endpoints carry their device interface path in the property store, behind a "{2}."
# prefix; Wine's do not, so the default endpoints of winepulse get one, as Windows stores it.
add_endpoint_paths() {
    local base='HKLM\Software\Microsoft\Windows\CurrentVersion\MMDevices\Audio'
    local key='{b3f8fa53-0004-438e-9003-51a46e139bfc},2'
    local iface='{e6327cad-dcec-4949-ae8a-991e976a79d2}'
    local render='{fd47d9cc-4218-4135-9ce2-0c195c87405b}' capture='{25da76d0-033c-4235-9002-19f48894ac6f}'
    "$WINE" reg add "$base\\Render\\$render\\Properties" /v "$key" /t REG_SZ \
        /d "{2}.\\\\?\\SWD#MMDEVAPI#{0.0.0.00000000}.$render#$iface" /f </dev/null >/dev/null 2>&1
    "$WINE" reg add "$base\\Capture\\$capture\\Properties" /v "$key" /t REG_SZ \
        /d "{2}.\\\\?\\SWD#MMDEVAPI#{0.0.1.00000000}.$capture#$iface" /f </dev/null >/dev/null 2>&1
}

# Wine's 32-bit loader runs only where the kernel runs 32-bit programs (some virtual machines' do not).
runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

# The machine field of a PE file's header: 014c for x86, 8664 for x64.
pe_machine() {
    local offset
    offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}

runnable() {
    [ "$(pe_machine "$1")" != 014c ] || runs_32bit && return 0
    echo "skipped: $(basename "$1") is 32-bit and this machine's kernel runs no 32-bit programs" >&2
    return 77
}

make_prefix() {
    local env_dir=$1
    # A prefix made before wine32 was installed has no 32-bit system and is made again.
    [ -f "$env_dir/prefix/.veloran-ready" ] &&
        { ! runs_32bit || [ -f "$env_dir/prefix/drive_c/windows/syswow64/kernel32.dll" ]; } && return 0
    rm -rf "$env_dir/prefix"
    "$WINE" wineboot -i </dev/null >"$env_dir/wineboot.log" 2>&1
    "$WINESERVER" -w
    # Without a window manager Wine waits on every hidden window unless it manages none.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    # A crashing test exits at once instead of waiting in the debugger.
    "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
        </dev/null >/dev/null 2>&1
    "$WINESERVER" -w
    add_endpoint_paths
    touch "$env_dir/prefix/.veloran-ready"
}

# Nothing in the test environment may look a name up or send a request off this machine.
local_updates() {
    eval "$(vars "$(cd "$1" && pwd)")"
    "$WINE" reg add 'HKLM\Software\ASIO\Asio 2.0 Veloran Driver\Default Parameters' /v UpdateServer \
        /t REG_SZ /d 127.0.0.1:9 /f </dev/null >/dev/null 2>&1
}

# Wine sees a sink added while its prefix runs within a second or two (winepulse lists PulseAudio's
# devices anew whenever a program enumerates the endpoints).
add_sink() {
    local env_dir
    env_dir=$(cd "$1" && pwd)
    eval "$(vars "$env_dir")"
    if ! pactl list short sinks | cut -f2 | grep -qx "$2"; then
        pactl load-module module-null-sink sink_name="$2" rate=48000 sink_properties=device.description="$2" >/dev/null
    fi
    start_keepalive "$env_dir" "$2"
}

# Streams playing to the sink or recording its monitor lose their device, as on Windows when a
# device goes; PulseAudio would move them to another sink, so they are ended first.
remove_sink() {
    local env_dir module index sink_index monitor_index
    env_dir=$(cd "$1" && pwd)
    eval "$(vars "$env_dir")"
    if alive "$env_dir/keepalive-$2.pid"; then kill "$(cat "$env_dir/keepalive-$2.pid")" 2>/dev/null || true; fi
    rm -f "$env_dir/keepalive-$2.pid"
    sink_index=$(pactl list short sinks | awk -v name="$2" '$2 == name { print $1 }')
    monitor_index=$(pactl list short sources | awk -v name="$2.monitor" '$2 == name { print $1 }')
    for index in $(pactl list short sink-inputs | awk -v sink="$sink_index" '$2 == sink { print $1 }'); do
        pactl kill-sink-input "$index" 2>/dev/null || true
    done
    for index in $(pactl list short source-outputs | awk -v source="$monitor_index" '$2 == source { print $1 }'); do
        pactl kill-source-output "$index" 2>/dev/null || true
    done
    for module in $(pactl list short modules | awk -v arg="sink_name=$2" '$2 == "module-null-sink" && index($0, arg " ") { print $1 }'); do
        pactl unload-module "$module"
    done
}

start() {
    local env_dir
    env_dir=$(mkdir -p "$1" && cd "$1" && pwd)
    start_xvfb "$env_dir"
    eval "$(vars "$env_dir")"
    start_pulse "$env_dir"
    start_keepalive "$env_dir"
    make_prefix "$env_dir"
    if ! alive "$env_dir/wineserver.pid"; then
        "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
        echo $! >"$env_dir/wineserver.pid"
        # The first process starts Wine's services; they must not inherit a test runner's pipes.
        "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
    fi
    local_updates "$env_dir"
}

stop() {
    local env_dir=$1
    [ -d "$env_dir" ] || return 0
    eval "$(vars "$(cd "$env_dir" && pwd)")"
    [ -d "$WINEPREFIX" ] && "$WINESERVER" -k >/dev/null 2>&1 || true
    local pid_file
    for pid_file in "$env_dir"/wineserver.pid "$env_dir"/keepalive*.pid "$env_dir"/pulse.pid "$env_dir"/xvfb.pid; do
        if alive "$pid_file"; then kill "$(cat "$pid_file")" 2>/dev/null || true; fi
        rm -f "$pid_file"
    done
}

case "${1:-}" in
    install) install_packages ;;
    start) start "${2:?ENV_DIR}" ;;
    stop) stop "${2:?ENV_DIR}" ;;
    vars) vars "$(cd "${2:?ENV_DIR}" && pwd)" ;;
    local-updates) local_updates "${2:?ENV_DIR}" ;;
    add-sink) add_sink "${2:?ENV_DIR}" "${3:?NAME}" ;;
    remove-sink) remove_sink "${2:?ENV_DIR}" "${3:?NAME}" ;;
    runnable) runnable "${2:?FILE}" ;;
    *) echo "usage: $0 install | start ENV_DIR | stop ENV_DIR | vars ENV_DIR | local-updates ENV_DIR |" \
            "add-sink ENV_DIR NAME | remove-sink ENV_DIR NAME | runnable FILE" >&2; exit 2 ;;
esac
