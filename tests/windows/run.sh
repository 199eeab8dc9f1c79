#!/usr/bin/env bash
# Runs the Windows build under Wine, in a Wine prefix of its own made for this run:
#   1. the Windows package, unpacked into the fresh prefix: --version (or --help)
#      and a flash against the virtual board;
#   2. the Windows-built unit tests (protocol, USB records, serial settings, file tools);
#   3. sealbench-cli.exe against vireo-sim (a Linux process) over a pty linked as a
#      COM port of the prefix, and over the board's USB on loopback TCP: NOR flash
#      and download checked against the board's flash and memory, through ser2net
#      (rfc2217:// and socket://), the port listing and two boards at once, a
#      silent board and a board that goes away, a missing port;
#   4. the signing run with a stand-in sekurel_build.exe that records its arguments;
#   5. the file tools' atomic writes: failures leave no file and no temporary (a
#      failed replace is tested in files_core_tests, which can hold a file open);
#   6. the window (sealbench.exe's Win32 code) driven through its controls on an
#      Xvfb display: a FLASHING run to a board linked as COM18 (its flash compared
#      with the image), closing during a run on a paced board;
#   7. the installer: msiexec /i into a prefix of its own, the installed programs
#      against the virtual board (a flash; the window shown), msiexec /x removing
#      every file it installed.
#
# Usage: tests/windows/run.sh [WINDOWS_BUILD [LINUX_BUILD]]   (default out/windows, out/default)
# Needs the windows preset built, vireo-sim in LINUX_BUILD and scripts/package-windows.sh's zip
# (made here when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win=$(cd "${1:-$root/out/windows}" && pwd)
linux=$(cd "${2:-$root/out/default}" && pwd)
sim="$linux/bin/vireo-sim"
[ -x "$sim" ] || { echo "no vireo-sim in $linux/bin (build the default preset first)"; exit 1; }
[ -f "$win/bin/sealbench-cli.exe" ] || { echo "no sealbench-cli.exe in $win/bin (build the windows preset)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sealbench-wine-XXXXXX")
# No Mono or Gecko to offer, and no menu entries written into $HOME.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
sims=()
cleanup() {
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
    wineserver -k 2>/dev/null || true # this prefix's server only
    WINEPREFIX="$work/msi-prefix" wineserver -k 2>/dev/null || true
    [ -n "${KEEP_WINE_WORK:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

failures=0
pass() { echo "  ok    $1"; }
fail() {
    echo "  FAIL  $1"
    failures=$((failures + 1))
}
check() { # check NAME COMMAND...: passes when the command succeeds
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}
contains() { grep -qF -- "$2" "$1"; }
# The last status-log line; the run's closing figures ("Flashed ...", "Downloaded ...")
# come after it on standard error.
last_line_is() { [ "$(grep -vE '^(Flashed|Downloaded) [0-9]' "$1" | tail -n1 | tr -d '\r')" = "$2" ]; }

start=$(date +%s)
step() { echo "[$(($(date +%s) - start))s] $*"; }

# Wine needs an X server to make windows, from the prefix's first program on (its
# desktop is made then); Xvfb picks a free display and names it.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break || sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

step "creating the Wine prefix"
# One server for the whole run: a server that ended between two programs would be
# started again, and its start-up takes seconds and renews the prefix's COM links.
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
wineboot -i >/dev/null 2>&1
mkdir -p "$work/data"

# ---- the virtual board ------------------------------------------------------
# start_sim NAME ARGS...: starts vireo-sim, links its pty as COM17 (two digits:
# only "\\.\COMn" reaches those) and sets SIM_PID, SIM_USB.
com=17
start_sim() {
    local name=$1
    shift
    "$sim" "$@" >"$work/$name.out" 2>"$work/$name.err" &
    SIM_PID=$!
    sims+=("$SIM_PID")
    local tries=0
    until grep -q '^serial: ' "$work/$name.out" 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -gt 200 ] || ! kill -0 "$SIM_PID" 2>/dev/null; then
            echo "vireo-sim did not start:"
            cat "$work/$name.err"
            exit 1
        fi
        sleep 0.1
    done
    ln -sfn "$(sed -n 's/^serial: //p' "$work/$name.out")" "$WINEPREFIX/dosdevices/com$com"
    SIM_USB=""
    if [[ " $* " == *" --usb-tcp "* ]]; then
        until grep -q '^usb: ' "$work/$name.out"; do sleep 0.1; done
        SIM_USB=$(sed -n 's/^usb: //p' "$work/$name.out")
    fi
}
stop_sim() { # ends the board (writing --dump-flash) and waits for it
    kill -TERM "$SIM_PID"
    wait "$SIM_PID" || true
}

image() { # image PATH SIZE: random bytes
    head -c "$2" /dev/urandom >"$1"
}
same_start() { # same_start IMAGE DUMP: the dump begins with the image
    cmp -s -n "$(stat -c %s "$1")" "$1" "$2"
}
word_at() { # the little-endian word at byte OFFSET of FILE, as the CLI prints it
    od -An -tx4 -j "$2" -N4 "$1" | tr -d ' \n'
}

# ---- 1. the package in the fresh prefix ---------------------------------------
step "package"
zip=$(ls "$win"/package/sealbench-*-windows-x64.zip 2>/dev/null | head -n1 || true)
msi=$(ls "$win"/package/sealbench-*-windows-x64.msi 2>/dev/null | head -n1 || true)
if [ -z "$zip" ] || [ -z "$msi" ]; then
    "$root/scripts/package-windows.sh" "$win" >/dev/null
    zip=$(ls "$win"/package/sealbench-*-windows-x64.zip | head -n1)
    msi=$(ls "$win"/package/sealbench-*-windows-x64.msi | head -n1)
fi
unpacked="$WINEPREFIX/drive_c/Sealbench"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
packaged_cli=$(find "$unpacked" -name sealbench-cli.exe | head -n1)
if wine "$packaged_cli" --version >"$work/version.out" 2>&1; then
    check "packaged sealbench-cli --version" grep -q 'sealbench-cli' "$work/version.out"
else
    check "packaged sealbench-cli --help (no --version yet)" bash -c "wine '$packaged_cli' --help >'$work/help.out'"
fi
image "$work/data/pkg.bin" 20000
start_sim pkg --cpu VireoC_TO2 --flashlib model --dump-flash "$work/pkg.flash"
wine "$packaged_cli" flash 'Z:'"$work/data/pkg.bin" --port $com --cpu VireoC_TO2 >"$work/pkg.cli" 2>&1 &&
    last_line_is "$work/pkg.cli" "Flashing Completed" && stop_sim && same_start "$work/data/pkg.bin" "$work/pkg.flash" &&
    pass "packaged sealbench-cli flashes the virtual board" || {
    fail "packaged sealbench-cli flashes the virtual board"
    cat "$work/pkg.cli"
}

# ---- 2. unit tests --------------------------------------------------------------
step "unit tests"
# The serial suite also works a real port: the board's pty as COM$com.
start_sim unit --cpu VireoC_TO2
for t in bootlink_tests bootlink_usb_records_tests bootlink_win32_tests common_tests files_core_tests; do
    if SEALBENCH_TEST_COM=$com wine "$win/bin/$t.exe" --gtest_brief=1 >"$work/$t.log" 2>&1 &&
        ! grep -q 'SKIPPED' "$work/$t.log"; then
        pass "$t ($(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$work/$t.log" | head -n1))"
    else
        fail "$t"
        cat "$work/$t.log"
    fi
