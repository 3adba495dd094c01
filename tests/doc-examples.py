#!/usr/bin/env python3
"""Builds and runs every example that README.md and docs/api.md show, against the DLL of a Windows build
tree and its virtual camera, so the documentation cannot drift from what the SDK does.

An example is a fenced block preceded by a marker comment:

  <!-- example: program; output: TEXT -->      a whole C program: it must exit 0 (and print TEXT)
  <!-- example: fragment; setup: C; check: EXPR -->
                                              C statements run with `int h` (a handle from
                                              Tovira_Initialize on a fresh settings key) and `HWND
                                              hwnd`, `hwndMain` (a message window); after them EXPR
                                              must be true (it sees the fragment's variables)
  <!-- example: declarations; check: EXPR -->  C declarations compiled alone (without the header)
  <!-- example: tool lines -->                  shell lines: each `.../tovira_tool.exe ...` is run and
                                              must exit 0

A ```cpp block with the marker `program` is a whole C++17 program on ToviraSdk_Z400KX.hpp, built with the
C++ compiler and run alike. Fragments may call `AviFrames(path)`, the number of frames an AVI holds, read
back from its movi list (-1 when the file cannot be read), to check what a recording wrote. Fields may also stand on lines
of their own inside the comment. A ```c or ```cpp block without a marker fails the run: every example
must be checked.

usage: doc-examples.py <source dir> <windows build dir>
"""
import os
import re
import shutil
import subprocess
import sys

CC = "x86_64-w64-mingw32-gcc-posix"
CXX = "x86_64-w64-mingw32-g++-posix"
DOCUMENTS = ["README.md", "docs/api.md"]
MARKER = re.compile(r"<!--\s*example:\s*(\w+)(?:\s+lines)?(.*?)-->\s*\n```(\w*)\n(.*?)\n```", re.S)
FIELD = re.compile(r"(setup|check|output):\s*(.*?)(?=(?:;\s*|\n\s*)(?:setup|check|output):|\Z)", re.S)
SETTINGS_KEY = r"Software\Brenik\ToviraZ400KXSdk"

FRAGMENT_TEMPLATE = r"""#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "ToviraSdk_Z400KX_ext.h"

static int h;
static HWND hwnd, hwndMain;

/* The frames an AVI holds, read back: the chunks of stream 00 with data in the movi list of its first
   RIFF (the plain layout); -1 when the file cannot be read or is not an AVI. */
static unsigned long Le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | (unsigned long)p[3] << 24;
}
static long AviFrames(const char* path) {
    unsigned char head[12];
    long frames = -1, at = 12, end = 0;
    FILE* f = fopen(path, "rb");
    if (!f) return -1;
    if (fread(head, 1, 12, f) == 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "AVI ", 4) == 0) {
        end = 8 + (long)Le32(head + 4);
        while (at + 12 <= end && fseek(f, at, SEEK_SET) == 0 && fread(head, 1, 12, f) == 12) {
            const long size = (long)Le32(head + 4);
            if (memcmp(head, "LIST", 4) == 0 && memcmp(head + 8, "movi", 4) == 0) {
                const long last = at + 8 + size;
                frames = 0;
                for (at += 12; at + 8 <= last && fseek(f, at, SEEK_SET) == 0 && fread(head, 1, 8, f) == 8;) {
                    const long chunk = (long)Le32(head + 4);
                    if (memcmp(head, "00d", 3) == 0 && chunk > 0 && at + 8 + chunk <= last) ++frames;
                    at += 8 + chunk + (chunk & 1);
                }
                break;
            }
            at += 8 + size + (size & 1);
        }
    }
    fclose(f);
    return frames;
}

static int example(void) {
    %(setup)s;
#line %(line)d "%(document)s"
%(code)s
#line 1000 "fragment wrapper"
    return %(check)s;
}

int main(void) {
    (void)AviFrames;                          /* for the fragments that check a recording */
    RegDeleteTreeA(HKEY_CURRENT_USER, "%(key)s");
    hwnd = hwndMain = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    h = Tovira_Initialize(hwndMain);
    if (!h) { printf("Tovira_Initialize failed\n"); return 2; }
    while (Tovira_GetLastError(h) != 0) {}   /* the first run's 12 */
    const int ok = example();
    Tovira_Release(h);
    RegDeleteTreeA(HKEY_CURRENT_USER, "%(key)s");
    if (!ok) { printf("check failed: %%s\n", "%(check_text)s"); return 1; }
    return 0;
}
"""

DECLARATIONS_TEMPLATE = r"""#include <stdio.h>
#line %(line)d "%(document)s"
%(code)s
#line 1000 "declarations wrapper"
int main(void) {
    if (!(%(check)s)) { printf("check failed: %%s\n", "%(check_text)s"); return 1; }
    return 0;
}
"""


