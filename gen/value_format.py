"""The texts around every value of the whole-state and update documents: the one place they are written.

The generator composes each row's and each structure field's fixed text from these pieces, and emits
the pieces themselves (namespace valueformat) for the few renderers that take their type and bounds at
run time. The spacing differs between the forms and is part of the wire format.
"""

import json

SCALAR_MAX = '{"max":"'
SCALAR_MIN = '","min":"'
SCALAR_TYPE = '","type":"'
SCALAR_VALUE = '","value":"'
SCALAR_TAIL = '"}'
BOOL_TRUE = '{ "value": "true", "type": "bool", "textid": [ "false", "true" ]}'
BOOL_FALSE = '{ "value": "false", "type": "bool", "textid": [ "false", "true" ]}'
ENUM_VALUE = '{ "value": "'
ENUM_TYPE = '", "type": "'
ENUM_ENTRIES = '", "textid": [ '
ENUM_TAIL = "]}"
STRING_FIELD_VALUE = '{"value":"'
STRING_FIELD_TAIL = '", "type": "string" }'

INT_BOUNDS = ("-2147483648", "2147483647")  # an int without bounds of its own
ROW_FLOAT_BOUNDS = ("-1e38", "1e38")  # a float row without bounds
FIELD_FLOAT_BOUNDS = ("-1e+38", "1e+38")  # a float field of a structure without bounds


# Name of the C++ constant of each piece.
PIECES = {
    "kScalarMax": SCALAR_MAX,
    "kScalarMin": SCALAR_MIN,
    "kScalarType": SCALAR_TYPE,
    "kScalarValue": SCALAR_VALUE,
    "kScalarTail": SCALAR_TAIL,
    "kBoolTrue": BOOL_TRUE,
    "kBoolFalse": BOOL_FALSE,
    "kEnumValue": ENUM_VALUE,
    "kEnumType": ENUM_TYPE,
    "kEnumEntries": ENUM_ENTRIES,
    "kEnumTail": ENUM_TAIL,
    "kStringFieldTail": STRING_FIELD_TAIL,
    "kIntMin": INT_BOUNDS[0],
    "kIntMax": INT_BOUNDS[1],
    "kRowFloatMin": ROW_FLOAT_BOUNDS[0],
    "kRowFloatMax": ROW_FLOAT_BOUNDS[1],
}


def row_value(row):
    """(type, min, max) texts that an int, float, string or buffer row shows around its value; None for others."""
    if row.kind == "int":
        return "int", row.minimum or INT_BOUNDS[0], row.maximum or INT_BOUNDS[1]
    if row.kind == "float":
        return "float", row.minimum or ROW_FLOAT_BOUNDS[0], row.maximum or ROW_FLOAT_BOUNDS[1]
    if row.kind == "string":
        return "string", "0", row.maximum or "0"
    if row.kind == "buffer":
        return "string", "0", str(row.length)  # two hexadecimal digits per byte, shown as a string
    return None


def field_bounds(fld):
    """(min, max) texts of an int or float structure field."""
    low, high = INT_BOUNDS if fld.kind == "int" else FIELD_FLOAT_BOUNDS
    return fld.minimum or low, fld.maximum or high


def json_text(value: str) -> str:
    """The inside of a JSON string as the service's writer escapes it (catalogue texts are plain)."""
    return json.dumps(value, ensure_ascii=False)[1:-1]


def scalar_head(type_name: str, low: str, high: str) -> str:
    """Everything of an int, float, string or buffer value object before the value."""
    return SCALAR_MAX + json_text(high) + SCALAR_MIN + json_text(low) + SCALAR_TYPE + json_text(type_name) + SCALAR_VALUE


def enum_tail(name: str, entries) -> str:
    """Everything of an enumeration value object after the value."""
    return ENUM_TYPE + name + ENUM_ENTRIES + ",".join(f'"{entry}"' for entry in entries) + ENUM_TAIL


def field_head(name: str) -> str:
    """A structure field's name before its value object; an enumeration field has one blank more."""
    return f'"{name}": '


def enum_field_head(name: str) -> str:
    return f'"{name}":  '