done
stop_sim

# ---- 3. against the virtual board ---------------------------------------------
cli="$win/bin/sealbench-cli.exe"
step "NOR flash over COM$com"
image "$work/data/nor.bin" 150000
start_sim nor --cpu VireoC_TO2 --dump-flash "$work/nor.flash"
if wine "$cli" flash "Z:$work/data/nor.bin" --port $com --cpu VireoC_TO2 >"$work/nor.cli" 2>&1 &&
    last_line_is "$work/nor.cli" "Flashing Completed" && contains "$work/nor.cli" "UART is using"; then
    stop_sim
    check "flash over COM$com: the board's NOR holds the image" same_start "$work/data/nor.bin" "$work/nor.flash"
else
    fail "flash over COM$com"
    cat "$work/nor.cli" "$work/nor.err"
    stop_sim
fi

step "download over COM$com"
image "$work/data/ram.bin" 70000
start_sim ram --cpu VireoC_TO2
if wine "$cli" download "Z:$work/data/ram.bin" --port $com --cpu VireoC_TO2 >"$work/ram.cli" 2>&1 &&
    last_line_is "$work/ram.cli" "Downloading Complete - Program executing at 0x80004000"; then
    pass "download over COM$com"
    kill -USR1 "$SIM_PID" # the application holds the board until a reset
    grep -q 'board reset' <(timeout 10 tail -f "$work/ram.err") || true
    if wine "$cli" --help 2>/dev/null | grep -qE '^ +dump '; then
        wine "$cli" dump 80004000 "$(printf %X 70000)" -o "Z:$work/ram.back" --port $com --cpu VireoC_TO2 \
            >"$work/dump.cli" 2>&1 || true
        check "download: the board's memory holds the image" cmp -s "$work/data/ram.bin" "$work/ram.back"
    else
        ok=1
        for offset in 0 1020 1024 40000 69996; do
            address=$(printf %08x $((0x80004000 + offset)))
            want="Register/Memory 0x$address : 0x$(word_at "$work/data/ram.bin" $offset)"
            got=$(wine "$cli" read "$address" --port $com --cpu VireoC_TO2 2>&1 | tr -d '\r' | tail -n1 || true)
            [ "$got" = "$want" ] || {
                ok=0
                echo "    read $address: '$got', expected '$want'"
            }
        done
        check "download: the board's memory holds the image (words read back)" [ $ok = 1 ]
    fi
