"""Builds the API document (OpenAPI 3.1) from the catalogue and the route description (api_routes).

Every variable's rendering gets a JSON Schema that follows the same texts as the C++ renderers:
the bounds a row shows, the entries of its enumeration, the fields of its structure, its array length.
"""

import json

import api_routes
from catalogue_emit_cpp import string_capacity
from catalogue_source import Catalogue, Row
from output_file import write_text
from value_format import field_bounds, row_value

INT_TEXT = "^-?[0-9]+$"
FLOAT_TEXT = "^-?([0-9]+\\.[0-9]{6}|inf|nan)$"  # printf "%f"


def _ref(name):
    return {"$ref": f"#/components/schemas/{name}"}


def _closed(properties, required=None):
    return {
        "type": "object",
        "properties": properties,
        "required": list(properties) if required is None else required,
        "additionalProperties": False,
    }


def _bounded(base, low, high):
    """A value object of `base` ("value.int" ...) with its bounds texts."""
    return {"$ref": f"#/components/schemas/{base}", "properties": {"min": {"const": low}, "max": {"const": high}}}


def _common_schemas():
    def value(type_text, value_schema):
        return _closed(
            {
                "max": {"type": "string"},
                "min": {"type": "string"},
                "type": {"const": type_text},
                "value": value_schema,
            }
        )

    return {
        "value.int": value("int", {"type": "string", "pattern": INT_TEXT}),
        "value.float": value("float", {"type": "string", "pattern": FLOAT_TEXT}),
        "value.string": value("string", {"type": "string"}),
        "value.bool": {
            "description": "A bool: no bounds, the two texts it takes.",
            **_closed(
                {
                    "value": {"enum": ["true", "false"]},
                    "type": {"const": "bool"},
                    "textid": {"const": ["false", "true"]},
                }
            ),
        },
        "field.string": {
            "description": "A string field of a structure.",
            **_closed({"value": {"type": "string"}, "type": {"const": "string"}}),
        },
    }


def _enum_schemas(enum):
    entries = {
        "description": f"An entry of {enum.name}; a stored number beyond the entries reads INVALID_VALUE.",
        "anyOf": [{"enum": enum.entries}, {"type": "string", "pattern": "^INVALID_VALUE: [0-9]+$"}],
    }
    rendering = {
        "description": f"A value of the enumeration {enum.name}, with all its entries in value order.",
        **_closed({"value": _ref(f"entries.{enum.name}"), "type": {"const": enum.name}, "textid": {"const": enum.entries}}),
    }
    return {f"entries.{enum.name}": entries, f"enum.{enum.name}": rendering}


def _field_schema(struct, position):
    fld = struct.fields[position]
    if fld.kind in ("int", "float"):
        return _bounded(f"value.{fld.kind}", *field_bounds(fld))
    if fld.kind == "bool":
        return _ref("value.bool")
    if fld.kind == "enum":
        return _ref(f"enum.{fld.type_name}")
    if fld.kind == "string":
        capacity = string_capacity(struct, position)
        return {"$ref": "#/components/schemas/field.string", "properties": {"value": {"maxLength": capacity}}}
    return {"type": "array", "items": _ref(f"struct.{fld.type_name}"), "minItems": fld.count, "maxItems": fld.count}


def _struct_schema(struct):
    properties = {fld.name: _field_schema(struct, position) for position, fld in enumerate(struct.fields)}
    return {"description": f"One {struct.name} ({struct.size} bytes).", **_closed(properties)}


def row_schema(row: Row):
    """The rendering of one row, as all.cgi and update.cgi write it."""
    shown = row_value(row)
    if shown is not None:
        schema = _bounded(f"value.{shown[0]}", shown[1], shown[2])
        if row.kind == "string":
            schema["properties"]["value"] = {"maxLength": row.length}
            schema["x-capacity"] = row.length
        elif row.kind == "buffer":
            schema["properties"]["value"] = {"pattern": f"^[0-9a-f]{{{2 * row.length}}}$"}
            schema["x-bytes"] = row.length
    elif row.kind == "bool":
        schema = _ref("value.bool")
    elif row.kind == "enum":
        schema = _ref(f"enum.{row.type_name}")
    elif row.length is not None:
        schema = {"type": "array", "items": _ref(f"struct.{row.type_name}"), "minItems": row.length, "maxItems": row.length}
    else:
        schema = _ref(f"struct.{row.type_name}")
    if row.copy_of:
        schema["description"] = f"The same bytes as {row.copy_of}.{row.name}."
    return schema


def _memory_schemas(catalogue: Catalogue):
    schemas = {}
    for memory in catalogue.memories:
        schemas[f"memory.{memory.name}"] = {
            "description": f"Variables of {memory.name} by name; all.cgi holds every one, update.cgi the changed.",
            "type": "object",
            "properties": {row.name: row_schema(row) for row in memory.rows},
            "additionalProperties": False,
        }
    return schemas


def _documents(catalogue: Catalogue):
    whole = {
        name: {"allOf": [_ref(f"memory.{name}")], "required": [row.name for row in memory.rows]}
        for name, memory in ((m.name, m) for m in catalogue.memories)
    }
    changed = {m.name: {"allOf": [_ref(f"memory.{m.name}")], "minProperties": 1} for m in catalogue.memories}
    request_id = {"type": "integer", "minimum": 0, "maximum": 65535, "description": "The FastCGI request id."}
    return {
        "AllDocument": {
            "description": "The whole state: every memory, in each every variable.",
            **_closed({"id": request_id, "variables": _closed(whole)}),
        },
        "UpdateDocument": {
            "description": "The changed variables by memory. Asked with since, each memory and each variable "
            "appears once. Without since, changes are grouped in event order, and a memory whose changes are "
            "split by another memory's appears again as a further member of the same name (a parser that keeps "
            "the last member of a name loses the earlier ones). A reload answer has no variables.",
            **_closed(
                {
                    "id": request_id,
                    "errors": {
                        "type": "array",
                        "items": {"type": "string"},
                        "description": "A variable that could not be rendered: its event number and the reason.",
                    },
                    "variables": {"type": "object", "properties": changed, "additionalProperties": False},
                }
            ),
        },
    }


def build_document(catalogue: Catalogue):
    schemas = _common_schemas()
    for enum in catalogue.enums:
        schemas.update(_enum_schemas(enum))
    for struct in catalogue.structs:
        schemas[f"struct.{struct.name}"] = _struct_schema(struct)
    schemas.update(_memory_schemas(catalogue))
    schemas.update(_documents(catalogue))
    schemas.update(api_routes.SCHEMAS)
    return {
        "openapi": "3.1.0",
        "info": {"title": api_routes.TITLE, "version": api_routes.VERSION, "description": api_routes.DESCRIPTION},
        "jsonSchemaDialect": "https://json-schema.org/draft/2020-12/schema",
        "paths": api_routes.paths(),
        "components": {"schemas": schemas},
    }


def write_document(catalogue: Catalogue, path: str) -> None:
    write_text(path, json.dumps(build_document(catalogue), separators=(",", ":")) + "\n")
