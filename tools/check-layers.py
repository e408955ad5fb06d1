#!/usr/bin/env python3
"""Checks that the source tree keeps its layers: fails on the first kind of breach it finds.

  tools/check-layers.py [SOURCE_DIR]

The layers are the folders that the top-level CMakeLists.txt adds with add_subdirectory(), bottom
first. Each folder defines one library, corvalen_<folder>, built from its own files only; what it
links (target_link_libraries) is what it may use. The check fails when
  - a folder's CMakeLists.txt names a file of another folder,
  - a library links a layer that is added after it (an upward link, or a cycle),
  - a file includes a header of a folder that its library does not link, directly or through a
    lower layer (an upward or sideways include),
  - a layer below the windows links Qt Widgets or Qt Gui.
"""
import os
import re
import sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
problems = []


def read(path):
    with open(os.path.join(root, path), encoding="utf-8") as f:
        return f.read()


top = read("CMakeLists.txt")
layers = [d for d in re.findall(r"^add_subdirectory\((\w+)\)", top, re.M)
          if os.path.isfile(os.path.join(root, d, "CMakeLists.txt")) and d not in ("tests", "bench")]
rank = {d: i for i, d in enumerate(layers)}
links = {}
for layer in layers:
    text = read(os.path.join(layer, "CMakeLists.txt"))
    code = re.sub(r"#.*", "", text)
    for m in re.finditer(r"(\.\./|\$\{CMAKE_SOURCE_DIR\}/)([\w./-]+)", code):
        problems.append(f"{layer}/CMakeLists.txt names a file of another folder: {m.group(0)}")
    used = set()
    for m in re.finditer(r"target_link_libraries\(\s*(\w+)([^)]*)\)", code, re.S):
        if m.group(1) != f"corvalen_{layer}":
            continue
        for dep in re.findall(r"\bcorvalen_(\w+)", m.group(2)):
            used.add(dep)
        if rank[layer] < rank.get("windows", len(layers)) and re.search(r"Qt6::(Widgets|Gui)\b", m.group(2)):
            problems.append(f"{layer} links Qt Widgets or Gui, but lies below the windows")
    for dep in used:
        if dep not in rank:
            problems.append(f"corvalen_{layer} links corvalen_{dep}, which is no layer")
        elif rank[dep] >= rank[layer]:
            problems.append(f"corvalen_{layer} links corvalen_{dep}, a layer at or above it")
    links[layer] = used


def reachable(layer, seen=None):
    seen = set() if seen is None else seen
    for dep in links.get(layer, ()):
        if dep not in seen and rank.get(dep, -1) < rank[layer]:
            seen.add(dep)
            reachable(dep, seen)
    return seen


include = re.compile(r'^\s*#\s*include\s+"(\w+)/[\w./]+"', re.M)
for layer in layers:
    allowed = reachable(layer) | {layer}
    for dirpath, _, names in os.walk(os.path.join(root, layer)):
        for name in names:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.relpath(os.path.join(dirpath, name), root)
            for folder in include.findall(read(path)):
                if folder in rank and folder not in allowed:
                    problems.append(f"{path} includes a header of {folder}/, which {layer}/ may not use")

readme = read("README.md")
for layer in layers:
    if f"`{layer}/`" not in readme:
        problems.append(f"README.md's layout table does not list {layer}/")

for p in problems:
    print(p, file=sys.stderr)
if problems:
    sys.exit(1)
print(f"layers hold: {' < '.join(layers)}")
