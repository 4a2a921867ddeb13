#!/usr/bin/env python3
"""Lines of every C++ function definition (signature line to closing brace) in the
files given, longest first: "lines name file:line". Comments, strings and
preprocessor lines are blanked first; namespace, class and extern bodies are
looked into; braces of constructor initialiser lists are skipped.
Usage: bench/funclen.py [-n N] FILE...   (N longest, default all)"""
import re, sys

def blank(src):
    out, i, n = [], 0, len(src)
    keep = lambda s: re.sub(r"[^\n]", " ", s)
    pat = re.compile(r'//[^\n]*|/\*.*?\*/|R"([^(]*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'|^[ \t]*#(?:[^\n]*\\\n)*[^\n]*', re.S | re.M)
    return pat.sub(lambda m: keep(m.group(0)) if m.group(0).startswith(("/", "#", " ", "\t")) else '""' + keep(m.group(0)[2:]), src)

def functions(path):
    text = blank(open(path, encoding="utf-8", errors="replace").read())
    line_of = lambda pos: text.count("\n", 0, pos) + 1
    found, start, i = [], 0, 0          # start: where the current declaration began
    while i < len(text):
        c = text[i]
        if c in ";}":
            start = i + 1
        elif c == "{":
            head = text[start:i]
            if re.search(r"\b(namespace|extern)\b[^()]*$", head) or re.search(r"\b(class|struct|union)\b[^()=]*$", head):
                start = i + 1                        # look inside
            else:
                depth, j = 0, i
                init = re.search(r"\)\s*(noexcept\s*)?:(?!:)", head) is not None
                while j < len(text):                 # find the matching brace
                    depth += {"{": 1, "}": -1}.get(text[j], 0)
                    if depth == 0: break
                    j += 1
                after = text[j + 1:]
                if init and re.match(r"\s*[,{]", after) and re.search(r"[\w>]\s*$", head):
                    i = j + 1; continue              # member initialiser braces: still the signature
                m = re.search(r"([~\w:<>]*(?:operator\s*[^\s(]+|\w+))\s*\(", head)
                if m and ")" in head and not re.search(r"=\s*$", head.strip()) and not re.match(r"\s*(enum)\b", head):
                    first = start + len(head) - len(head.lstrip())
                    found.append((line_of(j) - line_of(first) + 1, m.group(1), f"{path}:{line_of(first)}"))
                start, i = j + 1, j + 1
                continue
        i += 1
    return found

args = sys.argv[1:]
n = int(args[1]) if args[:1] == ["-n"] else None
files = args[2:] if n is not None else args
rows = sorted((f for p in files for f in functions(p)), key=lambda r: -r[0])
for r in rows[:n]:
    print(f"{r[0]:5d} {r[1]} {r[2]}")
