#!/usr/bin/env python3
"""Checks the catalogue source and writes the C++ catalogue and the layout report.

usage: generate_catalogue.py SOURCE [--out DIR] [--api-document FILE]

Without --out or --api-document only the checks run. Every problem found is printed as
"SOURCE:LINE: message" and the exit status is 1.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from api_document import write_document  # noqa: E402
from catalogue_emit_cpp import write_cpp, write_log_levels  # noqa: E402
from catalogue_layout_report import write_layout_report  # noqa: E402
from catalogue_source import SourceError, read_catalogue  # noqa: E402
from catalogue_validation import validate  # noqa: E402


def main(argv) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source")
    parser.add_argument("--out", help="directory for introspection_gen.h/.cpp, loglevel_gen.h and layout.txt")
    parser.add_argument("--api-document", help="file for the API document (OpenAPI, JSON)")
    args = parser.parse_args(argv)

    try:
        catalogue = read_catalogue(args.source)
    except SourceError as error:
        print(f"{args.source}: {error}", file=sys.stderr)
        return 1
    problems = validate(catalogue)
    for line, message in problems:
        print(f"{args.source}:{line}: {message}", file=sys.stderr)
    if problems:
        print(f"{args.source}: {len(problems)} problem(s); nothing generated", file=sys.stderr)
        return 1
    if args.out:
        os.makedirs(args.out, exist_ok=True)
        write_cpp(catalogue, os.path.join(args.out, "introspection_gen.h"), os.path.join(args.out, "introspection_gen.cpp"))
        write_log_levels(catalogue, os.path.join(args.out, "loglevel_gen.h"))
        write_layout_report(catalogue, os.path.join(args.out, "layout.txt"))
    if args.api_document:
        os.makedirs(os.path.dirname(os.path.abspath(args.api_document)), exist_ok=True)
        write_document(catalogue, args.api_document)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
