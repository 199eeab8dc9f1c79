"""Writes a bash completion script from a program's parsed help: its commands, each
command's options, and the values of the options that list them."""

import re

PORT_OPTIONS = {"--port", "-p", "--usb-device", "--slot"}
CPU_OPTIONS = {"--cpu", "-c", "--simulate"}


def quote(words):
    return "'" + " ".join(words).replace("'", "'\\''") + "'"


def fault_names(help_):
    """Fault names (the text before the first colon) listed anywhere in a Faults text."""
    names = []
    for block in help_.blocks:
        texts = [e.term for e in block.entries] + [line for _, line in block.lines]
        for text in texts:
            for name in re.findall(r"(?<![\w-])([a-z]+(?:-[a-z]+)+):", text):
                if name not in names:
                    names.append(name)
    return names


def value_kind(option, cpus, faults, has_ports):
    """What the word after the option completes to, as a case arm's body."""
    names = set(option.names)
    if not option.value:
        return None
    if names & PORT_OPTIONS:
        return "_sealbench_ports" + (' sealbench-cli "$prev"' if has_ports else ' "" "$prev"')
    if names & CPU_OPTIONS:
        return f"COMPREPLY=($(compgen -W {quote(cpus)} -- \"$cur\"))"
    if "--fault" in names and faults:
        return f"COMPREPLY=($(compgen -W {quote(f + ':' for f in faults)} -- \"$cur\")); compopt -o nospace 2>/dev/null"
    words, free = option.choices
    if words:
        arm = f"COMPREPLY=($(compgen -W {quote(words)} -- \"$cur\"))"
        return arm + ("; _filedir" if free else "")
    # A value that names a file gets file names; numbers, names and codes get nothing.
    if re.search(r":HEX\b|\bINT\b", option.value):
        return ":"
    if re.search(r"file|path|image|certificate|script|librar|folder|director|binary", option.value + " " + option.text,
                 re.I):
        return "_filedir"
    return ":"


def cpu_types(*helps):
    for help_ in helps:
        for option in help_.options():
            if "--cpu" in option.names:
                words, _ = option.choices
                if words:
                    return words
    return []


PORTS = r"""
# Ports the program itself lists for this option (a line: name, option, what it
# is; a station's --slot takes every kind), else, for a serial port, the serial
# devices. A USB location is never a file.
_sealbench_ports() {
    local ports
    [[ -n ${1-} ]] && ports=$("$1" ports 2>/dev/null |
        awk -v o="$2" '$2 ~ /^-/ { if ($2 == o || o == "--slot") print $1; next } { print $1 }')
    [[ -z $ports && $2 != --usb-device ]] &&
        ports=$(compgen -G '/dev/tty[A-Z]*[0-9]*' | grep -v '^/dev/ttyS[0-9]\{2,\}')
    COMPREPLY=($(compgen -W "$ports" -- "$cur"))
}
"""


def completion(program, cpus):
    name = program.name
    func = "_" + re.sub(r"\W", "_", name)
    has_ports = any(c == "ports" for c, _ in program.commands)
    sections = [("", program.main)] + list(program.commands)
    faults = fault_names(program.main)
    options_arms, value_arms = [], []
    for command, help_ in sections:
        opts = [n for o in help_.options() for n in o.names]
        options_arms.append(f'        "{command}") opts={quote(opts)} ;;')
        arms = {}
        for option in help_.options():
            kind = value_kind(option, cpus, faults, has_ports)
            if kind:
                arms.setdefault(kind, []).extend(option.names)
        for kind, names in arms.items():
            value_arms.append("        " + "|".join(f'"{command}:{n}"' for n in names) + f") {kind}; return ;;")
    commands = [c for c, _ in program.commands]
    return f"""# bash completion for {name}                             -*- shell-script -*-
# Written by the build from `{name} --help`; do not edit.
{PORTS}
{func}() {{
    local cur prev words cword split
    # A colon stays inside the word (sim:NAME, status-word:N), so the word before
    # it is still the option; readline's own split at the colon is undone at the end.
    _init_completion -s -n : || return
    {func}_words
    __ltrim_colon_completions "$cur"
}}

{func}_words() {{
    local command="" i
    local commands={quote(commands)}
    for ((i = 1; i < cword; i++)); do
        if [[ " $commands " == *" ${{words[i]}} "* ]]; then
            command=${{words[i]}}
            break
        fi
    done

    case "$command:$prev" in
{chr(10).join(value_arms)}
    esac
    $split && return

    local opts=""
    case "$command" in
{chr(10).join(options_arms)}
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$opts" -- "$cur"))
    elif [[ -z $command && -n $commands ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    else
        _filedir
    fi
}} &&
    complete -F {func} {name}
"""
