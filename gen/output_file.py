"""Writes a generated file only when its text changes, so that the build (which rereads the outputs'
times) recompiles nothing when a generator or route edit leaves a file as it was."""


def write_text(path: str, text: str) -> None:
    try:
        with open(path, encoding="utf-8") as existing:
            if existing.read() == text:
                return
    except FileNotFoundError:
        pass
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)
