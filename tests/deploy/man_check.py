#!/usr/bin/env python3
"""Holds the manual page tovrik-cli(1) against the program. Every option that
`tovrik-cli --help` lists must be documented in the page's source, and every
option the page documents must be one the program has; the same for each
subcommand the help names ("tovrik-cli NAME ..."), whose options the page
documents in a section "# NAME OPTIONS". The page's options are the lines of
its OPTIONS sections that start with a bold option, as in
"*-t*, *--target* _ADDR_". Adding an option to the program thus needs only
its entry in the page. Each built page given must also render through man
without a warning.

    man_check.py --cli PATH/tovrik-cli --source tovrik-cli.1.scd [--page BUILT.1]...
"""

import argparse
import re
import subprocess
import sys

OPTION_LINE = re.compile(r"^  (-\S+)")
SUBCOMMAND = re.compile(r"\btovrik-cli ([a-z][a-z-]*) ")
SECTION = re.compile(r"^# (?:(\S+) )?OPTIONS$")
BOLD_OPTION = re.compile(r"\*(-[^*\s]+)\*")


def help_text(cli, subcommand):
    argv = [cli] + ([subcommand] if subcommand else []) + ["--help"]
    done = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30, check=False)
    if done.returncode != 0:
        sys.exit("%s exited %d" % (" ".join(argv), done.returncode))
    return done.stdout


def help_options(text):
    """The options of CLI11's help: "  -t,--target TEXT ..." gives -t and --target."""
    options = set()
    for line in text.splitlines():
        match = OPTION_LINE.match(line)
        if match:
            options.update(match.group(1).split(","))
    return options


def page_options(source):
    """{subcommand ('' for the command itself): the options its OPTIONS section documents}."""
    documented = {}
    command = None
    for line in source.splitlines():
        if line.startswith("# "):
            match = SECTION.match(line)
            command = (match.group(1) or "").lower() if match else None
            if command is not None:
                documented.setdefault(command, set())
        elif command is not None and line.startswith("*-"):
            documented[command].update(BOLD_OPTION.findall(line))
    return documented


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--source", required=True, help="the page's scdoc source")
    ap.add_argument("--page", action="append", default=[], help="a built page (roff) to render")
    args = ap.parse_args()

    with open(args.source, encoding="utf-8") as f:
        documented = page_options(f.read())
    main_help = help_text(args.cli, None)
    commands = [""] + sorted(set(SUBCOMMAND.findall(main_help)))
    failures = []
    for command in commands:
        name = " ".join(filter(None, ["tovrik-cli", command]))
        section = "# %sOPTIONS" % (command.upper() + " " if command else "")
        if command not in documented:
            failures.append("the page has no section '%s' for %s" % (section, name))
            continue
        listed = help_options(main_help if not command else help_text(args.cli, command))
        for option in sorted(listed - documented[command]):
            failures.append("%s %s is not documented in the page's '%s'" % (name, option, section))
        for option in sorted(documented[command] - listed):
            failures.append("the page's '%s' documents %s, which '%s --help' does not list" % (section, option, name))
    for command in sorted(set(documented) - set(commands)):
        failures.append("the page documents options of 'tovrik-cli %s', a subcommand the help does not name" % command)

    for page in args.page:
        done = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                              text=True, timeout=60, check=False)
        if done.returncode != 0 or done.stderr.strip():
            failures.append("%s does not render cleanly: %s" % (page, done.stderr.strip() or done.returncode))

    for failure in failures:
        print("FAILED: " + failure)
    counted = ", ".join("%s %d" % (c or "tovrik-cli", len(documented.get(c, ()))) for c in commands)
    print("manual page: %s (options documented: %s)" % ("%d problem(s)" % len(failures) if failures else "ok", counted))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
