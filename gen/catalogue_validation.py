"""Checks a catalogue against the required facts (catalogue_facts) and against itself.

validate() answers a list of (source line, message); an empty list means the catalogue may be generated.
"""

import re
from typing import List, Optional, Tuple

import catalogue_facts as facts
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
    def __init__(self, catalogue: Catalogue, log_source: Optional[str]) -> None:
        self.catalogue = catalogue
        self.log_source = log_source
        self.problems: Problems = []

    def fail(self, line: int, message: str) -> None:
        self.problems.append((line, message))

    def run(self) -> Problems:
        self.enumerations()
        self.structures()
        if self.memories():
            self.rows()
            self.type_counts()
            self.telling_rows()
            self.layout()
            self.values()
            self.events()
        return self.problems

    # -- enumerations
    def enumerations(self) -> None:
        got = [e.name for e in self.catalogue.enums]
        wanted = [name for name, _, _ in facts.ENUMS]
        if got != wanted:
            self.fail(self._first_line(self.catalogue.enums), _order_message("enumerations", got, wanted))
        for name, count, entries in facts.ENUMS:
            enum = self.catalogue.enum(name)
            if enum is None:
                continue
            if len(enum.entries) != count:
                self.fail(enum.line, f"enumeration {name} has {len(enum.entries)} entries, needs {count}")
            if entries is not None and enum.entries != entries:
                self.fail(enum.line, f"enumeration {name}: " + _order_message("entries", enum.entries, entries))
            duplicates = sorted({e for e in enum.entries if enum.entries.count(e) > 1})
            if duplicates:
                self.fail(enum.line, f"enumeration {name} repeats {', '.join(duplicates)}")
        self.log_level_names()

    def log_level_names(self) -> None:
        if self.log_source is None:
            return
        match = re.search(r"LOGLEVEL_NAME_ARRAY\[\]\s*=\s*\{([^}]*)\}", self.log_source)
        enum = self.catalogue.enum("LogLevel")
        if match is None or enum is None:
            self.fail(enum.line if enum else 1, "the diagnostic layer's LOGLEVEL_NAME_ARRAY was not found")
            return
        names = re.findall(r'"([^"]*)"', match.group(1))
        if names != enum.entries:
            self.fail(enum.line, f"LogLevel entries differ from the diagnostic layer's names {names}")

    # -- structures
    def structures(self) -> None:
        structs = self.catalogue.structs
        got = [s.name for s in structs]
        if got != facts.STRUCT_TYPES:
            self.fail(self._first_line(structs), _order_message("structure types", got, facts.STRUCT_TYPES))
        for struct in structs:
            self.structure(struct)
        for name, fields in facts.STRUCT_FIELDS.items():
            struct = self.catalogue.struct(name)
            if struct and [(f.name, f.offset, f.type_name) for f in struct.fields] != fields:
                self.fail(struct.line, f"structure {name} must have exactly the fields {fields}")
        for name, field_name, low, high in facts.STRUCT_FIELD_BOUNDS:
            fld = self._field(name, field_name)
            if fld and (low is not None and fld.minimum != low or fld.maximum != high):
                self.fail(fld.line, f"{name}.{field_name} must have the bounds {low}..{high}")
        for name, field_name, nested, count in facts.NESTED_ARRAYS:
            fld = self._field(name, field_name)
            if fld is None or fld.kind != "struct" or fld.type_name != nested or fld.count != count:
                line = fld.line if fld else self._struct_line(name)
                self.fail(line, f"{name} must hold {field_name} as {nested}[{count}]")
        for name, field_name in facts.NESTED_NEIGHBOURS:
            if self._field(name, field_name) is None:
                self.fail(self._struct_line(name), f"{name} must have a field {field_name}")
        for name in facts.UNUSED_ONE_INT_STRUCTS:
            struct = self.catalogue.struct(name)
            if struct and [f.kind for f in struct.fields] != ["int"]:
                self.fail(struct.line, f"{name} must have one int field")

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
    def memories(self) -> bool:
        got = [(m.name, m.size) for m in self.catalogue.memories]
        wanted = [(name, size) for name, size, _ in facts.MEMORIES]
        if got != wanted:
            self.fail(self._first_line(self.catalogue.memories), _order_message("memories (name, size)", got, wanted))
            return False
        for memory, (_, _, count) in zip(self.catalogue.memories, facts.MEMORIES):
            if len(memory.rows) != count:
                self.fail(memory.line, f"{memory.name} has {len(memory.rows)} rows, needs {count}")
        return True

    def rows(self) -> None:
        for memory in self.catalogue.memories:
            names = [r.name for r in memory.rows]
            wanted = facts.ROW_NAMES[memory.name]
            for row in memory.rows:
                if not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", row.name):
                    self.fail(row.line, f"{memory.name}.{row.name}: not a valid name")
            missing = [n for n in wanted if n not in names]
            unknown = [r for r in memory.rows if r.name not in wanted]
            repeated = [r for i, r in enumerate(memory.rows) if r.name in names[:i]]
            for name in missing:
                self.fail(memory.line, f"{memory.name} lacks the row {name}")
            for row in unknown:
                self.fail(row.line, f"{memory.name}.{row.name} is not a row of {memory.name}")
            for row in repeated:
                self.fail(row.line, f"{memory.name}.{row.name} is listed twice")
            if not (missing or unknown or repeated) and names != wanted:
                self._moved_row(memory, wanted)
            for row in memory.rows:
                self.row(memory.name, row)

    def _moved_row(self, memory, wanted: List[str]) -> None:
        """Names the row that left its place: the one whose removal restores the order."""
        names = [r.name for r in memory.rows]
        for row in memory.rows:
            rest = [n for n in names if n != row.name]
            if rest == [n for n in wanted if n != row.name]:
                place = wanted.index(row.name)
                after = f"after {wanted[place - 1]}" if place else "first"
                self.fail(row.line, f"{memory.name}.{row.name} is out of order: it belongs {after}")
                return
        first = next(i for i, (a, b) in enumerate(zip(names, wanted)) if a != b)
        self.fail(memory.rows[first].line, f"{memory.name}: row {first} is {names[first]}, the order needs {wanted[first]}")

    def row(self, memory: str, row: Row) -> None:
        where = f"{memory}.{row.name}"
        copies = facts.LENS_MARKER_COPIES if memory == "MemLens" else []
        if row.name in copies and row.copy_of != facts.LENS_MARKER_MEMORY:
            self.fail(row.line, f"{where} must be a copy of the row in {facts.LENS_MARKER_MEMORY}")
        if row.copy_of is not None and row.name not in copies:
            self.fail(row.line, f"{where} must not be a copy")
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

    def type_counts(self) -> None:
        totals = [0] * len(facts.TYPE_ORDER)
        singles = arrays = 0
        for memory in self.catalogue.memories:
            counts = tuple(sum(1 for r in memory.rows if r.kind == kind) for kind in facts.TYPE_ORDER)
            totals = [a + b for a, b in zip(totals, counts)]
            wanted = facts.TYPE_COUNTS[memory.name]
            if counts != wanted:
                detail = ", ".join(
                    f"{kind} {got} (needs {need})" for kind, got, need in zip(facts.TYPE_ORDER, counts, wanted) if got != need
                )
                self.fail(memory.line, f"{memory.name} row types: {detail}")
            singles += sum(1 for r in memory.rows if r.kind == "struct" and r.length is None)
            arrays += sum(1 for r in memory.rows if r.kind == "struct" and r.length is not None)
        if tuple(totals) != facts.TYPE_TOTALS or sum(totals) != facts.ROW_TOTAL:
            self.fail(1, f"row types in all: {tuple(totals)}, needs {facts.TYPE_TOTALS}")
        if (singles, arrays) != (facts.SINGLE_STRUCTURES, facts.STRUCTURE_ARRAYS):
            self.fail(1, f"{singles} single structures and {arrays} arrays, needs {facts.SINGLE_STRUCTURES} and "
                      f"{facts.STRUCTURE_ARRAYS}")

    def telling_rows(self) -> None:
        for memory_name, name, type_name, count, size in facts.STRUCT_ROWS:
            row = self._row(memory_name, name)
            if row is None:
                continue
            struct = self.catalogue.struct(type_name)
            if row.kind != "struct" or row.type_name != type_name or row.length != count:
                elements = "single" if count is None else f"[{count}]"
                self.fail(row.line, f"{memory_name}.{name} must be {type_name} {elements}")
            elif struct is not None and struct.size != size:
                self.fail(struct.line, f"structure {type_name} must be {size} bytes (row {memory_name}.{name})")
        for memory_name, name, wanted in facts.TELLING_ROWS:
            row = self._row(memory_name, name)
            if row is None:
                continue
            got = dict(kind=row.kind, type=row.type_name, offset=row.offset, min=self._min(row), max=self._max(row),
                       length=row.length, array=row.is_array, event=row.event)
            for key, value in wanted.items():
                if got[key] != value:
                    self.fail(row.line, f"{memory_name}.{name}: {key} is {got[key]!r}, must be {value!r}")
        unused = set(facts.UNUSED_ONE_INT_STRUCTS) | set(facts.NESTED_ONLY_STRUCTS)
        for memory in self.catalogue.memories:
            for row in memory.rows:
                if row.kind == "struct" and row.type_name in unused:
                    self.fail(row.line, f"{memory.name}.{row.name}: no row holds {row.type_name}")
        for memory_name, enum_name in facts.ALL_ROWS_OF_ENUM:
            for row in self.catalogue.memory(memory_name).rows:
                if row.kind != "enum" or row.type_name != enum_name:
                    self.fail(row.line, f"{memory_name}.{row.name} must hold {enum_name}")

    @staticmethod
    def _min(row: Row):
        return "0" if row.kind == "buffer" else row.minimum

    @staticmethod
    def _max(row: Row):
        return str(row.length) if row.kind == "buffer" else row.maximum

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
                if row.event < facts.FIRST_VARIABLE_EVENT:
                    self.fail(row.line, f"{memory.name}.{row.name}: event {row.event} is a control event")
        for number, name in self.catalogue.events.items():
            line = self.catalogue.event_lines[number]
            if number in owners:
                owner = owners[number][1]
                self.fail(line, f"event {number} is named {name} here, but {owner.name} uses it as "
                          f"Var{owner.name}Changed")
            elif number >= facts.FIRST_VARIABLE_EVENT and not re.fullmatch(r"Var\w+Changed", name):
                self.fail(line, f"event {number}: '{name}' is not of the form Var...Changed")
        for number, name in facts.CONTROL_EVENTS:
            if self.catalogue.events.get(number) != name:
                self.fail(self.catalogue.event_lines.get(number, 1), f"event {number} must be {name}")
        numbers = set(owners) | set(self.catalogue.events)
        missing = [n for n in range(facts.EVENT_COUNT) if n not in numbers]
        extra = sorted(n for n in numbers if n >= facts.EVENT_COUNT)
        if missing:
            self.fail(1, f"event numbers without a name: {_ranges(missing)}")
        for number in extra:
            line = owners[number][1].line if number in owners else self.catalogue.event_lines[number]
            self.fail(line, f"event {number} is beyond the {facts.EVENT_COUNT} events")
        names = [f"Var{r.name}Changed" for _, r in owners.values()] + list(self.catalogue.events.values())
        for name in sorted({n for n in names if names.count(n) > 1}):
            self.fail(1, f"event name {name} is given to more than one number")

    # -- helpers
    def _row(self, memory_name: str, name: str) -> Optional[Row]:
        memory = self.catalogue.memory(memory_name)
        row = next((r for r in memory.rows if r.name == name), None) if memory else None
        if row is None:
            self.fail(memory.line if memory else 1, f"{memory_name}.{name} is missing")
        return row

    def _field(self, struct_name: str, field_name: str):
        struct = self.catalogue.struct(struct_name)
        return next((f for f in struct.fields if f.name == field_name), None) if struct else None

    def _struct_line(self, name: str) -> int:
        struct = self.catalogue.struct(name)
        return struct.line if struct else 1

    @staticmethod
    def _first_line(items) -> int:
        return items[0].line if items else 1


def _order_message(what: str, got: list, wanted: list) -> str:
    if len(got) != len(wanted):
        return f"{len(got)} {what}, needs {len(wanted)}"
    first = next(i for i, (a, b) in enumerate(zip(got, wanted)) if a != b)
    return f"{what}: position {first} is {got[first]!r}, needs {wanted[first]!r}"


def _ranges(numbers: List[int]) -> str:
    parts, start = [], None
    for index, number in enumerate(numbers):
        if start is None:
            start = number
        if index + 1 == len(numbers) or numbers[index + 1] != number + 1:
            parts.append(str(start) if start == number else f"{start}-{number}")
            start = None
    return ", ".join(parts)


def validate(catalogue: Catalogue, log_source: Optional[str] = None) -> Problems:
    return _Checker(catalogue, log_source).run()
