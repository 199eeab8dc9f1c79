#!/usr/bin/env bash
# Tries the unpacked bash completion as a user's Tab would: commands, options,
# the values of --cpu, --flash-type and vireo-sim's --fault, which options take no
# value or no file name, and the virtual boards' USB locations.
#   completion_check.sh DIR   (DIR holds the scripts, named after their programs)
set -uo pipefail
dir=$(cd "$1" && pwd)
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
failures=0

# complete_words PROGRAM WORD... : what Tab offers for the last WORD.
complete_words() {
  local program=$1
  shift
  # shellcheck disable=SC1090
  source "$dir/$program"
  # Bash splits the words at colons too (COMP_WORDBREAKS): sim:x is sim, :, x.
  COMP_WORDS=("$program")
  local word
  for word in "$@"; do
    while [[ $word == *:* ]]; do
      COMP_WORDS+=("${word%%:*}" ":")
      word=${word#*:}
    done
    COMP_WORDS+=("$word")
  done
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$program $*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  local func
  func=$(complete -p "$program" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
  "$func" "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

expect() {
  local want=$1
  shift
  local got
  got=$(complete_words "$@")
  if [ "$got" != "$want" ]; then
    echo "completion of '$*': got '$got', want '$want'" >&2
    failures=$((failures + 1))
  fi
}

expect "flash" sealbench-cli fl
expect "sekurel-status sign srec station" sealbench-cli s
expect "VireoB VireoC_TO1 VireoC_TO2" sealbench-cli flash --cpu ""
expect "VireoC_TO1 VireoC_TO2" sealbench-cli read 0 --cpu VireoC
expect "nand nor" sealbench-cli flash img.bin --flash-type n
expect "--flash-lib --flash-type" sealbench-cli flash --flash
expect "--progress" sealbench-cli download --pro
expect "--record --reset-sequence" sealbench-cli station img.bin --re
expect "16 32 8" sealbench-cli write-reg 0 0 --width ""
expect "VireoB VireoC_TO1 VireoC_TO2" vireo-sim --cpu ""
expect "status-silent: status-word:" vireo-sim --fault status-
expect "" sealbench-cli flash img.bin --address ""
expect "--block --code --csf-key --help --help-all --key --super-root --type --uid" sealbench-cli csf x --
# --usb is a flag: the next word is an option or the image again.
expect "--cpu" sealbench-cli flash --usb --cp
# Hexadecimal values are not file names; a signed CSF is one.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/signed.bin"
expect "" sealbench-cli srec in.bin out.s19 --begin ""
expect "" sealbench-cli srec in.bin out.s19 --end ""
cd "$scratch" || exit 1
expect "signed.bin" sealbench-cli combine out.img --csf ""
cd - >/dev/null || exit 1
if [ -e "$dir/sealbench" ]; then
  expect "VireoB VireoC_TO1 VireoC_TO2" sealbench --simulate ""
fi
# Ports come from the program's own list when it is on PATH.
if command -v sealbench-cli >/dev/null && sealbench-cli ports >/dev/null 2>&1; then
  expect "$(sealbench-cli ports | awk '$2 == "--port" {print $1}' | sort | tr '\n' ' ' | sed 's/ $//')" \
    sealbench-cli flash --port ""
  expect "$(sealbench-cli ports | awk '{print $1}' | sort | tr '\n' ' ' | sed 's/ $//')" \
    sealbench-cli station img.bin --slot ""
fi
# A virtual board's USB device is offered by its location, sim:NAME; readline puts
# back what follows the colon. No file names, also when no board is there.
expect "" sealbench-cli flash --usb-device sim:
if command -v sealbench-cli >/dev/null && command -v vireo-sim >/dev/null; then
  vireo-sim --cpu VireoC_TO2 --usb-socket "$scratch/bench7.sock" >/dev/null 2>&1 &
  sim=$!
  for _ in $(seq 100); do
    [ -S "$scratch/bench7.sock" ] && break
    sleep 0.1
  done
  export BOOTWIRE_USB_SIM=$scratch
  expect "bench7" sealbench-cli flash --usb-device sim:
  expect "sim:bench7" sealbench-cli download img.bin --usb-device ""
  unset BOOTWIRE_USB_SIM
  kill "$sim"
  wait "$sim" 2>/dev/null
fi
exit $((failures > 0))
