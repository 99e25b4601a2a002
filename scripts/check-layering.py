#!/usr/bin/env python3
"""Fails when a file includes what its folder may not: README's rules, as data.

What a folder may include runs one way, and the project root is an include folder of every
target, so only this check keeps the direction. It also fails on a loop between the modules of
one folder (a module is a .h and its .cpp), on system headers outside platform/ that only the
platform layer may see, and on curl or the update client where the transfers must not see them.
Run from anywhere: python3 scripts/check-layering.py
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Folder -> the other folders of the project its files may include (its own always).
MAY_INCLUDE = {
    "platform": set(),
    "names": set(),
    "wire": set(),
    "log": {"platform", "names"},
    "trust": {"platform", "names"},
    "update": {"platform", "names", "wire", "log", "trust"},
    "staging": {"platform", "names", "wire", "log", "trust", "update"},
    "process": {"platform", "log"},
    "ui": {"platform"},
    "resources": set(),
    "launcher": {"platform", "names", "wire", "log", "trust", "update", "staging", "process", "ui", "resources"},
    "tools": {"platform", "names", "wire", "trust"},
    "uninstall": {"platform", "names", "log", "update", "staging", "process"},
}

# System headers that only platform/ includes: the operating system's own interfaces.
PLATFORM_ONLY = {"windows.h", "unistd.h", "fcntl.h", "dirent.h", "signal.h", "spawn.h", "pthread.h",
                 "winsock2.h", "shlobj.h", "shellapi.h"}
PLATFORM_ONLY_PREFIXES = ("sys/",)
# Folders that are the launcher's product (the tools are Linux programs of their own).
PRODUCT = {"names", "wire", "log", "trust", "update", "staging", "process", "ui", "resources", "launcher",
           "uninstall"}

# In update/, curl is seen by the .cpp files and by these headers, which only they include.
CURL_HEADERS = {"curl_easy_handle.h", "transfer_options.h", "proxy_options.h", "transfer_share.h",
                "file_transfer_state.h"}
# The transfers take a TransferContext and never see the client.
TRANSFERS = {"file_transfer", "http_transfer", "transfer_group"}

# Headers that are the private part of another module (its pimpl state), not modules of their own.
PART_OF = {"update/file_transfer_state": "update/file_transfer"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def source_files():
    for folder in MAY_INCLUDE:
        for directory, _, names in os.walk(os.path.join(ROOT, folder)):
            for name in sorted(names):
                if name.endswith((".h", ".cpp", ".inc")):
                    path = os.path.join(directory, name)
                    yield os.path.relpath(path, ROOT).replace(os.sep, "/")


def includes_of(path):
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as text:
        return INCLUDE.findall(text.read())


def resolve(path, included):
    """The project path an include names: as written from the root, or beside the file."""
    beside = os.path.normpath(os.path.join(os.path.dirname(path), included)).replace(os.sep, "/")
    if os.path.isfile(os.path.join(ROOT, beside)) and not os.path.isfile(os.path.join(ROOT, included)):
        return beside
    return os.path.normpath(included).replace(os.sep, "/")


def is_platform_header(included):
    name = included.lower()
    return name in PLATFORM_ONLY or name.startswith(PLATFORM_ONLY_PREFIXES)


def module(path):
    name = os.path.splitext(path)[0]
    return PART_OF.get(name, name)


def find_loops(edges):
    """Each loop of the module graph once, as a list of modules."""
    loops, state, stack = [], {}, []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for target in sorted(edges.get(node, ())):
            if state.get(target) == "open":
                loops.append(stack[stack.index(target):] + [target])
            elif target not in state:
                visit(target)
        stack.pop()
        state[node] = "done"

    for node in sorted(edges):
        if node not in state:
            visit(node)
    return loops


def reaches(start, target, graph):
    """Whether `target` is among the files `start` includes, directly or through others."""
    seen, todo = set(), [start]
    while todo:
        for included in graph.get(todo.pop(), ()):
            if included == target:
                return True
            if included not in seen:
                seen.add(included)
                todo.append(included)
    return False


def main():
    problems = []
    edges = {}
    graph = {}  # file -> the project files it includes
    for path in source_files():
        folder = path.split("/")[0]
        name = path.split("/")[-1]
        for _, written in includes_of(path):
            included = resolve(path, written)
            if is_platform_header(included) and folder in PRODUCT:
                problems.append(f"{path}: {written} belongs to platform/")
            if included.startswith("curl/") and folder in PRODUCT and not (
                    folder == "update" and (name.endswith(".cpp") or name in CURL_HEADERS)):
                problems.append(f"{path}: {written} is seen only by update/'s transfers")
            target_folder = included.split("/")[0]
            if target_folder not in MAY_INCLUDE or "/" not in included:
                continue  # a system, test or third-party header
            graph.setdefault(path, set()).add(included)
            if target_folder != folder and target_folder not in MAY_INCLUDE[folder]:
                problems.append(f"{path}: {folder}/ may not include {included}")
            # The headers that carry curl are included only by update/'s .cpp files and each other.
            if (included.startswith("update/") and included.split("/")[-1] in CURL_HEADERS and
                    not (folder == "update" and (name.endswith(".cpp") or name in CURL_HEADERS))):
                problems.append(f"{path}: {included} carries curl, seen only by update/'s .cpp files")
            if target_folder == folder and module(path) != module(included):
                edges.setdefault(module(path), set()).add(module(included))
    for path in graph:
        if (path.startswith("update/") and os.path.splitext(path.split("/")[-1])[0] in TRANSFERS and
                reaches(path, "update/update_checker.h", graph)):
            problems.append(f"{path}: the transfers never include the client (update/update_checker.h)")
    for loop in find_loops(edges):
        problems.append("include loop: " + " -> ".join(loop))
    for problem in problems:
        print("check-layering: " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
