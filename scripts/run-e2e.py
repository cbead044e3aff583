#!/usr/bin/env python3
"""The end-to-end suite: installs, repairs, upgrades, rolls back and removes
the packages of tests/e2e/packages with a real Windows Installer (msiexec of
64-bit Wine, with the x86_64 trellis.dll) and with trellis-host (with
libtrellis.so), and after every step compares what each left behind with the
expected state written in the case files of tests/e2e/cases:

    scripts/run-e2e.py [--case NAME]... [--runner wine|host] [--actual DIR]

--case runs only the named cases; --runner only one of the two runners;
--actual writes what each runner left after each step into DIR (to review a
change, or to update an expected file from). The suite needs build/native
and build/mingw-x86_64 built (TRELLIS_BUILD_DIR moves build/); its Wine
prefix is made afresh in build/e2e on every run.

A case file (tests/e2e/cases/NAME/case.txt) is a list of lines:

    define NAME VALUE       [NAME] stands for VALUE in the lines after it
    put FILE SOURCE         copies SOURCE (beside case.txt) to FILE in the
                            product folder [APP], on both machines
    install PACKAGE [PROPERTY=VALUE]...
    uninstall PACKAGE       a step: msiexec /i or /x, trellis-host install
                            or uninstall, of build/<tree>/e2e/PACKAGE.msi

and after each step what it must leave:

    exit CODE               the Windows Installer result (0, 1603, ...)
    file FILE EXPECTED      FILE in [APP] holds the bytes of EXPECTED; no
                            other file may be there
    reg KEY [NAME = DATA]   a value (or an empty key) below
                            HKCU\\Software\\Norrvik\\Quillmark; no other may be;
                            a tab, LF or CR in NAME or DATA is written as
                            ␉, ␊ or ␍ (U+2409, U+240A, U+240D)
    products [CODE]...      the products registered, none when empty
    logcount COUNT TEXT     exactly COUNT lines of the step's log hold TEXT
                            (each action logs its start, so this counts runs)
    log TEXT                a line of the step's verbose log holds TEXT
    nolog TEXT              no line of it does
                            (TEXT written /REGEX/ is a Python regular
                            expression; [APP] is the product folder, and
                            brackets that name no define stay as they are)

A line that starts with "wine:" or "host:" holds for that runner only; the
README lists every such difference and why it is there. Lines starting with
# are comments.
"""
import argparse
import difflib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CASES = os.path.join(ROOT, "tests", "e2e", "cases")
SUITE = os.path.join(ROOT, "tests", "e2e", "suite.txt")
APP_WINDOWS = "C:\\Program Files (x86)\\Trellis E2E\\"
APP_RELATIVE = os.path.join("Program Files (x86)", "Trellis E2E")
REGISTRY_BASE = "HKEY_CURRENT_USER\\Software\\Norrvik"
STEP_TIMEOUT = 180
LOG_CHECKS = ("log", "nolog")
CHECKS = ("exit", "file", "reg", "products", "logcount") + LOG_CHECKS


class CaseError(Exception):
    pass


class Step:
    def __init__(self, line, verb, package, properties):
        self.line = line
        self.verb = verb
        self.package = package
        self.properties = properties
        self.puts = []  # (file, source) before the step
        self.expect = []  # (runner or None, kind, argument, line)

    def title(self):
        return " ".join([self.verb, self.package] + ["%s=%s" % p for p in self.properties])


