#!/usr/bin/env python3
"""Runs the ExecStart= of an installed user service unit as the user's service manager would,
for a machine where no user manager runs (a container, CI).

    run_unit.py UNIT_FILE HOME [XDG_CONFIG_HOME]

What the manager does, and this does too: specifiers in the unit (%h the home folder, %E the
configuration folder, %% a '%'); Environment= assignments in order, then each EnvironmentFile=
(a leading '-': a missing file is no error), whose assignments win; the command split into words
at white space outside quotes; "${NAME}" replaced by the variable's value as one word, "$NAME" by
its value split at white space; the process started with only that environment (and PATH). Only
what the teleprompter's units use is understood; anything else is refused, never guessed.
"""
import os
import re
import subprocess
import sys


def specifiers(text, home, config):
    def one(match):
        code = match.group(1)
        if code == "%":
            return "%"
        if code == "h":
            return home
        if code == "E":
            return config
        raise SystemExit(f"run_unit.py: specifier %{code} is not understood")
    return re.sub(r"%(.)", one, text)


def environment_file(path):
    """The manager's environment file: KEY=VALUE lines; '#' and ';' start comments; a value in
    double quotes takes backslash escapes of " \\ ` $; one in single quotes is as written."""
    values = {}
    with open(path, "rb") as file:
        text = file.read().decode("utf-8", "surrogateescape")
    for line in text.split("\n"):
        if not line.strip() or line.lstrip()[0] in "#;":
            continue
        key, _, raw = line.partition("=")
        raw = raw.strip()
        if raw.startswith('"') and raw.endswith('"') and len(raw) >= 2:
            value, i, body = "", 0, raw[1:-1]
            while i < len(body):
                if body[i] == "\\" and i + 1 < len(body) and body[i + 1] in '"\\`$':
                    value += body[i + 1]
                    i += 2
                else:
                    value += body[i]
                    i += 1
        elif raw.startswith("'") and raw.endswith("'") and len(raw) >= 2:
            value = raw[1:-1]
        else:
            value = raw
        values[key.strip()] = value
    return values


def words(command, env):
    """The command line split as the manager splits it, variables expanded."""
    out, i = [], 0
    while i < len(command):
        if command[i].isspace():
            i += 1
            continue
        if command[i] == '"':
            end = command.index('"', i + 1)
            word = command[i + 1:end].replace('\\"', '"').replace("\\\\", "\\")
            i = end + 1
        else:
            end = i
            while end < len(command) and not command[end].isspace():
                end += 1
            word = command[i:end]
            i = end
        whole = re.fullmatch(r"\$\{(\w+)\}", word)
        split = re.fullmatch(r"\$(\w+)", word)
        if whole:
            out.append(env.get(whole.group(1), ""))
        elif split:
            out.extend(env.get(split.group(1), "").split())
        elif "$" in word:
            raise SystemExit(f"run_unit.py: '{word}' is not understood")
        else:
            out.append(word)
    return out


def main():
    unit, home = sys.argv[1], sys.argv[2]
    config = sys.argv[3] if len(sys.argv) > 3 else os.path.join(home, ".config")
    env = {"PATH": "/usr/bin:/bin", "HOME": home}
    files, command = [], None
    for line in open(unit, encoding="utf-8").read().splitlines():
        key, _, value = line.partition("=")
        if key == "Environment":
            name, _, assigned = specifiers(value, home, config).partition("=")
            env[name] = assigned
        elif key == "EnvironmentFile":
            files.append(specifiers(value, home, config))
        elif key == "ExecStart":
            command = specifiers(value, home, config)
    for path in files:
        optional = path.startswith("-")
        path = path.lstrip("-")
        if os.path.exists(path):
            env.update(environment_file(path))
        elif not optional:
            raise SystemExit(f"run_unit.py: {path} is missing")
    if command is None:
        raise SystemExit("run_unit.py: no ExecStart=")
    argv = words(command, env)
    print("run_unit.py: " + " ".join(repr(word) for word in argv), file=sys.stderr)
    sys.exit(subprocess.run(argv, env=env).returncode)


if __name__ == "__main__":
    main()
