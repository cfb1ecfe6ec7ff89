#!/usr/bin/env python3
"""Runs every example of a manual page and compares it with the output the
page shows, so the manual stays true of the program.

Marking, in the Markdown source:

  ```mox [exit=N] [args=WORDS] [file=NAME] [needs=mx2class|flat]
  a whole program
  ```
  ```output
  what it prints on standard output
  ```

A mox block is saved as example.mox (or NAME) and run with
`mx2 example.mox WORDS`; the exit code must be N (default 0). With file=NAME
the block is only saved, for later blocks to use. A ```cpp or ```c block is
a complete host program: compiled against the library, run, and compared.
A ```cpp so=NAME block is built as the loadable module NAME.so instead, for
later blocks to import. A ```sh block runs with bash in the folder of the saved files, mx2 on PATH.
A ```python block runs with this Python, the library's folder on
LD_LIBRARY_PATH (so ctypes.CDLL("libmoxlib.so.2") finds it); it is skipped
when the library is built with sanitizers, whose runtime Python lacks.
Every block that runs must be followed by an ```output block (it may be
empty). needs=mx2class skips the example when the plug-in was not built,
needs=flat when the flat interface header does not exist, needs=json when
the library was built without JSON support. Other fences
(```text and the like) are prose and are not run.
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

RUNNABLE = ("mox", "cpp", "c", "sh", "python")


def parse_blocks(text):
    """(line, language, attributes, body) for every fenced block."""
    blocks = []
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        m = re.match(r"^```(\S*)\s*(.*)$", lines[i])
        if not m:
            i += 1
            continue
        start = i + 1
        lang, rest = m.group(1), m.group(2)
        body = []
        i += 1
        while i < len(lines) and lines[i] != "```":
            body.append(lines[i])
            i += 1
        if i == len(lines):
            raise SystemExit("unclosed fence at line %d" % start)
        attrs = dict(w.split("=", 1) for w in shlex.split(rest) if "=" in w)
        blocks.append((start, lang, attrs, "\n".join(body) + "\n" if body else ""))
        i += 1
    return blocks


class Runner:
    def __init__(self, opts, workdir):
        self.o = opts
        self.dir = workdir
        self.env = dict(os.environ)
        self.env["PATH"] = os.path.dirname(opts.mx2) + os.pathsep + self.env.get("PATH", "")
        self.env["MOX_ENVIRONMENT"] = os.path.join(workdir, "environment")
        self.env.pop("MOXLIB", None)

    def run(self, argv, exit_code=None):
        p = subprocess.run(argv, cwd=self.dir, env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        out = p.stdout.decode("utf-8", "replace")
        problems = []
        # Standard error is not part of what the manual shows (run-time
        # errors may add a call trace there); it only helps explain a failure.
        if exit_code is not None and p.returncode != exit_code:
            problems.append("exit code %d, expected %d" % (p.returncode, exit_code))
            if p.stderr:
                problems.append("stderr: " + p.stderr.decode("utf-8", "replace")[:2000])
        return out, problems

    def save(self, name, body):
        with open(os.path.join(self.dir, name), "w", encoding="utf-8") as f:
            f.write(body)

    def mox(self, attrs, body):
        name = attrs.get("file", "example.mox")
        self.save(name, body)
        if "file" in attrs:
            return None, []
        args = shlex.split(attrs.get("args", ""))
        return self.run([self.o.mx2, name] + args, int(attrs.get("exit", "0")))

    def host(self, lang, attrs, body):
        module = attrs.get("so")
        src = (module or "host") + "." + ("cpp" if lang == "cpp" else "c")
        self.save(src, body)
        exe = os.path.join(self.dir, module + ".so" if module else "host")
        compiler = self.o.cxx if lang == "cpp" else self.o.cc
        std = "-std=c++17" if lang == "cpp" else "-std=c99"
        cmd = [compiler, std, "-Wall", "-Wextra", "-Werror"] + self.o.flags.split()
        cmd += ["-I" + d for d in self.o.include]
        if module:
            cmd += ["-shared", "-fPIC"]
        cmd += [src, "-o", exe, "-L" + self.o.libdir, "-lmoxlib", "-Wl,-rpath," + self.o.libdir]
        p = subprocess.run(cmd, cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if p.returncode != 0:
            return "", ["does not compile:\n" + p.stdout.decode("utf-8", "replace")[:4000]]
        if module:
            return None, []
        return self.run([exe], int(attrs.get("exit", "0")))

    def python(self, attrs, body):
        self.save("example.py", body)
        env = dict(self.env)
        env["LD_LIBRARY_PATH"] = self.o.libdir + os.pathsep + env.get("LD_LIBRARY_PATH", "")
        saved, self.env = self.env, env
        try:
            return self.run([sys.executable, "example.py"], int(attrs.get("exit", "0")))
        finally:
            self.env = saved

    def sh(self, body):
        out, problems = self.run(["bash", "-c", body])
        return out, [q for q in problems if not q.startswith("exit code")]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mx2", required=True)
    ap.add_argument("--cxx", default="c++")
    ap.add_argument("--cc", default="cc")
    ap.add_argument("--flags", default="")
    ap.add_argument("--include", action="append", default=[])
    ap.add_argument("--libdir", required=True)
    ap.add_argument("--have", action="append", default=[], help="mx2class, flat, json")
    ap.add_argument("page")
    o = ap.parse_args()
    o.mx2 = os.path.abspath(o.mx2)
    o.libdir = os.path.abspath(o.libdir)
    o.include = [os.path.abspath(d) for d in o.include]
    with open(o.page, encoding="utf-8") as f:
        blocks = parse_blocks(f.read())

    failures, ran, skipped = [], 0, 0
    workdir = tempfile.mkdtemp(prefix="moxdoc_")
    try:
        r = Runner(o, workdir)
        for k, (line, lang, attrs, body) in enumerate(blocks):
            if lang not in RUNNABLE:
                continue
            nxt = blocks[k + 1] if k + 1 < len(blocks) else None
            saves_only = (lang == "mox" and "file" in attrs) or (lang == "cpp" and "so" in attrs)
            if not saves_only and (nxt is None or nxt[1] != "output"):
                failures.append("line %d: %s example without an output block" % (line, lang))
                continue
            needs = attrs.get("needs")
            if (needs and needs not in o.have) or (lang == "python" and "sanitize" in o.flags):
                skipped += 1
                continue
            if lang == "mox":
                out, problems = r.mox(attrs, body)
            elif lang == "sh":
                out, problems = r.sh(body)
            elif lang == "python":
                out, problems = r.python(attrs, body)
            else:
                out, problems = r.host(lang, attrs, body)
            if saves_only:
                for q in problems:
                    failures.append("line %d (%s): %s" % (line, lang, q))
                continue
            ran += 1
            if out != nxt[3]:
                problems.append("output differs:\n--- expected\n%s--- actual\n%s" % (nxt[3], out))
            for q in problems:
                failures.append("line %d (%s): %s" % (line, lang, q))
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    print("%s: %d examples ran, %d skipped" % (os.path.basename(o.page), ran, skipped))
    for f in failures:
        print("FAILED " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
