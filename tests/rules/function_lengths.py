#!/usr/bin/env python3
"""Lists the functions of C++ files whose bodies are longer than a limit.

    tests/rules/function_lengths.py [--limit N] FOLDER_OR_FILE...
    tests/rules/function_lengths.py --self-test

Prints one line a long function ("file:line: 57 lines") and exits 1 when there is any.
A function is a brace block opened after a parenthesis at namespace or class level;
lambdas and blocks inside a function count as part of it. Comments, strings and character
literals are passed over, so a brace inside them changes nothing.
"""
import argparse
import pathlib
import re
import sys

SOURCES = (".cpp", ".h")


def strip(text):
    """The text with comments, strings and character literals blanked, newlines kept."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif text.startswith('R"', i):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c if j - i >= 2 else c)
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def long_functions(path, limit):
    text = strip(path.read_text(encoding="utf-8", errors="replace"))
    # Preprocessor lines hold no braces of interest.
    text = re.sub(r"(?m)^[ \t]*#.*$", lambda m: " " * len(m.group(0)), text)
    stack = []  # the open braces: (kind, line), kind one of ns, type, func, other
    head_start = 0
    found = []
    for i, c in enumerate(text):
        if c == "{":
            head = text[head_start:i]
            if stack and stack[-1][0] in ("func", "other"):
                kind = "other"
            elif re.search(r"\bnamespace\b|\bextern\s*\"", head):
                kind = "ns"
            elif re.search(r"\b(class|struct|union|enum)\b", head) and "(" not in head:
                kind = "type"
            elif "(" in head and not re.search(r"=\s*$", head):
                kind = "func"
            else:
                kind = "other"
            stack.append((kind, text.count("\n", 0, i) + 1))
            head_start = i + 1
        elif c == "}":
            if stack:
                kind, start = stack.pop()
                body = text.count("\n", 0, i) + 1 - start - 1
                if kind == "func" and body > limit:
                    found.append((start, body))
            head_start = i + 1
        elif c == ";":
            head_start = i + 1
    return found


def self_test():
    """Checks the counting on small sources whose answers are known."""
    import tempfile

    def body(lines):
        return "".join(f"    x += {k};\n" for k in range(lines))

    cases = [
        ("a function of 41 lines", "int f()\n{\n" + body(41) + "}\n", [(2, 41)]),
        ("one of 40 lines", "int f()\n{\n" + body(40) + "}\n", []),
        ("braces in strings and comments", 'int f()\n{\n    s = "}}}";\n    // }\n    c = \'}\';\n'
         + body(39) + "}\n", [(2, 42)]),
        ("a lambda and blocks inside", "int f()\n{\n    auto g = [] {\n" + body(20)
         + "    };\n    if (x) {\n" + body(20) + "    }\n}\n", [(2, 44)]),
        ("a member inside a class in a namespace", "namespace n {\nclass C\n{\n    void m()\n    {\n"
         + body(41) + "    }\n};\n}\n", [(5, 41)]),
        ("an initializer list is no function", "const int t[] = {\n" + "1,\n" * 50 + "};\n", []),
    ]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for name, source, expected in cases:
            path = pathlib.Path(folder) / "sample.cpp"
            path.write_text(source)
            got = long_functions(path, 40)
            if got != expected:
                print(f"self-test: {name}: expected {expected}, got {got}")
                failures += 1
    print(f"self-test: {len(cases) - failures} of {len(cases)} cases hold")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--limit", type=int, default=40)
    parser.add_argument("--self-test", action="store_true")
    parser.add_argument("paths", nargs="*")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    files = []
    for p in map(pathlib.Path, args.paths):
        files += sorted(f for f in p.rglob("*") if f.suffix in SOURCES) if p.is_dir() else [p]
    status = 0
    for f in files:
        for line, body in long_functions(f, args.limit):
            print(f"{f}:{line}: {body} lines")
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
