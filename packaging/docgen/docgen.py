#!/usr/bin/python3
"""Writes the manual pages (roff and gzip) and the bash completion scripts of the
programs from their own --help, so that a new command or option is documented and
completed by the next build.

  docgen.py --version V --out DIR --tails DIR NAME=PATH[:SUMMARY] ...
"""

import argparse
import datetime
import gzip
import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bash_completion  # noqa: E402
import help_text  # noqa: E402
import man_page  # noqa: E402


def write_if_changed(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    if not path.exists() or path.read_bytes() != data:
        path.write_bytes(data)


def reproducible_gzip(text):
    # No name and no time in the header, as Debian wants of manual pages.
    return gzip.compress(text.encode(), compresslevel=9, mtime=0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", required=True, type=Path)
    parser.add_argument("--tails", required=True, type=Path, help="folder of NAME.1.in: sections after the help")
    parser.add_argument("--completion", action="append", default=[], help="programs that get a completion script")
    parser.add_argument("programs", nargs="+", help="NAME=PATH")
    args = parser.parse_intermixed_args()

    # The window's help needs no display; its toolkit must not look for one either.
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    date = datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc) if epoch else datetime.date.today()

    programs = []
    for spec in args.programs:
        name, path = spec.split("=", 1)
        programs.append(help_text.read_program(name, path, env))
    cpus = bash_completion.cpu_types(*[h for p in programs for h in [p.main] + [c for _, c in p.commands]])

    for program in programs:
        tail_path = args.tails / f"{program.name}.1.in"
        tail = tail_path.read_text() if tail_path.exists() else ""
        summary = program.main.description.split(": ", 1)[-1].rstrip(".")
        page = man_page.man_page(program, args.version, date, summary, tail)
        write_if_changed(args.out / "man" / f"{program.name}.1", page.encode())
        write_if_changed(args.out / "man" / f"{program.name}.1.gz", reproducible_gzip(page))
        if program.name in args.completion:
            script = bash_completion.completion(program, cpus)
            write_if_changed(args.out / "bash-completion" / program.name, script.encode())


if __name__ == "__main__":
    main()
