"""Checks that a catalogue is consistent in itself: unique names and events, fields and rows that fit
their element or payload without overlap and at their alignment, values their setters accept.

validate() answers a list of (source line, message); an empty list means the catalogue may be generated.
"""

import re
from typing import List, Optional, Tuple

from catalogue_source import SCALAR_SIZES, Catalogue, Row, Struct

Problems = List[Tuple[int, str]]
INT_RANGE = (-(2**31), 2**31 - 1)
FLOAT_LIMIT = 3.4028234663852886e38


def struct_alignment(catalogue: Catalogue, struct: Struct, seen=()) -> int:
    alignment = 1
    for fld in struct.fields:
        if fld.kind in ("int", "float", "enum"):
            alignment = 4
        elif fld.kind == "struct" and fld.type_name not in seen:
            nested = catalogue.struct(fld.type_name)
            if nested:
                alignment = max(alignment, struct_alignment(catalogue, nested, seen + (struct.name,)))
    return alignment


def row_size(catalogue: Catalogue, row: Row) -> int:
    if row.kind in SCALAR_SIZES:
        return SCALAR_SIZES[row.kind]
    if row.kind == "enum":
        return 4
    if row.kind in ("string", "buffer"):
        return row.length
    return catalogue.struct(row.type_name).size * (row.length if row.length is not None else 1)


def row_alignment(catalogue: Catalogue, row: Row) -> int:
    if row.kind in ("int", "float", "enum"):
        return 4
    if row.kind == "struct":
        return struct_alignment(catalogue, catalogue.struct(row.type_name))
    return 1


def _int_text(text: str) -> Optional[int]:
    """The value the unit's int setter reads from text (leading number, base from its prefix), or None."""
    match = re.match(r"\s*([+-]?)(0[xX][0-9a-fA-F]+|0[0-7]*|[1-9][0-9]*)", text)
    if not match:
        return None
    digits = match.group(2)
    base = 16 if digits[:2].lower() == "0x" else 8 if digits.startswith("0") and len(digits) > 1 else 10
    value = int(digits, base) * (-1 if match.group(1) == "-" else 1)
    return value if INT_RANGE[0] <= value <= INT_RANGE[1] else None


def _float_text(text: str) -> Optional[float]:
    match = re.match(r"\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?", text)
    if not match:
        return None
    value = float(match.group(0))
    return value if abs(value) <= FLOAT_LIMIT else None


def _value_problem(kind: str, text: str, capacity: Optional[int], enum_entries: Optional[List[str]]) -> Optional[str]:
    """Why text would not be accepted as a value of kind, or None."""
    if kind == "int" and _int_text(text) is None:
        return f"'{text}' is not an int"
    if kind == "float" and _float_text(text) is None:
        return f"'{text}' is not a float"
    if kind == "bool" and text not in ("true", "false"):
        return f"'{text}' is not true or false"
    if kind == "enum" and text not in enum_entries:
        return f"'{text}' is not an entry of the enumeration"
    if kind == "string" and len(text.encode("utf-8")) > capacity - 1:
        return f"'{text}' does not fit {capacity - 1} characters"
    if kind == "buffer" and (not re.fullmatch(r"[0-9a-fA-F]*", text) or len(text) > 2 * capacity):
        return f"'{text}' is not at most {capacity} hexadecimal byte pairs"
    return None


