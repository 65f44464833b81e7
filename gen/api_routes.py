"""The routes of the web service as a client calls them: the hand-written half of the API document.

Values of variables are not described here: api_document.py derives their schemas from the catalogue
and fills the references "#/components/schemas/AllDocument" and "#/components/schemas/UpdateDocument".
Every answer goes out with status 200; failures are told in the body.
"""

TITLE = "Hand unit web service"
VERSION = "1"
DESCRIPTION = (
    "The unit's whole state as one JSON document, writes of single variables, long-poll updates, the kernel "
    "log, the screen, and the device app API (identity, user files, software update). Every answer has "
    "the HTTP status 200; a failure is told in the body. A script name that no route has is answered with "
    "{\"result\": 0, \"error\": \"Unknown script: '...'\" }; a device app path that no route has with "
    "{\"result\": \"Unknown request\" }, and one that fails unexpectedly with {\"result\": \"Internal error\" }."
)


def ref(name):
    return {"$ref": f"#/components/schemas/{name}"}


def const_result(text):
    return {
        "type": "object",
        "properties": {"result": {"const": text}},
        "required": ["result"],
        "additionalProperties": False,
    }


def json_answer(description, schema, headers=None):
    answer = {"description": description, "content": {"application/json": {"schema": schema}}}
    if headers:
        answer["headers"] = headers
    return {"200": answer}


CHANGE_SEQUENCE = {
    "X-Change-Sequence": {
        "description": "Sequence number of the last change this answer includes; pass it as since to update.cgi.",
        "required": True,
        "schema": {"type": "string", "pattern": "^[0-9]{1,20}$"},
    }
}
CHANGE_RELOAD = {
    "X-Change-Reload": {
        "description": "Sent when the changes since the given sequence cannot be vouched for: the body is an "
        "update document without variables, and the client reloads all.cgi.",
        "required": False,
        "schema": {"const": "1"},
    }
}
RETRY_AFTER = {
    "Retry-After": {
        "description": "Sent when the unit answered a waiting request early to make room for others: the "
        "answer may hold nothing new, and the client waits this many seconds before it asks again.",
        "required": False,
        "schema": {"const": "1"},
    }
}

# Answers that several routes share, by schema name.
SCHEMAS = {
    "SetAnswer": {
        "oneOf": [
            {
                "type": "object",
                "properties": {"result": {"const": 1}},
                "required": ["result"],
                "additionalProperties": False,
            },
            {
                "description": "Stored, but its announcement waits for the message broker's return.",
                "type": "object",
                "properties": {"result": {"const": 1}, "warning": {"type": "string"}},
                "required": ["result", "warning"],
                "additionalProperties": False,
            },
            {
                "description": "Failure. error holds the gathered error texts, CR LF after a parse error; it is "
                "empty when the body named no known memory or variable.",
                "type": "object",
                "properties": {"result": {"const": 0}, "error": {"type": "string"}},
                "required": ["result", "error"],
                "additionalProperties": False,
            },
        ]
    },
    "UnknownRequest": const_result("Unknown request"),
    "Refusal": {
        "type": "object",
        "properties": {"result": {"const": 0}, "error": {"type": "string", "pattern": "^Refused: "}},
        "required": ["result", "error"],
        "additionalProperties": False,
    },
    "FileResult": {
        "type": "object",
        "properties": {
            "result": {
                "anyOf": [
                    {"enum": ["Success", "No such file", "Open error", "Internal error"]},
                    {"type": "string", "pattern": "^Write error: ", "description": "The write failed; its cause."},
                ]
            }
        },
        "required": ["result"],
        "additionalProperties": False,
    },
    "FlatListing": {
        "description": "The names of the folder's regular files, in directory order.",
        "type": "array",
        "items": {"type": "string"},
    },
    "Folder": {
        "description": "A folder: its name (\"\" at the top) and its entries, sub-folders as nested folders.",
        "type": "object",
        "properties": {
            "name": {"type": "string"},
            "content": {
                "type": "array",
                "items": {
                    "oneOf": [
                        ref("Folder"),
                        {
                            "type": "object",
                            "properties": {"name": {"type": "string"}},
                            "required": ["name"],
                            "additionalProperties": False,
                        },
                    ]
                },
            },
        },
        "required": ["name", "content"],
        "additionalProperties": False,
    },
    "DeviceInfo": {
        "type": "object",
        "properties": {
            "_id": {"type": "string", "description": "board-serial, the deviceid of an update for the unit"},
            "name": {"type": "string"},
            "serialnumber": {"type": "string"},
            "firmwareversion": {"type": "string"},
            "space_total": {"type": "integer", "minimum": 0},
            "space_available": {"type": "integer", "minimum": 0},
            "devices": {
                "description": "The connected accessories.",
                "type": "array",
                "maxItems": 16,
                "items": {
                    "type": "object",
                    "properties": {
                        "_id": {"type": "string", "description": "name-serial, the deviceid of its update"},
                        "name": {"type": "string"},
                        "serialnumber": {"type": "string", "pattern": "^-?[0-9]+$"},
                        "firmwareversion": {"type": "string"},
                    },
                    "required": ["_id", "name", "serialnumber", "firmwareversion"],
                    "additionalProperties": False,
                },
            },
        },
        "required": ["_id", "name", "serialnumber", "firmwareversion", "space_total", "space_available", "devices"],
        "additionalProperties": False,
    },
    "UploadAnswer": {
        "oneOf": [
            {
                "description": "Accepted; the taskid is the deviceid.",
                "type": "object",
                "properties": {"taskid": {"type": "string"}},
                "required": ["taskid"],
                "additionalProperties": False,
            },
            {
                "description": "Refused or failed.",
                "type": "object",
                "properties": {"result": {"type": "string"}},
                "required": ["result"],
                "additionalProperties": False,
            },
        ]
    },
    "UpdateStatus": {
        "type": "object",
        "properties": {
            "status": ref("entries.UpdateState"),
            "progress": {"type": "integer"},
        },
        "required": ["status", "progress"],
        "additionalProperties": False,
    },
}