def read_case(name):
    path = os.path.join(CASES, name, "case.txt")
    defines = {"APP": "[APP]"}  # compared as [APP]: the registry's text gets it too
    steps, puts = [], []

    def expand(text, number, strict=True):
        def one(match):
            if match.group(1) not in defines:
                if not strict:
                    return match.group(0)
                raise CaseError("%s:%d: [%s] is not defined" % (path, number, match.group(1)))
            return defines[match.group(1)]
        return re.sub(r"\[([A-Z][A-Z0-9_]*)\]", one, text)

    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            runner = None
            match = re.match(r"(wine|host):\s*(.*)", line)
            if match:
                runner, line = match.group(1), match.group(2)
            word, _, rest = line.partition(" ")
            rest = rest.strip()
            if runner and word not in CHECKS:
                raise CaseError("%s:%d: only what a step leaves can differ between runners" % (path, number))
            if word == "define":
                key, _, value = rest.partition(" ")
                defines[key] = expand(value.strip(), number)
            elif word == "put":
                target, _, source = rest.partition(" ")
                if not os.path.isfile(os.path.join(CASES, name, source.strip())):
                    raise CaseError("%s:%d: no file %s beside the case" % (path, number, source.strip()))
                puts.append((target, source.strip()))
            elif word in ("install", "uninstall"):
                words = rest.split()
                if not words:
                    raise CaseError("%s:%d: %s needs a package" % (path, number, word))
                if any("=" not in p for p in words[1:]):
                    raise CaseError("%s:%d: properties are NAME=VALUE" % (path, number))
                properties = [tuple(p.split("=", 1)) for p in words[1:]]
                step = Step(number, word, words[0], properties)
                step.puts, puts = puts, []
                steps.append(step)
            elif word in CHECKS:
                if not steps:
                    raise CaseError("%s:%d: %s before the first step" % (path, number, word))
                if word == "logcount" and not re.match(r"\d+ \S", rest):
                    raise CaseError("%s:%d: logcount needs a count and a text" % (path, number))
                steps[-1].expect.append((runner, word, expand(rest, number, word not in LOG_CHECKS), number))
            else:
                raise CaseError("%s:%d: unknown line: %s" % (path, number, line))
    if puts:
        raise CaseError("%s: put after the last step" % path)
    for step in steps:
        if not any(kind == "exit" for _, kind, _, _ in step.expect):
            raise CaseError("%s:%d: the step names no exit code" % (path, step.line))
    return steps


def read_tree(folder):
    """Every file below folder, by its Windows-style relative name."""
    files = {}
    for base, _, names in os.walk(folder):
        for name in names:
            full = os.path.join(base, name)
            with open(full, "rb") as f:
                files[os.path.relpath(full, folder).replace(os.sep, "\\")] = f.read()
    return files


# Tabs and line ends inside names and data, as one character each that a
# case line can hold.
CONTROL_PICTURES = {0x09: "\u2409", 0x0A: "\u240A", 0x0D: "\u240D"}


def registry_lines(keys):
    """keys: {path below HKCU\\Software\\Norrvik: [(name, type, data)]} as
    sorted comparable lines, relative to Quillmark, with [APP] put back and
    control characters shown as CONTROL_PICTURES."""
    def relative(key):
        parts = key.split("\\")
        if parts[:1] == ["Quillmark"]:
            return "\\".join(["."] + parts[1:]) if len(parts) == 1 else "\\".join(parts[1:])
        return ".." if key == "" else "..\\" + key

    def app(text):
        text = re.sub(re.escape(APP_WINDOWS), "[APP]", text, flags=re.IGNORECASE)
        return text.translate(CONTROL_PICTURES)

    lines = []
    for key, values in keys.items():
        for name, kind, data in values:
            suffix = "" if kind == "REG_SZ" else " (%s)" % kind
            lines.append(("%s %s = %s%s" % (relative(key), app(name), app(data), suffix)).rstrip())
        has_children = any(other.lower().startswith(key.lower() + "\\") or (key == "" and other)
                           for other in keys if other != key)
        if not values and not has_children:
            lines.append(relative(key))
    return sorted(lines)


def show_bytes(data):
    if data.startswith(b"\xff\xfe"):
        text = data.decode("utf-16-le", "replace")
    else:
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError:
            text = data.decode("latin-1")
    return [repr(line)[1:-1] + "\n" for line in text.splitlines(True)]


