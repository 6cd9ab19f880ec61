#!/usr/bin/env python3
"""The README's promises still hold: every link to a file of the repository
leads to one, and every command it shows still exists: scripts are there
and executable, CMake presets are defined, unpack knows the subcommand and
its options, and updater.exe reads every option shown.

Usage: readme.py REPO UNPACK   (UNPACK: a native build of the unpack tool)
"""
import json
import re
import subprocess
import sys
from pathlib import Path

repo = Path(sys.argv[1])
unpack = sys.argv[2]
readme = (repo / "README.md").read_text(encoding="utf-8")
problems = []

# Links: [text](target) and ![alt](target), relative targets only.
for target in re.findall(r"\]\(([^)\s]+)\)", readme):
    if re.match(r"[a-z]+:", target) or target.startswith("#"):
        continue
    path = target.split("#", 1)[0]
    if not (repo / path).exists():
        problems.append(f"broken link: {target}")

# Commands: indented code lines and inline code spans.
commands = [line.strip() for line in readme.splitlines() if line.startswith("    ")]
commands += re.findall(r"`([^`]+)`", readme)

presets = json.loads((repo / "CMakePresets.json").read_text())
preset_names = {p["name"] for kind in ("configurePresets", "buildPresets", "testPresets")
                for p in presets.get(kind, [])}
usage = subprocess.run([unpack], capture_output=True, text=True).stderr + \
        subprocess.run([unpack], capture_output=True, text=True).stdout
updater_sources = "".join(p.read_text(encoding="utf-8", errors="replace")
                          for p in (repo / "updater").rglob("*.cpp"))

checked = 0
for command in commands:
    for part in re.split(r"&&|;|\|", command):
        words = part.split()
        if not words:
            continue
        tool = words[0]
        if tool.startswith("scripts/"):
            checked += 1
            script = repo / tool
            if not script.is_file() or not script.stat().st_mode & 0o111:
                problems.append(f"no executable script: {tool}")
        elif tool in ("cmake", "ctest") and "--preset" in words:
            checked += 1
            name = words[words.index("--preset") + 1] if words.index("--preset") + 1 < len(words) else ""
            if name not in preset_names:
                problems.append(f"no preset {name!r}: {part.strip()}")
        elif tool in ("unpack", "unpack.exe") and len(words) > 1:
            checked += 1
            if not re.search(rf"unpack {re.escape(words[1])}\b", usage):
                problems.append(f"unpack has no command {words[1]!r}: {part.strip()}")
            for option in (w for w in words[2:] if w.startswith("--")):
                if option not in usage:
                    problems.append(f"unpack has no option {option}: {part.strip()}")
        elif tool == "updater.exe":
            checked += 1
            for option in (w.strip("[]") for w in words[1:] if w.lstrip("[").startswith("-")):
                if f'"{option}"' not in updater_sources:
                    problems.append(f"updater.exe reads no option {option}: {part.strip()}")

for problem in problems:
    print(f"README: {problem}")
if problems:
    sys.exit(1)
print(f"README: every link leads somewhere; {checked} commands checked")
