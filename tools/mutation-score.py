#!/usr/bin/python3
"""Measures how many small faults in the product sources the test suite catches.

    tools/mutation-score.py sample [--count N] [--seed S] [--out FILE]
    tools/mutation-score.py run BUILD_DIR [--sample FILE] [--log FILE] [--only I,J,...]

`sample` draws a fixed, seeded sample of single-token mutants over the service's C++ sources (apps/,
without tests, test support and benchmarks) and writes it as JSON (default tools/mutation-sample.json).
A mutant is named by its file, the text of its source line, which occurrence of the token in that line it
changes, and the replacement, so that the same sample still applies after code has moved: a line is looked
for in its file first, then in every product source; a line found nowhere makes the mutant "gone".

`run` applies each mutant in turn to the tree BUILD_DIR was configured from, rebuilds with ninja (only what
depends on the file rebuilds), and runs the tests that can see the change: the test programs ninja relinked,
and all sandbox integration tests when a program they start (webservice, unit-simulator, message-broker)
was relinked. A mutant is "killed" when a test fails or times out, and again when run once more, "survived" when all pass, "void" when it
does not compile. The file is restored after each mutant, also when the run is interrupted (and at the next
start, should the process have been killed outright).
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_SAMPLE = os.path.join(REPO, "tools", "mutation-sample.json")
SANDBOX_PROGRAMS = {"webservice", "unit-simulator", "message-broker"}

# Binary operators are only taken with a blank on both sides: clang-format writes them so, and a template's
# angle brackets or a reference's && never have one.
FLIPS = {
    " == ": " != ", " != ": " == ", " < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ",
    " && ": " || ", " || ": " && ", " + ": " - ", " - ": " + ", " += ": " -= ", " -= ": " += ",
}
OPERATOR = re.compile("|".join(re.escape(op) for op in sorted(FLIPS, key=len, reverse=True)))
NUMBER = re.compile(r"(?<![\w.])(\d+)(?![\w.'])")
BOOLEAN = re.compile(r"\b(true|false)\b")
NEGATION = re.compile(r"!(?!=)")
CALL_STATEMENT = re.compile(r"^(?:[A-Za-z_]\w*(?:::|\.|->))*[A-Za-z_]\w*\(.*\);$")
NOT_CALLS = re.compile(r"^(return|if|while|for|switch|static_assert|sizeof|delete|throw|case)\b")


def product_sources():
    files = subprocess.run(["git", "-C", REPO, "ls-files", "apps"], capture_output=True, text=True,
                           check=True).stdout.split()
    keep = []
    for path in files:
        base = os.path.basename(path)
        stem = base.split(".")[0]
        if not base.endswith((".cpp", ".h")):
            continue
        if "/test/" in path or stem.startswith("test") or "_test" in stem or stem.endswith("_benchmark"):
            continue
        keep.append(path)
    return sorted(keep)


def code_view(lines):
    """Each line with comments, string and character literals blanked out, so that their text is never mutated;
    None for preprocessor lines."""
    out = []
    in_comment = False
    for line in lines:
        chars = list(line)
        i = 0
        while i < len(chars):
            if in_comment:
                end = line.find("*/", i)
                stop = len(chars) if end < 0 else end + 2
                chars[i:stop] = " " * (stop - i)
                in_comment = end < 0
                i = stop
                continue
            c = line[i]
            if line.startswith("//", i):
                chars[i:] = " " * (len(chars) - i)
                break
            if line.startswith("/*", i):
                in_comment = True
                continue
            if c in "\"'":
                j = i + 1
                while j < len(line) and line[j] != c:
                    j += 2 if line[j] == "\\" else 1
                chars[i + 1:min(j, len(chars))] = "_" * (min(j, len(chars)) - i - 1)
                i = j + 1
                continue
            i += 1
        text = "".join(chars)
        out.append(None if text.lstrip().startswith("#") else text)
    return out


def candidates_in(path):
    with open(os.path.join(REPO, path)) as f:
        lines = f.read().split("\n")
    found = []
    for number, (line, code) in enumerate(zip(lines, code_view(lines)), start=1):
        if code is None or not code.strip():
            continue

        def add(kind, pattern, replace):
            for occurrence, m in enumerate(pattern.finditer(code)):
                for new in replace(m.group(0)):
                    found.append({"file": path, "line": number, "text": line.strip(), "kind": kind,
                                  "token": m.group(0), "occurrence": occurrence, "replacement": new})

        add("flip", OPERATOR, lambda t: [FLIPS[t]])
        add("constant", NUMBER, lambda t: [str(int(t) + 1)] + ([str(int(t) - 1)] if int(t) > 0 else []))
        add("boolean", BOOLEAN, lambda t: ["false" if t == "true" else "true"])
        add("negation", NEGATION, lambda t: [""])
        stripped = code.strip()
        if CALL_STATEMENT.match(stripped) and not NOT_CALLS.match(stripped):
            found.append({"file": path, "line": number, "text": line.strip(), "kind": "deleted-call",
                          "token": line.strip(), "occurrence": 0, "replacement": ";"})
    return found


def sample(args):
    pool = [c for path in product_sources() for c in candidates_in(path)]
    rng = random.Random(args.seed)
    chosen = rng.sample(pool, args.count)
    chosen.sort(key=lambda c: (c["file"], c["line"], c["occurrence"], c["replacement"]))
    for index, c in enumerate(chosen):
        c["id"] = index
    with open(args.out, "w") as f:
        json.dump({"seed": args.seed, "pool": len(pool), "mutants": chosen}, f, indent=1)
        f.write("\n")
    print(f"{len(chosen)} mutants of {len(pool)} candidates (seed {args.seed}) -> {args.out}")


def locate(mutant, sources):
    """(path, line index) of the mutant's line in today's tree, or None."""
    def matches(path):
        full = os.path.join(REPO, path)
        if not os.path.exists(full):
            return []
        with open(full) as f:
            return [i for i, line in enumerate(f.read().split("\n")) if line.strip() == mutant["text"]]

    for paths in ([mutant["file"]], [p for p in sources if p != mutant["file"]]):
        hits = [(p, i) for p in paths for i in matches(p)]
        if hits:
            return min(hits, key=lambda h: abs(h[1] + 1 - mutant["line"]))
    return None


def mutate(text, index, mutant):
    lines = text.split("\n")
    line = lines[index]
    if mutant["kind"] == "deleted-call":
        lines[index] = line[:len(line) - len(line.lstrip())] + ";"
        return "\n".join(lines)
    code = code_view(lines)[index]
    pattern = {"flip": OPERATOR, "constant": NUMBER, "boolean": BOOLEAN, "negation": NEGATION}[mutant["kind"]]
    hits = list(pattern.finditer(code))
    if mutant["occurrence"] >= len(hits) or hits[mutant["occurrence"]].group(0) != mutant["token"]:
        return None
    m = hits[mutant["occurrence"]]
    lines[index] = line[:m.start()] + mutant["replacement"] + line[m.end():]
    return "\n".join(lines)


class Restorer:
    """Keeps the original of the file under mutation, also on disk, so that no mutant outlives the run."""

    def __init__(self, build):
        self.backup = os.path.join(build, "mutation-backup.json")
        self.current = None
        if os.path.exists(self.backup):
            with open(self.backup) as f:
                saved = json.load(f)
            self.write(saved["path"], saved["text"])
            os.remove(self.backup)
            print(f"restored {saved['path']} left mutated by an earlier run", flush=True)

    @staticmethod
    def write(path, text):
        with open(path, "w") as f:
            f.write(text)

    def apply(self, path, original, mutated):
        with open(self.backup, "w") as f:
            json.dump({"path": path, "text": original}, f)
        self.current = (path, original)
        self.write(path, mutated)

    def restore(self):
        if self.current:
            self.write(*self.current)
            self.current = None
            os.remove(self.backup)


def binaries(build):
    folder = os.path.join(build, "bin")
    return {name: os.stat(os.path.join(folder, name)).st_mtime_ns for name in os.listdir(folder)}


def ninja(build, timeout=1800):
    return subprocess.run(["ninja", "-C", build, "-j2"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=timeout).returncode == 0


def test_table(build):
    shown = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], capture_output=True,
                           text=True, check=True).stdout
    table = []
    for number, test in enumerate(json.loads(shown)["tests"], start=1):
        labels = [v for p in test.get("properties", []) if p["name"] == "LABELS" for v in p["value"]]
        program = os.path.basename(test["command"][0]) if test.get("command") else ""
        if program.startswith("python"):
            program = "python"
        table.append((number, program, "integration" in labels, test["name"]))
    return table


def run_tests(build, numbers, timeout, stop=True):
    """(passed, count, numbers of the failed tests)."""
    if not numbers:
        return True, 0, set()
    listing = os.path.join(build, "mutation-tests.txt")
    with open(listing, "w") as f:
        f.write("0,0,0," + ",".join(map(str, numbers)) + "\n")
    failed_list = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    if os.path.exists(failed_list):
        os.remove(failed_list)
    done = subprocess.run(["ctest", "--test-dir", build, "-j2", "--timeout", str(timeout), "-I", listing]
                          + (["--stop-on-failure"] if stop else []),
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    failed = set()
    if os.path.exists(failed_list):
        with open(failed_list) as f:
            failed = {int(line.split(":")[0]) for line in f if ":" in line}
    return done.returncode == 0, len(numbers), failed


def confirmed(build, passed, failed, timeout):
    """A kill must show again: a sandbox test that timed out once on a loaded machine proves nothing. A run
    that failed without naming a test (ctest itself failed) stays failed."""
    if passed or not failed:
        return passed, failed
    _, _, failed = run_tests(build, sorted(failed), timeout, stop=False)
    return not failed, failed


def run_affected(build, table, relinked, left_out, timeout):
    """Unit tests of the relinked programs first (quick to fail), then the sandbox tests if a program they
    start was relinked. (passed, tests run, numbers of the failed tests)"""
    sandbox = bool(relinked & SANDBOX_PROGRAMS)
    unit = [n for n, program, integration, _ in table if program in relinked and not integration and n not in left_out]
    passed, count, failed = run_tests(build, unit, timeout)
    passed, failed = confirmed(build, passed, failed, timeout)
    if passed and sandbox:
        integration = [n for n, _, integration, _ in table if integration and n not in left_out]
        passed, more, failed = run_tests(build, integration, timeout)
        count += more
        passed, failed = confirmed(build, passed, failed, timeout)
    return passed, count, failed


def run(args):
    build = os.path.abspath(args.build)
    with open(args.sample) as f:
        mutants = json.load(f)["mutants"]
    if args.only:
        wanted = {int(i) for i in args.only.split(",")}
        mutants = [m for m in mutants if m["id"] in wanted]
    restorer = Restorer(build)

    def stop(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    log = open(args.log, "a") if args.log else None

    def say(text):
        print(text, flush=True)
        if log:
            log.write(text + "\n")
            log.flush()

    if not ninja(build):
        sys.exit("the unmutated tree does not build")
    table = test_table(build)
    started = time.time()
    names = {n: name for n, _, _, name in table}
    ok, count, left_out = run_tests(build, list(names), args.timeout, stop=False)
    say(f"unmutated suite: {count} tests, {len(left_out)} failing, {time.time() - started:.0f} s")
    if left_out:
        # A test that fails without a mutant (a sandbox test that timed out on a loaded machine) proves nothing.
        say("left out as failing unmutated: " + ", ".join(names[n] for n in sorted(left_out)))
    if len(left_out) > count // 10:
        sys.exit("the unmutated suite fails widely; a score would mean nothing")
    # A fixed, seeded order: a run cut short has still tested a sample of all files.
    random.Random(len(mutants)).shuffle(mutants)

    sources = product_sources()
    tally = {"killed": 0, "survived": 0, "void": 0, "gone": 0}
    try:
        for mutant in mutants:
            where = locate(mutant, sources)
            label = f"#{mutant['id']} {mutant['file']}:{mutant['line']} {mutant['kind']} " \
                    f"{mutant['token'].strip()!r}->{mutant['replacement'].strip()!r}"
            if where is None:
                tally["gone"] += 1
                say(f"gone      {label}")
                continue
            path, index = where
            full = os.path.join(REPO, path)
            with open(full) as f:
                original = f.read()
            mutated = mutate(original, index, mutant)
            if mutated is None:
                tally["gone"] += 1
                say(f"gone      {label} (token not on the line)")
                continue
            # The previous mutant's file is rebuilt unmutated with this one; its programs may run again.
            before = binaries(build)
            started = time.time()
            restorer.apply(full, original, mutated)
            try:
                built = ninja(build)
                if not built:
                    outcome = "void"
                else:
                    after = binaries(build)
                    relinked = {name for name, stamp in after.items() if before.get(name) != stamp}
                    passed, count, failed = run_affected(build, table, relinked, left_out, args.timeout)
                    outcome = "survived" if passed else "killed"
                    killer = " by " + ", ".join(names[n] for n in sorted(failed)) if failed else ""
            finally:
                restorer.restore()
            tally[outcome] += 1
            at = f" (now {path}:{index + 1})" if (path, index + 1) != (mutant["file"], mutant["line"]) else ""
            extra = "" if outcome == "void" else f", {count} tests{killer if outcome == 'killed' else ''}"
            say(f"{outcome:<9} {label}{at} [{time.time() - started:.0f} s{extra}]")
    except KeyboardInterrupt:
        restorer.restore()
        say("interrupted")
    finally:
        restorer.restore()
        ninja(build)
    scored = tally["killed"] + tally["survived"]
    score = f"{100 * tally['killed'] / scored:.1f}%" if scored else "n/a"
    say(f"killed {tally['killed']} / survived {tally['survived']} / void {tally['void']} / gone {tally['gone']}"
        f" of {len(mutants)}; score killed/(killed+survived) = {score}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    s = sub.add_parser("sample")
    s.add_argument("--count", type=int, default=80)
    s.add_argument("--seed", type=int, default=16)
    s.add_argument("--out", default=DEFAULT_SAMPLE)
    r = sub.add_parser("run")
    r.add_argument("build")
    r.add_argument("--sample", default=DEFAULT_SAMPLE)
    r.add_argument("--log")
    r.add_argument("--only", help="comma-separated mutant ids")
    r.add_argument("--timeout", type=int, default=60, help="seconds per test without a timeout of its own")
    args = parser.parse_args()
    sample(args) if args.command == "sample" else run(args)


if __name__ == "__main__":
    main()