FILE_NAME = {
    "name": "name",
    "in": "path",
    "required": True,
    "description": "The file's path inside the folder; it may hold slashes for sub-folders, never '..'.",
    "schema": {"type": "string"},
}


def _folder_routes(folder, what):
    routes = {}
    for version, listing in ((1, ref("FlatListing")), (2, ref("Folder"))):
        base = f"/qorapp/v{version}/{folder}"
        routes[f"{base}/list"] = {
            "get": {
                "summary": f"Lists the {what}" + (" (names of the files)" if version == 1 else " (tree)"),
                "responses": json_answer("The listing; a missing folder lists as empty.", listing),
            }
        }
        routes[f"{base}/file/{{name}}"] = {
            "parameters": [FILE_NAME],
            "get": {
                "summary": f"Fetches one of the {what}",
                "responses": {
                    "200": {
                        "description": "The file's bytes unchanged (still sent as application/json), or "
                        '{"result": "No such file" }.',
                        "content": {"application/json": {"schema": {}}},
                    }
                },
            },
            "put": {
                "summary": f"Stores one of the {what}, replacing it",
                "requestBody": {
                    "required": True,
                    "content": {"application/octet-stream": {"schema": {"type": "string", "format": "binary"}}},
                },
                "responses": json_answer("Success, Open error or Write error.", ref("FileResult")),
            },
            "delete": {
                "summary": f"Deletes one of the {what}",
                "responses": json_answer("Success or No such file.", ref("FileResult")),
            },
            "post": {
                "summary": "Not a file operation",
                "responses": json_answer("Always Unknown request.", ref("UnknownRequest")),
            },
        }
    return routes


def _device_routes():
    routes = {}
    for version in (1, 2):
        base = f"/qorapp/v{version}/device"
        routes[f"{base}/info"] = {
            "get": {
                "summary": "The unit's identity, free space and connected accessories (any method)",
                "responses": json_answer("The device document.", ref("DeviceInfo")),
            }
        }
        routes[f"{base}/update"] = {
            "post": {
                "summary": "Uploads a software update for the unit or an accessory",
                "requestBody": {
                    "required": True,
                    "content": {
                        "multipart/form-data": {
                            "schema": {
                                "type": "object",
                                "properties": {
                                    "deviceid": {"type": "string", "description": "DEVICE-SERIAL from device/info"},
                                    "file": {"type": "string", "format": "binary"},
                                },
                                "required": ["deviceid", "file"],
                            }
                        }
                    },
                },
                "responses": json_answer("The task id, or the reason of the refusal.", ref("UploadAnswer")),
            }
        }
        routes[f"{base}/status"] = {
            "get": {
                "summary": "State and progress of the pending update (any method; any path after status)",
                "responses": json_answer("The update state's name and the progress in percent.", ref("UpdateStatus")),
            }
        }
    return routes