def parse_reg_export(text):
    """The keys below REGISTRY_BASE of a .reg file that reg export wrote:
    {relative key: [(name, type, data)]}, in the form registry_lines takes."""
    keys, key = {}, None
    # A hex value goes on over lines that end with a backslash.
    for line in re.sub(r"\\\r?\n\s*", "", text).split("\r\n"):
        if line.startswith("[") and line.endswith("]"):
            name = line[1:-1]
            key = name[len(REGISTRY_BASE):].lstrip("\\") if name.lower().startswith(REGISTRY_BASE.lower()) else None
            if key is not None:
                keys[key] = []
            continue
        match = re.match(r'(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if key is None or not match:
            continue
        name = reg_unescape(match.group(2) or "")
        data = match.group(3)
        if data.startswith('"'):
            keys[key].append((name, "REG_SZ", reg_unescape(data[1:-1])))
        elif data.startswith("dword:"):
            keys[key].append((name, "REG_DWORD", "0x%x" % int(data[6:], 16)))
        else:
            kind, _, hex_bytes = data.partition(":")
            raw = bytes(int(b, 16) for b in hex_bytes.split(",") if b)
            if kind == "hex(2)":
                keys[key].append((name, "REG_EXPAND_SZ", raw.decode("utf-16-le").rstrip("\0")))
            else:
                keys[key].append((name, kind, raw.hex()))
    return keys


def reg_unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "0": "\0"}.get(m.group(1), m.group(1)), text)


def package_platform(package):
    """"Intel", or what the file platform beside the package's tables says."""
    path = os.path.join(ROOT, "tests", "e2e", "packages", package, "platform")
    if not os.path.exists(path):
        return "Intel"
    with open(path, encoding="utf-8") as f:
        return f.read().strip()


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineRunner:
    name = "wine"

    def __init__(self, build, work):
        self.packages = os.path.join(build, "mingw-x86_64", "e2e")
        self.work = work
        self.prefix = os.path.join(work, "wine-prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEARCH="win64",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.app = os.path.join(self.prefix, "drive_c", APP_RELATIVE)
        self.views = {"Wow6432Node\\"}  # of the registry, where products register

    def wine(self, *args, errors=os.devnull):
        """Runs a Windows program; its output goes through files, because the
        Wine services it starts keep a pipe open after it ends."""
        with tempfile.TemporaryFile() as out, open(errors, "wb") as err:
            result = subprocess.run(["wine"] + list(args), env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=err, timeout=STEP_TIMEOUT)
            out.seek(0)
            result.stdout = out.read().decode("utf-8", "replace").replace("\r\n", "\n")
        return result

    def start(self):
        shutil.rmtree(self.prefix, ignore_errors=True)
        started = time.time()
        with open(self.prefix + ".log", "w") as log:
            boot = subprocess.run(["wineboot", "-i"], env=self.env, stdin=subprocess.DEVNULL, stdout=log,
                                  stderr=subprocess.STDOUT, timeout=300)
        # The registry is on disk once the server has ended.
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=300)
        if boot.returncode != 0 or not os.path.exists(os.path.join(self.prefix, "system.reg")):
            raise RuntimeError("wineboot could not make %s; see %s.log" % (self.prefix, self.prefix))
        # One server for the whole run: each msiexec then starts at once.
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        print("Wine prefix %s made in %d s" % (self.prefix, time.time() - started))

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)

    def begin_case(self, name, work):
        for code in self.products():
            self.wine("msiexec", "/x", code, "/qn")
        self.views = {"Wow6432Node\\"}
        self.wine("reg", "delete", REGISTRY_BASE.replace("HKEY_CURRENT_USER", "HKCU"), "/f")
        shutil.rmtree(self.app, ignore_errors=True)
        os.makedirs(self.app)

    def run(self, step, log):
        if package_platform(step.package) == "x64":
            self.views.add("")
        package = windows_path(os.path.join(self.packages, step.package + ".msi"))
        command = ["msiexec", "/i" if step.verb == "install" else "/x", package, "/qn", "/l*v", windows_path(log)]
        command += ['%s="%s"' % p if " " in p[1] else "%s=%s" % p for p in step.properties]
        # msiexec's exit status is the Windows result modulo 256; what Wine
        # itself says goes beside the log.
        result = self.wine(*command, errors=log + ".stderr")
        if not os.path.exists(log):
            # No log: msiexec ended before any installation began (seen once,
            # under load, with exit status 1). That changed nothing, so it is
            # run once more, and said so.
            print("  wine: msiexec %s wrote no log and exited with %d (%s); running it again" % (
                step.title(), result.returncode, log + ".stderr"))
            time.sleep(2)
            result = self.wine(*command, errors=log + ".stderr")
        return result.returncode

    def registry(self):
        # reg export keeps every character of the data (reg query prints in
        # the console's code page and one line per value).
        path = os.path.join(self.work, "registry.reg")
        if os.path.exists(path):
            os.remove(path)
        self.wine("reg", "export", REGISTRY_BASE, windows_path(path), "/y")
        if not os.path.exists(path):  # no such key
            return registry_lines({})
        with open(path, "rb") as f:
            text = f.read().decode("utf-16")
        return registry_lines(parse_reg_export(text))

    def products(self):
        # 32-bit packages register in the 32-bit view, x64 ones in the other;
        # each query costs a Wine process, so only the views in use are asked.
        codes = set()
        for view in sorted(self.views):
            result = self.wine("reg", "query", "HKLM\\Software\\%sMicrosoft\\Windows\\CurrentVersion\\Uninstall" % view)
            codes.update(m.group(1).upper() for m in re.finditer(r"\\(\{[0-9A-Fa-f-]{36}\})\s*$", result.stdout, re.M))
        return sorted(codes)


