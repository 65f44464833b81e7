"""Reads the catalogue source (gen/catalogue.txt) into plain objects.

Syntax errors are reported with the file's line number; consistency is checked by
catalogue_validation, not here.
"""

import re
import shlex
from dataclasses import dataclass, field
from typing import Dict, List, Optional

SCALAR_SIZES = {"int": 4, "float": 4, "bool": 1}
BASE_CODES = {"int": 0, "float": 1, "bool": 2, "string": 3, "buffer": 4, "enum": 5, "struct": 6}


class SourceError(Exception):
    pass


@dataclass
class Enum:
    name: str
    entries: List[str]
    line: int


@dataclass
class Field:
    name: str
    offset: int
    kind: str  # int, float, bool, string, enum or struct (a nested array)
    type_name: str
    count: Optional[int]  # element count of a nested array
    minimum: Optional[str]
    maximum: Optional[str]
    line: int


@dataclass
class Struct:
    name: str
    size: int
    fields: List[Field]
    line: int


@dataclass
class StructDefault:
    row: str
    index: int
    values: Dict[str, str]
    line: int


@dataclass
class Row:
    name: str
    memory: str
    kind: str
    type_name: str
    offset: int
    length: Optional[int]  # string capacity, buffer bytes, element count of a structure array
    event: int
    minimum: Optional[str]
    maximum: Optional[str]
    default: Optional[str]
    copy_of: Optional[str]  # memory whose row of the same name this row repeats
    line: int

    @property
    def is_array(self) -> bool:
        return self.kind == "string" or (self.kind == "struct" and self.length is not None)


@dataclass
class Memory:
    name: str
    size: int
    rows: List[Row]
    struct_defaults: List[StructDefault]
    line: int


@dataclass
class Catalogue:
    enums: List[Enum] = field(default_factory=list)
    structs: List[Struct] = field(default_factory=list)
    memories: List[Memory] = field(default_factory=list)
    events: Dict[int, str] = field(default_factory=dict)  # numbers that no row names
    event_lines: Dict[int, int] = field(default_factory=dict)

    def enum(self, name: str) -> Optional[Enum]:
        return next((e for e in self.enums if e.name == name), None)

    def struct(self, name: str) -> Optional[Struct]:
        return next((s for s in self.structs if s.name == name), None)

    def memory(self, name: str) -> Optional[Memory]:
        return next((m for m in self.memories if m.name == name), None)


_TYPE = re.compile(r"^(\w+)(?:\[(\d+)\])?$")


def _split(text: str, line: int) -> List[str]:
    try:
        return shlex.split(text, comments=True)
    except ValueError as error:
        raise SourceError(f"line {line}: {error}") from None


def _options(tokens: List[str], allowed: set, line: int) -> Dict[str, str]:
    options = {}
    for token in tokens:
        key, sep, value = token.partition("=")
        if not sep or key not in allowed:
            raise SourceError(f"line {line}: unexpected '{token}'")
        options[key] = value
    return options


def _number(text: str, what: str, line: int) -> int:
    if not re.fullmatch(r"\d+", text):
        raise SourceError(f"line {line}: {what} '{text}' is not a number")
    return int(text)