else
    fail "download over COM$com"
    cat "$work/ram.cli"
fi
stop_sim

step "NOR flash over USB (loopback TCP)"
start_sim usb --cpu VireoC_TO2 --usb-tcp 0 --dump-flash "$work/usb.flash"
if BOOTWIRE_USB_SIM="$SIM_USB" wine "$cli" flash "Z:$work/data/nor.bin" --usb --cpu VireoC_TO2 \
    >"$work/usb.cli" 2>&1 && last_line_is "$work/usb.cli" "Flashing Completed" && contains "$work/usb.cli" "USB is using"; then
    stop_sim
    check "flash over USB: the board's NOR holds the image" same_start "$work/data/nor.bin" "$work/usb.flash"
else
    fail "flash over USB"
    cat "$work/usb.cli"
    stop_sim
fi

listening_port() { # the TCP port process $1 listens on, once it does
    local inode hex
    for inode in $(find "/proc/$1/fd" -lname 'socket:*' -printf '%l\n' 2>/dev/null | tr -dc '0-9\n'); do
        hex=$(awk -v i="$inode" '$4 == "0A" && $10 == i { split($2, a, ":"); print a[2] }' "/proc/$1/net/tcp")
        [ -n "$hex" ] && echo $((16#$hex)) && return 0
    done
    return 1
}
# start_ser2net ACCEPTER: serves the board's pty on an ephemeral loopback port,
# which it puts in NET_PORT (empty when ser2net did not listen within 10 s).
start_ser2net() {
    printf 'connection: &board\n  accepter: %s,127.0.0.1,0\n  connector: serialdev,%s,115200n81,local\n' \
        "$1" "$(readlink "$WINEPREFIX/dosdevices/com$com")" >"$work/ser2net.yaml"
    "$ser2net" -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
    SER2NET_PID=$!
    sims+=("$SER2NET_PID")
    NET_PORT=""
    for _ in $(seq 100); do
        NET_PORT=$(listening_port $SER2NET_PID) && break
        sleep 0.1
    done
}
ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
if [ -x "$ser2net" ]; then
    step "NOR flash through ser2net (rfc2217://)"
    start_sim net --cpu VireoC_TO2 --dump-flash "$work/net.flash"
    start_ser2net 'telnet(rfc2217),tcp'
    if wine "$cli" flash "Z:$work/data/nor.bin" --port "rfc2217://127.0.0.1:$NET_PORT" --cpu VireoC_TO2 \
        >"$work/net.cli" 2>&1 && last_line_is "$work/net.cli" "Flashing Completed"; then
        stop_sim
        check "flash through ser2net: the board's NOR holds the image" same_start "$work/data/nor.bin" "$work/net.flash"
    else
        fail "flash through ser2net (port ${NET_PORT:-none})"
        cat "$work/net.cli" "$work/ser2net.log"
        stop_sim
    fi
    kill "$SER2NET_PID" 2>/dev/null || true

    step "download through ser2net (socket://)"
    image "$work/data/raw.bin" 30000
    start_sim raw --cpu VireoC_TO2
    start_ser2net 'tcp'
    if wine "$cli" download "Z:$work/data/raw.bin" --port "socket://127.0.0.1:$NET_PORT" --cpu VireoC_TO2 \
        >"$work/raw.cli" 2>&1 && last_line_is "$work/raw.cli" "Downloading Complete - Program executing at 0x80004000"
    then
        pass "download through a raw TCP port"
    else
        fail "download through a raw TCP port (port ${NET_PORT:-none})"
        cat "$work/raw.cli" "$work/ser2net.log"
    fi
    stop_sim
    kill "$SER2NET_PID" 2>/dev/null || true
else
    fail "network ports: ser2net is not installed (scripts/install-deps.sh installs it)"
fi

step "ports, and two boards at once (COM$com and USB)"
start_sim two-usb --cpu VireoC_TO2 --usb-tcp 0 --dump-flash "$work/two-usb.flash"
usb_pid=$SIM_PID
usb_addr=$SIM_USB
start_sim two-com --cpu VireoC_TO2 --dump-flash "$work/two-com.flash"
# Wine names in the registry's port map only the ports its mount manager found; the
# board's COM$com goes in as a serial driver would put it.
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial17' /t REG_SZ /d "COM$com" /f >/dev/null 2>&1
location="sim:${usb_addr#tcp:}"
status=0
BOOTWIRE_USB_SIM="$usb_addr" timeout 60 wine "$cli" ports >"$work/ports.out" 2>&1 || status=$?
tr -d '\r' <"$work/ports.out" >"$work/ports.txt"
if [ $status = 0 ] && grep -qE "^COM$com +--port" "$work/ports.txt" && grep -qE "^$location +--usb-device" "$work/ports.txt"
then
    pass "ports lists COM$com and the USB board"
else
    fail "ports lists COM$com and the USB board (exit $status)"
    cat "$work/ports.txt"
fi
status=0
BOOTWIRE_USB_SIM="$usb_addr" timeout 120 wine "$cli" flash "Z:$work/data/nor.bin" --cpu VireoC_TO2 --port $com \
    --usb-device "$location" --progress plain >"$work/two.cli" 2>&1 || status=$?
tr -d '\r' <"$work/two.cli" >"$work/two.txt"
stop_sim
kill -TERM "$usb_pid"
wait "$usb_pid" || true
if [ $status = 0 ] && grep -q "^$com: OK" "$work/two.txt" && grep -q "^usb:$location: OK" "$work/two.txt"; then
    check "two boards at once: both NORs hold the image" bash -c \
        "cmp -s -n $(stat -c %s "$work/data/nor.bin") '$work/data/nor.bin' '$work/two-com.flash' &&
         cmp -s -n $(stat -c %s "$work/data/nor.bin") '$work/data/nor.bin' '$work/two-usb.flash'"
else
    fail "two boards at once (exit $status)"
    cat "$work/two.txt"
fi

step "a silent board"
image "$work/data/big.bin" 262144
start_sim silent --cpu VireoC_TO2 --fault silent-after:30000
t0=$(date +%s)
status=0
timeout 120 wine "$cli" download "Z:$work/data/big.bin" --port $com --cpu VireoC_TO2 --mem-init none \
    >"$work/silent.cli" 2>&1 || status=$?
took=$(($(date +%s) - t0))
check "a silent board ends the download with exit 1 in ${took}s" \
    bash -c "[ $status = 1 ] && [ $took -lt 60 ] && grep -q '^Error!!- Reason: Downloading Error' '$work/silent.cli'"
stop_sim

step "a board that goes away"
start_sim gone --cpu VireoC_TO2 --pace
wine "$cli" download "Z:$work/data/big.bin" --port $com --cpu VireoC_TO2 --mem-init none --progress plain \
    >"$work/gone.cli" 2>&1 &
cli_pid=$!
# Pulled only once the download is under way.
for _ in $(seq 300); do grep -q 'Downloading: 10%' "$work/gone.cli" && break || sleep 0.1; done
kill -KILL "$SIM_PID"
wait "$SIM_PID" 2>/dev/null || true
t0=$(date +%s)
status=0
wait $cli_pid || status=$?
took=$(($(date +%s) - t0))
check "a board that goes away mid-download ends the run with exit 1 (${took}s after)" \
    bash -c "[ $status = 1 ] && [ $took -lt 30 ] && grep -q 'Downloading: 10%' '$work/gone.cli' &&
        grep -q 'Error!!- Reason: Downloading Error' '$work/gone.cli'"

status=0
wine "$cli" download "Z:$work/data/ram.bin" --port 42 --cpu VireoB >"$work/noport.cli" 2>&1 || status=$?
check "a port that does not exist: 'Cannot Open 42', exit 1" \
    bash -c "[ $status = 1 ] && grep -q 'Cannot Open 42' '$work/noport.cli'"

# ---- 4. signing -------------------------------------------------------------------
step "signing"
mkdir -p "$work/tools"
cp "$win/bin/stand-in/sekurel_build.exe" "$work/tools/"
export WINEPATH
WINEPATH=$(winepath -w "$work/tools")
args_file=$(winepath -w "$work/args.bin")
identifier='id with "quotes" & | ^ %PATH% trailing\'
csf='C:\my dir\app 1.csf'
out='out dir\'
SEKUREL_STAND_IN_ARGS="$args_file" wine "$cli" sign "$csf" "$out" --identifier "$identifier" >"$work/sign.cli" 2>&1 ||
    true
printf '%s\0' "--identifier=$identifier" "--fmt=BIN" "--output=CSF_APPL" "$csf" "$out" >"$work/args.expected"
check "signing: every argument arrives whole" cmp -s "$work/args.expected" "$work/args.bin"
status=0
SEKUREL_STAND_IN_EXIT=4 wine "$cli" sign a.csf b.bin --identifier X >"$work/sign4.cli" 2>&1 || status=$?
check "signing: the tool's exit status 4 is reported, exit 1" \
    bash -c "[ $status = 1 ] && grep -q 'exit status 4' '$work/sign4.cli'"

# ---- 5. atomic writes -------------------------------------------------------------
step "atomic writes"
files="$work/files"
mkdir -p "$files"
image "$files/in.bin" 5000
listing() { ls -A "$files" | tr '\n' ' '; }
before=$(listing)
status=0
wine "$cli" srec "Z:$files/in.bin" "Z:$files/no/such/folder/out.s19" >/dev/null 2>&1 || status=$?
check "srec into a missing folder: exit 1, nothing created" bash -c "[ $status = 1 ] && [ '$(listing)' = '$before' ]"
status=0
wine "$cli" combine "Z:$files/out.img" --os "Z:$files/in.bin" --csf "Z:$files/missing.csf" --hwc "Z:$files/in.bin" \
    >/dev/null 2>&1 || status=$?
check "combine with a missing input: exit 1, nothing created" bash -c "[ $status = 1 ] && [ '$(listing)' = '$before' ]"
status=0
wine "$cli" srec "Z:$files/in.bin" "Z:$files/ok.s19" >/dev/null 2>&1 || status=$?
check "srec succeeds and leaves only its output" bash -c "[ $status = 0 ] && [ '$(listing)' = 'in.bin ok.s19 ' ]"

# A path that starts with "/" is a value, not a Windows-style option (Wine takes it
# as a path on its Z: drive).
status=0
wine "$cli" srec "$files/in.bin" "$files/slash.s19" >"$work/slash.cli" 2>&1 || status=$?
check "srec takes paths that start with /" bash -c "[ $status = 0 ] && [ -s '$files/slash.s19' ]"
rm -f "$files/slash.s19"

unicode="$work/unicode"
mkdir -p "$unicode"
cp "$files/in.bin" "$unicode/Über in.bin"
status=0
wine "$cli" srec "Z:$unicode/Über in.bin" "Z:$unicode/Ölfeld ✓.s19" >/dev/null 2>&1 || status=$?
check "file names outside the ANSI code page arrive whole" bash -c "[ $status = 0 ] && [ -s '$unicode/Ölfeld ✓.s19' ]"

# ---- 6. the window -----------------------------------------------------------
step "the window"
if [ -f "$win/bin/sealbench_window_tests.exe" ]; then
    image "$work/data/window.bin" 100000
    com=18
    start_sim window --cpu VireoC_TO2 --dump-flash "$work/window.flash"
    window_pid=$SIM_PID
    com=19
    start_sim paced --cpu VireoC_TO2 --pace
    paced_pid=$SIM_PID
    com=20
    start_sim ranges --cpu VireoC_TO2
    for n in 18 19 20; do
        wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\Serial$n" /t REG_SZ /d "COM$n" /f \
            >/dev/null 2>&1
    done
    status=0
    SEALBENCH_TEST_COM=18 SEALBENCH_TEST_PACED_COM=19 SEALBENCH_TEST_RANGES_COM=20 SEALBENCH_TEST_IMAGE="Z:$work/data/window.bin" \
        timeout 300 wine "$win/bin/sealbench_window_tests.exe" --gtest_brief=1 >"$work/window.log" 2>&1 || status=$?
    if [ $status = 0 ] && ! grep -q 'SKIPPED' "$work/window.log"; then
        pass "the window ($(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$work/window.log" | head -n1))"
    else
        fail "the window (exit $status)"
        cat "$work/window.log"
    fi
    stop_sim
    SIM_PID=$paced_pid
    stop_sim
    SIM_PID=$window_pid
    stop_sim
    check "the window's FLASHING run: the board's NOR holds the image" same_start "$work/data/window.bin" "$work/window.flash"
