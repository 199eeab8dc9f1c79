"""Reads a program's --help text (CLI11's or Qt's layout) into a structure that the
manual page and the shell completion are written from, so that both follow the
programs as they change."""

import re
import subprocess
from dataclasses import dataclass, field

# "  TERM  DESCRIPTION": a term never holds two spaces in a row.
ENTRY = re.compile(r"^( +)(\S(?:\S| (?! ))*)(?: {2,}(\S.*))?$")
HEADING = re.compile(r"^([A-Z][A-Za-z ]*):$")
OPTION_NAME = re.compile(r"^--?[A-Za-z0-9][A-Za-z0-9-]*$")


@dataclass
class Entry:
    term: str
    text: str


@dataclass
class Option:
    names: list
    value: str  # the value's type name as the help shows it; "" for a flag
    text: str

    @property
    def choices(self):
        """The values a {a,b,c} set or an "a | b | c" description allows, and
        whether a free value (a path) is also accepted."""
        braces = re.search(r"\{([^}]*)\}", self.value)
        if braces:
            return [v for v in braces.group(1).split(",") if v], False
        # A check that names its values: "TEXT:8|16|32".
        named = re.fullmatch(r"[A-Z]+:([A-Za-z0-9_.-]+(?:\|[A-Za-z0-9_.-]+)+)", self.value)
        if named:
            return named.group(1).split("|"), False
        if "|" not in self.text:
            return [], bool(self.value)
        parts = [p.strip() for p in self.text.split("|")]
        words, free = [], False
        for i, part in enumerate(parts):
            part = re.sub(r"\(.*?\)", "", part).strip()
            # The first alternative follows the description's own words.
            candidate = part.split()[-1] if i == 0 and part else part
            if re.fullmatch(r"[A-Za-z0-9_.-]+", candidate):
                words.append(candidate)
            else:
                free = True
        return words, free


@dataclass
class Block:
    """A run of the help: a heading with its entries, or free text."""
    heading: str = ""
    entries: list = field(default_factory=list)
    lines: list = field(default_factory=list)  # (indent, text) of free text


@dataclass
class Help:
    description: str = ""
    usage: str = ""
    blocks: list = field(default_factory=list)

    def entries(self, heading):
        return [e for b in self.blocks if b.heading == heading for e in b.entries]

    def options(self):
        result = []
        for entry in self.entries("Options"):
            names, value = [], []
            # CLI11 appends what an option excludes or needs ("--usb Excludes: --port"):
            # those are other options' names, not this one's value.
            term = re.split(r"\s+(?:Excludes|Needs):", entry.term)[0]
            for word in re.split(r",\s*|\s+", term):
                if not value and OPTION_NAME.match(word):
                    names.append(word)
                elif word not in ("REQUIRED", "..."):
                    value.append(word.strip("<>"))
            result.append(Option(names, " ".join(value), entry.text))
        return result


def run_help(program, args, env=None):
    done = subprocess.run([program, *args, "--help"], capture_output=True, text=True, env=env, timeout=60)
    if done.returncode != 0:
        raise SystemExit(f"{program} {' '.join(args)} --help exited with {done.returncode}: {done.stderr}")
    return done.stdout


def indent_of(line):
    return len(line) - len(line.lstrip(" "))


def parse(text, program):
    help_ = Help()
    lines = text.rstrip("\n").split("\n")
    block = Block()
    help_.blocks.append(block)
    after_blank = False
    i = 0
    while i < len(lines):
        line = lines[i].rstrip()
        following = lines[i + 1].rstrip() if i + 1 < len(lines) else ""
        i += 1
        if not line:
            if block.lines and block.lines[-1] != (0, ""):
                block.lines.append((0, ""))
            after_blank = True
            continue
        blank_before, after_blank = after_blank, False
        if line.startswith("Usage:"):
            words = line[len("Usage:"):].split()
            help_.usage = " ".join([program.split()[0]] + words[1:])
            continue
        heading = HEADING.match(line)
        if heading:
            block = Block(heading=heading.group(1))
            help_.blocks.append(block)
            continue
        entry = ENTRY.match(line)
        deeper = following and indent_of(following) >= indent_of(line) + 4
        if entry and (entry.group(3) or deeper):
            parts = [entry.group(3)] if entry.group(3) else []
            while i < len(lines) and lines[i].strip() and indent_of(lines[i]) >= indent_of(line) + 4:
                parts.append(lines[i].strip())
                i += 1
            if block.lines:  # entries after free text start a block of their own
                block = Block(heading=block.heading)
                help_.blocks.append(block)
            block.entries.append(Entry(entry.group(2), " ".join(parts)))
            continue
        if not help_.description and not help_.usage and indent_of(line) == 0:
            help_.description = line
            continue
        if not help_.description and help_.usage and indent_of(line) == 0 and not block.entries:
            help_.description = line  # Qt puts the description after the usage line
            continue
        if blank_before and indent_of(line) == 0 and block.heading:
            block = Block()  # text after a list of options is a section of its own
            help_.blocks.append(block)
        elif block.entries:
            block = Block(heading=block.heading)
            help_.blocks.append(block)
        elif block.lines and block.lines[-1][1] and indent_of(line) and line.endswith(":"):
            block.lines.append((0, ""))  # an indented caption starts a paragraph
        block.lines.append((indent_of(line), line.strip()))
    for b in help_.blocks:
        while b.lines and b.lines[-1] == (0, ""):
            b.lines.pop()
    return help_


@dataclass
class Program:
    name: str
    main: Help
    commands: list  # (name, Help) in the order the help lists them


def read_program(name, path, env=None):
    main = parse(run_help(path, [], env), name)
    commands = []
    for entry in main.entries("Subcommands"):
        command = parse(run_help(path, [entry.term], env), f"{name} {entry.term}")
        commands.append((entry.term, command))
    return Program(name, main, commands)