class _Reader:
    def __init__(self) -> None:
        self.catalogue = Catalogue()
        self.block: Optional[object] = None
        self.enum_names: set = set()

    def classify(self, type_text: str, line: int):
        """Maps a type as written to (kind, type name, length); enums and structs are told apart later."""
        match = _TYPE.match(type_text)
        if not match:
            raise SourceError(f"line {line}: bad type '{type_text}'")
        name, count = match.group(1), match.group(2)
        length = int(count) if count is not None else None
        if name in SCALAR_SIZES:
            if length is not None:
                raise SourceError(f"line {line}: '{name}' takes no length")
            return name, name, None
        if name in ("string", "buffer"):
            if length is None:
                raise SourceError(f"line {line}: '{name}' needs a length, as {name}[N]")
            return name, name, length
        return "named", name, length

    def header(self, tokens: List[str], line: int) -> None:
        keyword = tokens[0]
        if keyword == "enum":
            if len(tokens) < 3:
                raise SourceError(f"line {line}: enum needs a name and entries")
            self.catalogue.enums.append(Enum(tokens[1], tokens[2:], line))
            self.enum_names.add(tokens[1])
            self.block = None
        elif keyword == "struct":
            if len(tokens) != 3:
                raise SourceError(f"line {line}: expected 'struct NAME size=N'")
            size = _number(_options(tokens[2:], {"size"}, line)["size"], "size", line)
            self.block = Struct(tokens[1], size, [], line)
            self.catalogue.structs.append(self.block)
        elif keyword == "memory":
            if len(tokens) != 3:
                raise SourceError(f"line {line}: expected 'memory NAME size=N'")
            size = _number(_options(tokens[2:], {"size"}, line)["size"], "size", line)
            self.block = Memory(tokens[1], size, [], [], line)
            self.catalogue.memories.append(self.block)
        elif keyword == "event":
            if len(tokens) != 3:
                raise SourceError(f"line {line}: expected 'event NUMBER NAME'")
            number = _number(tokens[1], "event number", line)
            if number in self.catalogue.events:
                raise SourceError(f"line {line}: event {number} is listed twice")
            self.catalogue.events[number] = tokens[2]
            self.catalogue.event_lines[number] = line
            self.block = None
        else:
            raise SourceError(f"line {line}: unknown keyword '{keyword}'")

    def member(self, tokens: List[str], line: int) -> None:
        if isinstance(self.block, Struct):
            self.field(tokens, line)
        elif isinstance(self.block, Memory):
            if tokens[0] == "copy":
                self.copy(tokens, line)
            elif tokens[0] == "default":
                self.struct_default(tokens, line)
            else:
                self.row(tokens, line)
        else:
            raise SourceError(f"line {line}: indented line outside a struct or memory block")

    def field(self, tokens: List[str], line: int) -> None:
        if len(tokens) < 3:
            raise SourceError(f"line {line}: expected 'FIELD OFFSET TYPE'")
        if tokens[2] == "string":
            kind, type_name, count = "string", "string", None  # its capacity follows from the next offset
        else:
            kind, type_name, count = self.classify(tokens[2], line)
        if kind == "buffer" or (kind == "string" and count is not None):
            raise SourceError(f"line {line}: fields are int, float, bool, string, an enumeration or STRUCT[N]")
        options = _options(tokens[3:], {"min", "max"}, line)
        offset = _number(tokens[1], "offset", line)
        self.block.fields.append(
            Field(tokens[0], offset, kind, type_name, count, options.get("min"), options.get("max"), line)
        )

    def row(self, tokens: List[str], line: int) -> None:
        if len(tokens) < 4 or not tokens[2].startswith("@"):
            raise SourceError(f"line {line}: expected 'NAME TYPE @OFFSET ev=N ...'")
        kind, type_name, length = self.classify(tokens[1], line)
        options = _options(tokens[3:], {"ev", "min", "max", "default"}, line)
        if "ev" not in options:
            raise SourceError(f"line {line}: row {tokens[0]} has no event (ev=N)")
        memory = self.block
        memory.rows.append(
            Row(
                name=tokens[0],
                memory=memory.name,
                kind=kind,
                type_name=type_name,
                offset=_number(tokens[2][1:], "offset", line),
                length=length,
                event=_number(options["ev"], "event", line),
                minimum=options.get("min"),
                maximum=options.get("max"),
                default=options.get("default"),
                copy_of=None,
                line=line,
            )
        )

    def copy(self, tokens: List[str], line: int) -> None:
        if len(tokens) != 4 or tokens[2] != "from":
            raise SourceError(f"line {line}: expected 'copy NAME from MEMORY'")
        self.block.rows.append(Row(tokens[1], self.block.name, "copy", "", 0, None, 0, None, None, None, tokens[3], line))

    def struct_default(self, tokens: List[str], line: int) -> None:
        match = re.fullmatch(r"(\w+)\[(\d+)\]", tokens[1]) if len(tokens) > 2 else None
        if not match:
            raise SourceError(f"line {line}: expected 'default ROW[INDEX] FIELD=VALUE ...'")
        values = {}
        for token in tokens[2:]:
            key, sep, value = token.partition("=")
            if not sep:
                raise SourceError(f"line {line}: expected FIELD=VALUE, got '{token}'")
            values[key] = value
        self.block.struct_defaults.append(StructDefault(match.group(1), int(match.group(2)), values, line))

    def _name_kind(self, item, elements: Optional[int], what: str) -> None:
        if item.kind == "named":
            item.kind = "enum" if item.type_name in self.enum_names else "struct"
        if item.kind == "enum" and elements is not None:
            raise SourceError(f"line {item.line}: enumeration {what} cannot be arrays")

    def resolve(self) -> None:
        """Tells enumerations from structures and fills the copies from the rows they repeat."""
        for struct in self.catalogue.structs:
            for fld in struct.fields:
                self._name_kind(fld, fld.count, "fields")
        for memory in self.catalogue.memories:
            for row in memory.rows:
                self._name_kind(row, row.length, "rows")
        for memory in self.catalogue.memories:
            for index, row in enumerate(memory.rows):
                if row.copy_of is None:
                    continue
                source = self.catalogue.memory(row.copy_of)
                original = next((r for r in source.rows if r.name == row.name), None) if source else None
                if original is None or original.copy_of is not None:
                    raise SourceError(f"line {row.line}: {row.name} has no row to copy in {row.copy_of}")
                memory.rows[index] = Row(**{**original.__dict__, "line": row.line, "copy_of": original.memory})


def read_catalogue(path: str) -> Catalogue:
    reader = _Reader()
    with open(path, encoding="utf-8") as source:
        for number, text in enumerate(source, start=1):
            tokens = _split(text, number)
            if not tokens:
                continue
            if text[0] in " \t":
                reader.member(tokens, number)
            else:
                reader.header(tokens, number)
    reader.resolve()
    return reader.catalogue