class HostRunner:
    name = "host"

    def __init__(self, build, work):
        native = os.path.join(build, "native")
        self.program = os.path.join(native, "trellis-host")
        self.packages = os.path.join(native, "e2e")
        self.fail_library = os.path.join(native, "tests", "e2e", "libe2e_fail.so")

    def start(self):
        pass

    def stop(self):
        pass

    def begin_case(self, name, work):
        self.root = os.path.join(work, "host-root")
        shutil.rmtree(self.root, ignore_errors=True)
        self.app = os.path.join(self.root, "C", APP_RELATIVE)
        os.makedirs(self.app)

    def run(self, step, log):
        command = [self.program, step.verb, os.path.join(self.packages, step.package + ".msi"), "--root", self.root,
                   "--log", log, "--library", "FailDll=" + self.fail_library]
        for name, value in step.properties:
            command += ["--prop", "%s=%s" % (name, value)]
        result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                universal_newlines=True, errors="replace", timeout=STEP_TIMEOUT)
        if result.returncode == 0:
            return 0
        match = re.search(r"failed with error (\d+)", result.stderr)
        if result.returncode != 1 or not match:
            raise RuntimeError("trellis-host exited with %d: %s" % (result.returncode, result.stderr.strip()))
        return int(match.group(1))

    def registry(self):
        path = os.path.join(self.root, "registry", "registry.txt")
        keys, key = {}, None
        if os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                for line in f:
                    line = line.rstrip("\n")
                    if line.startswith("["):
                        name = line[1:-1]
                        key = name[len(REGISTRY_BASE):].lstrip("\\") if name.lower().startswith(
                            REGISTRY_BASE.lower()) else None
                        if key is not None:
                            keys[key] = []
                    elif key is not None and line.startswith('"'):
                        match = re.match(r'"((?:[^"\\]|\\.)*)"=(\w+):(.*)$', line)
                        name, kind, data = match.group(1), match.group(2), match.group(3)
                        if kind == "dword":
                            kind, data = "REG_DWORD", "0x%x" % int(data, 16)
                        kind = {"sz": "REG_SZ", "expand_sz": "REG_EXPAND_SZ"}.get(kind, kind)
                        keys[key].append((unescape(name), kind, unescape(data[1:-1]) if data.startswith('"') else data))
        return registry_lines(keys)

    def products(self):
        folder = os.path.join(self.root, "products")
        names = os.listdir(folder) if os.path.isdir(folder) else []
        return sorted(n[:-4].upper() for n in names if n.endswith(".txt"))


def unescape(text):
    return re.sub(r"\\u([0-9A-Fa-f]{4})|\\(.)",
                  lambda m: chr(int(m.group(1), 16)) if m.group(1) else m.group(2), text)