else
    fail "the window: no sealbench_window_tests.exe in $win/bin"
fi

# ---- 7. the installer ----------------------------------------------------------
step "the installer"
(
    export WINEPREFIX="$work/msi-prefix"
    mkdir -p "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1
    wineboot -i >/dev/null 2>&1
    # Wine writes its own system folder as it goes (caches, .pnf files); the package puts nothing there.
    files_of() { find "$WINEPREFIX/drive_c" -type f ! -path '*/drive_c/windows/*' | sort; }
    files_of >"$work/msi.before"
    failed=0
    status=0
    wine msiexec /i "$(winepath -w "$msi")" /qn >"$work/msi.install" 2>&1 || status=$?
    program="$WINEPREFIX/drive_c/Program Files/Sealbench"
    if [ $status = 0 ] && [ -f "$program/sealbench.exe" ] && [ -f "$program/sealbench-cli.exe" ] &&
        [ -f "$program/libbootwire.dll" ] && [ -f "$program/include/bootwire/bootwire.h" ] &&
        [ -f "$program/lib/libbootwire.dll.a" ] && [ -f "$program/sealbench-winusb.inf" ] &&
        [ -f "$program/README.txt" ] && [ -f "$program/LICENSE.txt" ] &&
        find "$WINEPREFIX/drive_c" -name Sealbench.lnk | grep -q 'Start Menu'; then
        echo "  ok    msiexec /i installs the programs, the texts, the INF and the Start menu entry"
    else
        echo "  FAIL  msiexec /i (exit $status)"
        cat "$work/msi.install"
        failed=1
    fi
    image "$work/data/msi.bin" 40000
    com=20
    start_sim msi --cpu VireoC_TO2 --dump-flash "$work/msi.flash"
    if wine "$program/sealbench-cli.exe" flash "Z:$work/data/msi.bin" --port $com --cpu VireoC_TO2 \
        >"$work/msi.cli" 2>&1 && last_line_is "$work/msi.cli" "Flashing Completed" && stop_sim &&
        same_start "$work/data/msi.bin" "$work/msi.flash"; then
        echo "  ok    the installed sealbench-cli flashes the virtual board"
    else
        echo "  FAIL  the installed sealbench-cli flashes the virtual board"
        cat "$work/msi.cli"
        failed=1
    fi
    wine "$program/sealbench.exe" >"$work/msi.window" 2>&1 &
    window=$!
    shown=0
    for _ in $(seq 300); do
        xwininfo -root -tree 2>/dev/null | grep -q '"Sealbench"' && shown=1 && break
        sleep 0.1
    done
    kill "$window" 2>/dev/null || true
    wait "$window" 2>/dev/null || true
    if [ $shown = 1 ]; then
        echo "  ok    the installed sealbench.exe shows its window"
    else
        echo "  FAIL  the installed sealbench.exe shows its window"
        failed=1
    fi
    status=0
    wine msiexec /x "$(winepath -w "$msi")" /qn >"$work/msi.remove" 2>&1 || status=$?
    files_of >"$work/msi.after"
    if [ $status = 0 ] && cmp -s "$work/msi.before" "$work/msi.after" && [ ! -e "$program" ]; then
        echo "  ok    msiexec /x removes every file it installed"
    else
        echo "  FAIL  msiexec /x (exit $status) left:"
        diff "$work/msi.before" "$work/msi.after" || true
        failed=1
    fi
    kill "$SIM_PID" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    exit $failed
) || failures=$((failures + 1))

step "done: $failures failure(s)"
[ $failures -eq 0 ]
