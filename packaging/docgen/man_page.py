"""Writes a manual page (roff, man macros) from a program's parsed help."""

import re

MONTHS = "January February March April May June July August September October November December".split()


def esc(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return re.sub(r"^([.'])", r"\\&\1", text)


def bold_term(term):
    """Option names in bold, their value in italics."""
    out = []
    for word in re.split(r"(,\s*|\s+)", term):
        if word.startswith("-"):
            out.append("\\fB" + esc(word) + "\\fR")
        elif word.strip(", ") and word not in ("REQUIRED", "..."):
            out.append("\\fI" + esc(word) + "\\fR")
        else:
            out.append(esc(word))
    return "".join(out)


def write_block(out, block, term_style=bold_term):
    for entry in block.entries:
        out.append(".TP")
        out.append(term_style(entry.term))
        if entry.text:
            out.append(esc(entry.text))
    started = False
    indented = False
    for indent, line in block.lines:
        if not line:
            started = False
            continue
        if indent and not indented:
            out.append(".RS 2")
            indented = True
        elif not indent and indented:
            out.append(".RE")
            indented = False
            started = False
        if not started:
            out.append(".PP")
            started = True
        out.append(esc(line))
    if indented:
        out.append(".RE")


def section_title(heading):
    return {"Options": "OPTIONS", "Positionals": "ARGUMENTS", "Subcommands": "COMMANDS", "": ""}.get(
        heading, heading.upper())


def untitled_title(block):
    """A paragraph that introduces a list ("Faults (...):") names its section by its first word."""
    paragraph = []
    for _, line in block.lines:
        if not line:
            break
        paragraph.append(line)
    if paragraph and paragraph[-1].endswith(":") and paragraph[0].split()[0].isalpha():
        return paragraph[0].split()[0].upper()
    return "NOTES"


def write_help(out, help_, level, skip_headings=()):
    """The blocks of one help text; level ".SH" for a program, ".SS" inside a command."""
    current = None
    for block in help_.blocks:
        if block.heading in skip_headings:
            continue
        if block.heading != current:
            current = block.heading
            title = section_title(block.heading)
            if title:
                if level == ".SH":
                    out.append(f".SH {title}")
                else:
                    out.append(f".PP\n\\fI{esc(block.heading)}:\\fR")
            elif level == ".SH" and (block.entries or block.lines):
                out.append(f".SH {untitled_title(block)}")
        write_block(out, block)


def man_page(program, version, date, summary, tail):
    name = program.name
    out = [
        f'.TH {name.upper()} 1 "{MONTHS[date.month - 1]} {date.year}" "{esc(name)} {version}" "User Commands"',
        ".SH NAME",
        f"{esc(name)} \\- {esc(summary)}",
        ".SH SYNOPSIS",
    ]
    synopses = [(name, program.main.usage)] + [(f"{name} {c}", h.usage) for c, h in program.commands]
    for head, usage in synopses:
        rest = usage[len(head):].strip() if usage.startswith(head) else usage
        out.append(".br")
        out.append(f"\\fB{esc(head)}\\fR {esc(rest)}".rstrip())
    out.append(".SH DESCRIPTION")
    out.append(esc(program.main.description))
    write_help(out, program.main, ".SH", skip_headings=("Subcommands",) if program.commands else ())
    if program.commands:
        out.append(".SH COMMANDS")
        for command, help_ in program.commands:
            out.append(f".SS {esc(command)}")
            out.append(esc(help_.description))
            out.append(".PP")
            out.append("\\fB" + esc(help_.usage) + "\\fR")
            write_help(out, help_, ".SS")
    if tail:
        out.append(tail.rstrip("\n"))
    return "\n".join(out) + "\n"