def check_step(case, step, runner, result, log):
    """The checks of one step for one runner: (passed, failed, messages)."""
    mine = [(kind, arg, line) for who, kind, arg, line in step.expect if who in (None, runner.name)]
    passed, failures = 0, []

    def fail(line, what, diff=()):
        failures.append("  %s, line %d: %s\n%s" % (runner.name, line, what, "".join("      " + d for d in diff)))

    exits = [(int(arg), line) for kind, arg, line in mine if kind == "exit"]
    for code, line in exits:
        want = code if runner.name == "host" else code % 256
        if result == want:
            passed += 1
        else:
            fail(line, "exit %s, expected %s (log %s)" % (result, want, log))

    logged = None
    for kind, arg, line in mine:
        if kind != "logcount":
            continue
        if logged is None:
            logged = read_log(log)
        count, _, text = arg.partition(" ")
        text = text.replace("[APP]", APP_WINDOWS)
        found = sum(text in logged_line for logged_line in logged)
        if found == int(count):
            passed += 1
        else:
            fail(line, "%d lines of the log hold \"%s\", expected %s (log %s)" % (found, text, count, log))

    actual = read_tree(runner.app)
    expected = {}
    for kind, arg, line in mine:
        if kind == "file":
            name, _, source = arg.partition(" ")
            path = os.path.join(CASES, case, source.strip())
            with open(path, "rb") if os.path.exists(path) else open(os.devnull, "rb") as f:
                expected[name] = (f.read() if os.path.exists(path) else None, line, source.strip())
    for name in sorted(set(actual) | set(expected)):
        if name not in actual:
            fail(expected[name][1], "%s is missing (log %s)" % (name, log))
        elif name not in expected:
            fail(step.line, "%s is there, but no file line names it (log %s)" % (name, log))
        elif expected[name][0] is None:
            fail(expected[name][1], "%s: there is no expected file %s" % (name, expected[name][2]))
        elif actual[name] != expected[name][0]:
            diff = difflib.unified_diff(show_bytes(expected[name][0]), show_bytes(actual[name]),
                                        expected[name][2], "%s after the step" % name)
            fail(expected[name][1], "%s differs from %s (log %s)" % (name, expected[name][2], log), diff)
        else:
            passed += 1

    want = sorted(arg for kind, arg, _ in mine if kind == "reg")
    got = runner.registry()
    if got == want:
        passed += 1
    else:
        diff = difflib.unified_diff([w + "\n" for w in want], [g + "\n" for g in got], "expected", "registry")
        fail(step.line, "the registry below HKCU\\Software\\Norrvik differs (log %s)" % log, diff)

    want = sorted(code.upper() for kind, arg, _ in mine if kind == "products" for code in arg.split())
    got = runner.products()
    if got == want:
        passed += 1
    else:
        fail(step.line, "products registered: %s, expected %s" % (" ".join(got) or "none", " ".join(want) or "none"))

    checks = [(kind, arg, line) for kind, arg, line in mine if kind in LOG_CHECKS]
    if checks:
        lines = read_log(log)
        for kind, arg, line in checks:
            found = [text for text in lines if log_line_matches(arg, text)]
            if (kind == "log") == bool(found):
                passed += 1
            elif kind == "log":
                fail(line, "no line of the log %s holds: %s" % (log, arg))
            else:
                fail(line, "the log %s holds: %s" % (log, arg), [text + "\n" for text in found[:5]])
    return passed, failures, actual, got