def paths():
    routes = {
        "/api/v1/all.cgi": {
            "get": {
                "summary": "The whole state: every variable of every memory",
                "responses": json_answer("The whole-state document.", ref("AllDocument"), CHANGE_SEQUENCE),
            }
        },
        "/api/v1/update.cgi": {
            "get": {
                "summary": "Waits for changes (long poll)",
                "description": "Held until a variable changes. Without since, the document holds what changed "
                "while the request waited, grouped in event order: a memory or a variable may appear more than "
                "once, and a change while no request waits is not reported. With since, it holds every change "
                "after that sequence, each memory and each variable once, and is answered at once when there "
                "are any.",
                "parameters": [
                    {
                        "name": "since",
                        "in": "query",
                        "required": False,
                        "description": "The X-Change-Sequence of the last answer read (unsigned 64-bit, decimal).",
                        "schema": {"type": "string", "pattern": "^[0-9]{1,20}$"},
                    }
                ],
                "responses": json_answer(
                    "The update document.",
                    ref("UpdateDocument"),
                    {**CHANGE_SEQUENCE, **CHANGE_RELOAD, **RETRY_AFTER},
                ),
            }
        },
        "/api/v1/set.cgi": {
            "post": {
                "summary": "Writes one variable, or one field of one element of a structure",
                "requestBody": {
                    "required": True,
                    "description": 'Flat JSON: {"MEMORY": {"VARIABLE": "text"}}, or for a structure '
                    '{"MEMORY": {"VARIABLE": {"Index": "n", "FIELD": "text"}}}. Values are texts as the '
                    "variable's rendering shows them.",
                    "content": {
                        "application/json": {
                            "schema": {
                                "type": "object",
                                "minProperties": 1,
                                "maxProperties": 1,
                                "additionalProperties": {
                                    "type": "object",
                                    "minProperties": 1,
                                    "maxProperties": 1,
                                    "additionalProperties": {
                                        "oneOf": [
                                            {"type": "string"},
                                            {"type": "object", "additionalProperties": {"type": "string"}},
                                        ]
                                    },
                                },
                            }
                        }
                    },
                },
                "responses": json_answer("Success or the error texts.", ref("SetAnswer")),
            }
        },
        "/api/v1/log.cgi": {
            "get": {
                "summary": "The kernel log as coloured HTML (long poll for new text)",
                "parameters": [
                    {
                        "name": "offset",
                        "in": "query",
                        "required": False,
                        "description": "Length of the text already read (the number the last answer began "
                        "with); the answer holds what follows it, and waits when nothing does. Without it, or "
                        "with 0, the whole text.",
                        "schema": {"type": "string", "pattern": "^[0-9]+$"},
                    }
                ],
                "responses": {
                    "200": {
                        "description": "The converted text's length in bytes, CR LF, then the HTML text.",
                        "headers": RETRY_AFTER,
                        "content": {"text/html": {"schema": {"type": "string"}}},
                    }
                },
            }
        },
        "/api/v1/screen.cgi": {
            "get": {
                "summary": "A screenshot of the unit's display",
                "responses": {
                    "200": {
                        "description": "The frame buffer as PNG.",
                        "content": {"image/png": {"schema": {"type": "string", "format": "binary"}}},
                    }
                },
            }
        },
        "/api/v1/modemdata.cgi": {
            "post": {
                "summary": "Starts the modem's 1-Wire write",
                "requestBody": {
                    "required": True,
                    "content": {
                        "application/json": {
                            "schema": {
                                "type": "object",
                                "properties": {"devType": {"type": "string"}},
                                "required": ["devType"],
                            }
                        }
                    },
                },
                "responses": {"200": {"description": "An empty body; the result shows in MemServiceMode."}},
            }
        },
        "/api/v1/premarkeddata.cgi": {
            "post": {
                "summary": "Writes a premarked ring's 1-Wire memory",
                "requestBody": {
                    "required": True,
                    "content": {"application/json": {"schema": {"type": "object"}}},
                },
                "responses": {
                    "200": {
                        "description": "An empty body when the tool wrote the ring; a refused value, a failed "
                        "tool or a ring already being written is answered with the error.",
                        "content": {
                            "application/json": {
                                "schema": {
                                    "type": "object",
                                    "properties": {"result": {"const": 0}, "error": {"type": "string"}},
                                    "required": ["result", "error"],
                                    "additionalProperties": False,
                                },
                                "x-empty-body": True,
                            }
                        },
                    }
                },
            }
        },
    }
    routes.update(_device_routes())
    # Every route refuses a foreign host name, and a change from a page of another origin, the same way.
    for route in routes.values():
        for operation in route.values():
            operation["responses"]["403"] = {
                "description": "Refused: the request names a foreign host, or a page of another origin asks for "
                "a change.",
                "content": {"application/json": {"schema": ref("Refusal")}},
            }
    routes.update(_folder_routes("lenstables", "lens tables"))
    routes.update(_folder_routes("focusrings", "focus-ring files"))
    routes.update(_folder_routes("setups", "user setups"))
    return routes
