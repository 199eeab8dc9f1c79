#!/usr/bin/python3
"""Checks the generated manual pages and bash completion against the programs' own
help, read here with plain patterns of its own: every command, option and fault that
a program's --help names must be in its page, and its commands and options in its
completion. A page that lost one fails here.

  check_docs.py DOCS NAME=PATH ...
"""

import os
import re
import subprocess
import sys
from pathlib import Path

OPTION_TERM = re.compile(r"^\s+(-[^\s,]+(?:,\s*-[^\s,]+)*)")


def help_of(path, *args):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    return subprocess.run([path, *args, "--help"], capture_output=True, text=True, env=env, timeout=60,
                          check=True).stdout


def options_in(text):
    names = set()
    for line in text.splitlines():
        match = OPTION_TERM.match(line)
        if match:
            names.update(re.findall(r"--?[A-Za-z0-9][\w-]*", match.group(1)))
    return names


def commands_in(text):
    section = re.search(r"^Subcommands:\n((?:  .*\n?)*)", text, re.M)
    return [line.split()[0] for line in section.group(1).splitlines()] if section else []


def roff(text):
    return text.replace("-", "\\-")


def main():
    docs = Path(sys.argv[1])
    problems = []
    for spec in sys.argv[2:]:
        name, path = spec.split("=", 1)
        page = (docs / "man" / f"{name}.1").read_text()
        completion_path = docs / "bash-completion" / name
        completion = completion_path.read_text() if completion_path.exists() else None
        main_help = help_of(path)
        helps = {"": main_help}
        for command in commands_in(main_help):
            helps[command] = help_of(path, command)
            if f".SS {roff(command)}\n" not in page:
                problems.append(f"{name}(1) has no section for the command {command}")
            if completion is not None and not re.search(rf"commands='[^']*\b{re.escape(command)}\b", completion):
                problems.append(f"the completion of {name} does not offer the command {command}")
        for command, text in helps.items():
            where = f"{name} {command}".strip()
            for option in sorted(options_in(text)):
                if f"\\fB{roff(option)}\\fR" not in page:
                    problems.append(f"{name}(1) does not describe {option} of {where}")
                if completion is not None and not re.search(rf"(?<![\w-]){re.escape(option)}(?![\w-])", completion):
                    problems.append(f"the completion of {name} does not offer {option} of {where}")
            for fault in set(re.findall(r"(?<![\w-])([a-z]+(?:-[a-z]+)+):", text)):
                if roff(fault) + ":" not in page:
                    problems.append(f"{name}(1) does not describe the fault {fault}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