def read_log(path):
    """The lines of a verbose log: UTF-8 from trellis-host, the ANSI code
    page from Wine's msiexec (UTF-16 from Windows' own)."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le", "replace").splitlines()
    try:
        return data.decode("utf-8").splitlines()
    except UnicodeDecodeError:
        return data.decode("cp1252", "replace").splitlines()


def log_line_matches(pattern, line):
    pattern = pattern.replace("[APP]", APP_WINDOWS)
    if len(pattern) > 1 and pattern.startswith("/") and pattern.endswith("/"):
        return re.search(pattern[1:-1], line) is not None
    return pattern in line


def save_actual(folder, actual, registry, products):
    for name, data in actual.items():
        path = os.path.join(folder, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "registry.txt"), "w", encoding="utf-8") as f:
        f.write("".join("reg %s\n" % line for line in registry))
        f.write("products %s\n" % " ".join(products))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--case", action="append", default=[])
    parser.add_argument("--runner", choices=["wine", "host"])
    parser.add_argument("--actual")
    args = parser.parse_args()

    build = os.environ.get("TRELLIS_BUILD_DIR", os.path.join(ROOT, "build"))
    work = os.path.join(build, "e2e")
    with open(SUITE, encoding="utf-8") as f:
        cases = [line.split()[0] for line in f if line.strip() and not line.startswith("#")]
    if args.case:
        unknown = set(args.case) - set(cases)
        if unknown:
            sys.exit("run-e2e.py: no such case: %s" % " ".join(sorted(unknown)))
        cases = [c for c in cases if c in args.case]
    try:
        plans = {case: read_case(case) for case in cases}
    except CaseError as error:
        sys.exit("run-e2e.py: %s" % error)

    runners = [r(build, work) for r in (WineRunner, HostRunner) if args.runner in (None, r.name)]
    for runner in runners:
        folder = runner.packages
        missing = [s.package + ".msi" for c in cases for s in plans[c] if not os.path.exists(
            os.path.join(folder, s.package + ".msi"))]
        if runner.name == "host":
            missing += [os.path.basename(p) for p in (runner.program, runner.fail_library) if not os.path.exists(p)]
        elif not shutil.which("wine"):
            missing.append("wine")
        if missing:
            sys.exit("run-e2e.py: %s for the %s runner is missing: build it first" % (missing[0], runner.name))

    started = time.time()
    totals = {r.name: [0, 0] for r in runners}
    failed_lines = []
    os.makedirs(work, exist_ok=True)
    for runner in runners:
        runner.start()
    try:
        for case in cases:
            logs = os.path.join(work, "logs", case)
            shutil.rmtree(logs, ignore_errors=True)
            os.makedirs(logs)
            for runner in runners:
                runner.begin_case(case, work)
            counts = {r.name: [0, 0] for r in runners}
            for number, step in enumerate(plans[case], 1):
                for runner in runners:
                    for target, source in step.puts:
                        path = os.path.join(runner.app, *target.split("\\"))
                        os.makedirs(os.path.dirname(path), exist_ok=True)
                        shutil.copyfile(os.path.join(CASES, case, source), path)
                    log = os.path.join(logs, "%02d-%s-%s.log" % (number, step.verb, runner.name))
                    try:
                        result = runner.run(step, log)
                    except (RuntimeError, subprocess.TimeoutExpired) as error:
                        counts[runner.name][1] += 1
                        failed_lines.append("%s, step %d (line %d: %s):\n  %s could not run it: %s\n" % (
                            case, number, step.line, step.title(), runner.name, error))
                        continue
                    passed, failures, actual, products = check_step(case, step, runner, result, log)
                    counts[runner.name][0] += passed
                    counts[runner.name][1] += len(failures)
                    if failures:
                        failed_lines.append("%s, step %d (line %d: %s):\n%s" % (
                            case, number, step.line, step.title(), "".join(failures)))
                    if args.actual:
                        save_actual(os.path.join(args.actual, case, "%02d-%s" % (number, step.verb), runner.name),
                                    actual, runner.registry(), products)
            print("  %-17s %2d steps  %s" % (case, len(plans[case]), "  ".join(
                "%s %d/%d" % (name, c[0], c[0] + c[1]) for name, c in counts.items())))
            for name, c in counts.items():
                totals[name][0] += c[0]
                totals[name][1] += c[1]
    finally:
        for runner in runners:
            runner.stop()
    for text in failed_lines:
        print(text, end="")
    print("e2e: %s (%d cases, %d steps, %d s)" % ("; ".join(
        "%s %d passed, %d failed" % (name, t[0], t[1]) for name, t in totals.items()),
        len(cases), sum(len(plans[c]) for c in cases), time.time() - started))
    return 1 if any(t[1] for t in totals.values()) else 0


if __name__ == "__main__":
    sys.exit(main())