def c_string(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def examples(source):
    for document in DOCUMENTS:
        text = open(os.path.join(source, document), encoding="utf-8").read()
        marked = set()
        for m in MARKER.finditer(text):
            kind, fields_text, language, code = m.group(1), m.group(2), m.group(3), m.group(4)
            fields = {k: v.strip() for k, v in FIELD.findall(fields_text.strip().lstrip(";").strip())}
            code_line = text.count("\n", 0, m.start(4)) + 1
            marked.add(m.start(4))
            yield document, code_line, kind, language, fields, code
        # Every C and C++ block must carry a marker.
        for m in re.finditer(r"```(?:c|cpp)\n", text):
            if m.end() not in marked:
                yield document, text.count("\n", 0, m.end()) + 1, "unmarked", "c", {}, ""


def run(command, cwd, env, timeout=300):
    try:
        p = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=timeout,
                           errors="replace")
        return p.returncode, p.stdout + p.stderr
    except subprocess.TimeoutExpired:
        return -1, "timed out"


def main():
    source, build = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    work = os.path.join(build, "doc-examples")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    shutil.copy(os.path.join(build, "bin", "ToviraSdk_Z400KX.dll"), work)
    env = dict(os.environ, TOVIRA_VIRTUAL_CAMERAS="0", TOVIRA_VIRTUAL_PACE="fast")
    wine = os.path.join(build, "wine-run.sh")
    # Records initialised as { sizeof meta } warn under -Wextra in the readers' builds: such an example fails.
    compile_flags = ["-std=c99", "-Wall", "-Wextra", "-Werror=missing-field-initializers",
                     "-Werror=implicit-function-declaration", "-Werror=incompatible-pointer-types",
                     "-I", os.path.join(source, "include")]
    link = [os.path.join(build, "lib", "libToviraSdk_Z400KX.dll.a"), "-luser32", "-lgdi32", "-ladvapi32"]
    failed = passed = 0
    for number, (document, line, kind, language, fields, code) in enumerate(examples(source)):
        what = "%s:%d (%s)" % (document, line, kind)
        name = "example%02d" % number
        problem = None
        if kind == "unmarked":
            problem = "a C or C++ block without an example marker"
        elif kind in ("program", "fragment", "declarations"):
            if kind == "program":
                program = '#line %d "%s"\n%s\n' % (line, document, code)
            elif language == "cpp":
                problem = "only whole programs are C++ examples"
            elif kind == "fragment":
                check = fields.get("check", "1")
                program = FRAGMENT_TEMPLATE % {"setup": fields.get("setup", ""), "line": line, "document": document,
                                               "code": code, "check": check, "check_text": c_string(check),
                                               "key": c_string(SETTINGS_KEY)}
            else:
                check = fields.get("check", "1")
                program = DECLARATIONS_TEMPLATE % {"line": line, "document": document, "code": code,
                                                   "check": check, "check_text": c_string(check)}
        if problem is None and kind in ("program", "fragment", "declarations"):
            cpp = language == "cpp"
            c_file = os.path.join(work, name + (".cpp" if cpp else ".c"))
            open(c_file, "w").write(program)
            exe = os.path.join(work, name + ".exe")
            flags = compile_flags if kind != "declarations" else compile_flags[:-2]
            if cpp:
                # C++17 with every warning; the runtime linked in, so the program needs only the SDK's DLL.
                flags = ["-std=c++17", "-Wall", "-Wextra", "-Werror", "-I", os.path.join(source, "include")]
                flags += ["-static-libgcc", "-static-libstdc++", "-static"]
            code_, out = run([CXX if cpp else CC] + flags + [c_file, "-o", exe] +
                             (link if kind != "declarations" else []), work, env)
            if code_ != 0:
                problem = "does not compile:\n" + out
            else:
                code_, out = run([wine, exe], work, env)
                if code_ != 0:
                    problem = "exit code %d:\n%s" % (code_, out)
                elif "output" in fields and fields["output"] not in out:
                    problem = "output lacks %r:\n%s" % (fields["output"], out)
        elif kind == "tool":
            tool_lines = [l.strip() for l in code.splitlines() if "tovira_tool.exe" in l]
            if not tool_lines:
                problem = "no tovira_tool line"
            for l in tool_lines:
                arguments = l.split("tovira_tool.exe", 1)[1].split("#", 1)[0].split()
                code_, out = run([wine, os.path.join(build, "bin", "tovira_tool.exe")] + arguments, work, env)
                if code_ != 0:
                    problem = "%r exit code %d:\n%s" % (l, code_, out)
                    break
        elif kind not in ("unmarked", "program", "fragment", "declarations"):
            problem = "unknown example kind " + kind
        if problem:
            failed += 1
            print("FAILED:", what, problem)
        else:
            passed += 1
            print("ok:", what)
    print("%d examples passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
