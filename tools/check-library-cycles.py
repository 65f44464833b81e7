#!/usr/bin/python3
"""Fails when a library links one that depends back on it, directly or through others.

    tools/check-library-cycles.py BUILD_DIR      (a configured build folder)

Reads the link graph CMake writes with --graphviz and names every cycle among the project's libraries:
dependencies run one way (diagnostics, event loop and segments, catalogue, service), so none may close.
"""
import os
import re
import subprocess
import sys
import tempfile

NODE = re.compile(r'^\s*"(node\d+)"\s*\[\s*label\s*=\s*"([^"]*)"\s*,\s*shape\s*=\s*(\w+)')
EDGE = re.compile(r'^\s*"(node\d+)"\s*->\s*"(node\d+)"')


def link_graph(build):
    with tempfile.TemporaryDirectory() as folder:
        dot = os.path.join(folder, "targets.dot")
        subprocess.run(["cmake", f"--graphviz={dot}", "."], cwd=build, check=True, stdout=subprocess.DEVNULL)
        with open(dot) as f:
            text = f.read().splitlines()
    names, libraries, edges = {}, set(), {}
    for line in text:
        node = NODE.match(line)
        if node:
            names[node.group(1)] = node.group(2)
            if node.group(3) != "egg":  # executables are drawn as eggs
                libraries.add(node.group(1))
            continue
        edge = EDGE.match(line)
        if edge:
            edges.setdefault(edge.group(1), set()).add(edge.group(2))
    graph = {n: {m for m in edges.get(n, ()) if m in libraries} for n in libraries}
    return {names[n]: {names[m] for m in deps} for n, deps in graph.items()}


def cycles(graph):
    """Strongly connected components with more than one library, or a library linking itself."""
    index, low, stack, on_stack, found, counter = {}, {}, [], set(), [], [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for other in graph[node]:
            if other not in index:
                visit(other)
                low[node] = min(low[node], low[other])
            elif other in on_stack:
                low[node] = min(low[node], index[other])
        if low[node] == index[node]:
            component = []
            while True:
                other = stack.pop()
                on_stack.discard(other)
                component.append(other)
                if other == node:
                    break
            if len(component) > 1 or node in graph[node]:
                found.append(sorted(component))

    sys.setrecursionlimit(10000)
    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    found = cycles(link_graph(sys.argv[1]))
    for component in found:
        print("libraries that link each other: " + ", ".join(component), file=sys.stderr)
    if found:
        sys.exit(1)
    print("no cycle among the libraries")


if __name__ == "__main__":
    main()