class _Checker:
    def __init__(self, catalogue: Catalogue) -> None:
        self.catalogue = catalogue
        self.problems: Problems = []

    def fail(self, line: int, message: str) -> None:
        self.problems.append((line, message))

    def run(self) -> Problems:
        self.enumerations()
        self.structures()
        self.memories()
        self.rows()
        self.layout()
        self.values()
        self.events()
        return self.problems

    # -- enumerations
    def enumerations(self) -> None:
        self._unique("enumeration", self.catalogue.enums)
        for enum in self.catalogue.enums:
            duplicates = sorted({e for e in enum.entries if enum.entries.count(e) > 1})
            if duplicates:
                self.fail(enum.line, f"enumeration {enum.name} repeats {', '.join(duplicates)}")
        self.log_level_names()

    def log_level_names(self) -> None:
        # The diagnostic layer takes its levels from this enumeration, and names DebugAll and Error.
        enum = self.catalogue.enum("LogLevel")
        if enum is None or not {"DebugAll", "Error"} <= set(enum.entries):
            self.fail(enum.line if enum else 1, "the diagnostic layer's levels: enum LogLevel with DebugAll and Error")

    # -- structures
    def structures(self) -> None:
        self._unique("structure", self.catalogue.structs)
        for struct in self.catalogue.structs:
            self.structure(struct)

    def structure(self, struct: Struct) -> None:
        end = 0
        for position, fld in enumerate(struct.fields):
            where = f"{struct.name}.{fld.name}"
            if fld.kind == "enum" and self.catalogue.enum(fld.type_name) is None:
                self.fail(fld.line, f"{where}: unknown type {fld.type_name}")
                continue
            if fld.kind == "struct":
                nested = self.catalogue.struct(fld.type_name)
                if nested is None or fld.count is None or nested is struct:
                    self.fail(fld.line, f"{where}: '{fld.type_name}' is no enumeration or nested structure array")
                    continue
                size = nested.size * fld.count
                alignment = struct_alignment(self.catalogue, nested)
            elif fld.kind == "string":
                following = struct.fields[position + 1].offset if position + 1 < len(struct.fields) else struct.size
                size, alignment = following - fld.offset, 1
                if size < 2:
                    self.fail(fld.line, f"{where}: a string needs room for a character and its NUL")
            else:
                size = SCALAR_SIZES.get(fld.kind, 4)
                alignment = size
            if fld.offset < end:
                self.fail(fld.line, f"{where} at {fld.offset} overlaps the field before it (which ends at {end})")
            if fld.offset % alignment:
                self.fail(fld.line, f"{where} at {fld.offset} is not aligned to {alignment} bytes")
            if fld.offset + size > struct.size:
                self.fail(fld.line, f"{where} reaches past the element size {struct.size}")
            if fld.kind not in ("int", "float") and (fld.minimum is not None or fld.maximum is not None):
                self.fail(fld.line, f"{where}: only int and float fields have bounds")
            end = max(end, fld.offset + size)
        if not struct.fields:
            self.fail(struct.line, f"structure {struct.name} has no fields")
        elif struct.size % struct_alignment(self.catalogue, struct):
            self.fail(struct.line, f"element size {struct.size} of {struct.name} is not a multiple of its alignment")

    # -- memories and rows
    def memories(self) -> None:
        self._unique("memory", self.catalogue.memories)

    def rows(self) -> None:
        for memory in self.catalogue.memories:
            names = [r.name for r in memory.rows]
            for index, row in enumerate(memory.rows):
                if not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", row.name):
                    self.fail(row.line, f"{memory.name}.{row.name}: not a valid name")
                if row.name in names[:index]:
                    self.fail(row.line, f"{memory.name}.{row.name} is listed twice")
                self.row(memory.name, row)

    def row(self, memory: str, row: Row) -> None:
        where = f"{memory}.{row.name}"
        if row.kind == "enum" and self.catalogue.enum(row.type_name) is None:
            self.fail(row.line, f"{where}: unknown type {row.type_name}")
        if row.kind == "struct" and self.catalogue.struct(row.type_name) is None:
            self.fail(row.line, f"{where}: unknown type {row.type_name}")
        if row.kind in ("string", "buffer") and row.length < 1 + (row.kind == "string"):
            self.fail(row.line, f"{where}: length {row.length} is too small")
        if row.kind == "struct" and row.length == 0:
            self.fail(row.line, f"{where}: an array needs at least one element")
        if row.kind not in ("int", "float") and (row.minimum is not None or row.maximum is not None):
            self.fail(row.line, f"{where}: only int and float rows carry min and max")
        self.bounds(where, row)

    def bounds(self, where: str, row: Row) -> None:
        convert = _int_text if row.kind == "int" else _float_text
        values = []
        for text in (row.minimum, row.maximum):
            if text is None:
                continue
            value = convert(text)
            if value is None or (row.kind == "int" and str(value) != text):
                self.fail(row.line, f"{where}: bound '{text}' is not a plain {row.kind}")
            values.append(value)
        if (row.minimum is None) != (row.maximum is None):
            self.fail(row.line, f"{where}: give both min and max or neither")
        elif len(values) == 2 and None not in values and values[0] > values[1]:
            self.fail(row.line, f"{where}: min {row.minimum} is above max {row.maximum}")

    def layout(self) -> None:
        for memory in self.catalogue.memories:
            placed = []
            for row in memory.rows:
                if row.kind in ("enum", "struct") and (
                    self.catalogue.enum(row.type_name) is None and self.catalogue.struct(row.type_name) is None
                ):
                    continue
                where = f"{memory.name}.{row.name}"
                size, alignment = row_size(self.catalogue, row), row_alignment(self.catalogue, row)
                if row.offset % alignment:
                    self.fail(row.line, f"{where} at {row.offset} is not aligned to {alignment} bytes")
                if row.offset + size > memory.size:
                    self.fail(row.line, f"{where} ({row.offset}+{size}) reaches past the payload size {memory.size}")
                if row.copy_of is None:
                    placed.append((row.offset, row.offset + size, row))
            placed.sort(key=lambda p: (p[0], p[1]))
            for (_, end, before), (start, _, row) in zip(placed, placed[1:]):
                if start < end:
                    self.fail(row.line, f"{memory.name}.{row.name} at {start} overlaps {before.name} "
                              f"({before.offset}..{end - 1})")

    def values(self) -> None:
        for memory in self.catalogue.memories:
            for row in memory.rows:
                if row.copy_of is not None:
                    continue
                if row.kind == "struct":
                    if row.default is not None:
                        self.fail(row.line, f"{memory.name}.{row.name}: structures take 'default ROW[INDEX] ...' lines")
                    continue
                if row.default is None:
                    continue
                enum = self.catalogue.enum(row.type_name)
                problem = _value_problem(row.kind, row.default, row.length, enum.entries if enum else None)
                if problem:
                    self.fail(row.line, f"{memory.name}.{row.name}: default {problem}")
            for default in memory.struct_defaults:
                self.struct_default(memory, default)

    def struct_default(self, memory, default) -> None:
        row = next((r for r in memory.rows if r.name == default.row and r.copy_of is None), None)
        struct = self.catalogue.struct(row.type_name) if row and row.kind == "struct" else None
        if struct is None:
            self.fail(default.line, f"{memory.name}.{default.row} is no structure row")
            return
        if default.index >= (row.length if row.length is not None else 1):
            self.fail(default.line, f"{memory.name}.{default.row} has no element {default.index}")
        for name, text in default.values.items():
            position = next((i for i, f in enumerate(struct.fields) if f.name == name), None)
            if position is None or struct.fields[position].kind == "struct":
                self.fail(default.line, f"{struct.name} has no settable field {name}")
                continue
            fld = struct.fields[position]
            following = struct.fields[position + 1].offset if position + 1 < len(struct.fields) else struct.size
            enum = self.catalogue.enum(fld.type_name)
            problem = _value_problem(fld.kind, text, following - fld.offset, enum.entries if enum else None)
            if problem:
                self.fail(default.line, f"{struct.name}.{name}: default {problem}")

    def events(self) -> None:
        owners = {}
        for memory in self.catalogue.memories:
            for row in memory.rows:
                if row.copy_of is not None:
                    continue
                if row.event in owners:
                    self.fail(row.line, f"{memory.name}.{row.name} uses event {row.event}, already used by "
                              f"{owners[row.event][0]}.{owners[row.event][1].name}")
                    continue
                owners[row.event] = (memory.name, row)
        for number, name in self.catalogue.events.items():
            line = self.catalogue.event_lines[number]
            if number in owners:
                owner = owners[number][1]
                self.fail(line, f"event {number} is named {name} here, but {owner.name} uses it as "
                          f"Var{owner.name}Changed")
        numbers = set(owners) | set(self.catalogue.events)
        missing = [n for n in range(max(numbers, default=-1) + 1) if n not in numbers]
        if missing:
            self.fail(1, f"event numbers without a name: {_ranges(missing)}")
        names = [f"Var{r.name}Changed" for _, r in owners.values()] + list(self.catalogue.events.values())
        for name in sorted({n for n in names if names.count(n) > 1}):
            self.fail(1, f"event name {name} is given to more than one number")

    # -- helpers
    def _unique(self, what: str, items) -> None:
        seen = set()
        for item in items:
            if item.name in seen:
                self.fail(item.line, f"{what} {item.name} is defined twice")
            seen.add(item.name)


def _ranges(numbers: List[int]) -> str:
    parts, start = [], None
    for index, number in enumerate(numbers):
        if start is None:
            start = number
        if index + 1 == len(numbers) or numbers[index + 1] != number + 1:
            parts.append(str(start) if start == number else f"{start}-{number}")
            start = None
    return ", ".join(parts)


def validate(catalogue: Catalogue) -> Problems:
    return _Checker(catalogue).run()
