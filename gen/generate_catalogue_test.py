"""The generator accepts the catalogue source and refuses broken copies of it, naming the line and row."""

import contextlib
import io
import os
import re
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import generate_catalogue  # noqa: E402

SOURCE = os.path.join(HERE, "catalogue.txt")
LOG_SOURCE = os.path.join(HERE, "..", "apps", "common", "log", "log.cpp")


def source_lines():
    with open(SOURCE, encoding="utf-8") as source:
        return source.read().split("\n")


def line_of(lines, pattern):
    """Index of the only line matching pattern."""
    found = [i for i, line in enumerate(lines) if re.search(pattern, line)]
    assert len(found) == 1, f"{pattern!r} matches {len(found)} lines"
    return found[0]


def with_field(line, key, value):
    """The row line with its key=... (or @offset when key is '@') replaced."""
    if key == "@":
        return re.sub(r"@\d+", f"@{value}", line)
    return re.sub(rf"\b{key}=('[^']*'|\"[^\"]*\"|\S+)", lambda _: f"{key}={value}", line)


class GeneratorRun:
    def __init__(self, lines, log_text=None):
        self.directory = tempfile.TemporaryDirectory()
        path = os.path.join(self.directory.name, "catalogue.txt")
        with open(path, "w", encoding="utf-8") as out:
            out.write("\n".join(lines))
        arguments = [path, "--out", os.path.join(self.directory.name, "code")]
        log_path = LOG_SOURCE
        if log_text is not None:
            log_path = os.path.join(self.directory.name, "log.cpp")
            with open(log_path, "w", encoding="utf-8") as out:
                out.write(log_text)
        arguments += ["--log-source", log_path]
        errors = io.StringIO()
        with contextlib.redirect_stderr(errors):
            self.status = generate_catalogue.main(arguments)
        self.errors = errors.getvalue()
        self.out = os.path.join(self.directory.name, "code")
        self.path = path

    def lines_reported(self):
        return {int(n) for n in re.findall(re.escape(self.path) + r":(\d+):", self.errors)}


class GeneratorTest(unittest.TestCase):
    def refused(self, lines, *expected, line=None, log_text=None):
        run = GeneratorRun(lines, log_text)
        self.addCleanup(run.directory.cleanup)
        self.assertEqual(run.status, 1, "the broken source was accepted")
        for text in expected:
            self.assertIn(text, run.errors)
        if line is not None:
            self.assertIn(line + 1, run.lines_reported(), run.errors)
        self.assertFalse(os.path.exists(os.path.join(run.out, "introspection_gen.cpp")))
        return run.errors

    def test_source_as_committed_generates_code_and_report(self):
        run = GeneratorRun(source_lines())
        self.addCleanup(run.directory.cleanup)
        self.assertEqual(run.status, 0, run.errors)
        with open(os.path.join(run.out, "introspection_gen.cpp"), encoding="utf-8") as code:
            text = code.read()
        # The counts of the tables the unit's processes share: memories, rows, event names.
        memories = re.search(r"MemoryInfo MEMORY_ARRAY\[MEMORY_ARRAY_SIZE\] = \{(.*?)\};", text, re.S).group(1)
        self.assertEqual(len(re.findall(r"ROWS_Mem\w+, (\d+),", memories)), 20)
        self.assertEqual(sum(map(int, re.findall(r"ROWS_Mem\w+, (\d+),", memories))), 933)
        with open(os.path.join(run.out, "introspection_gen.h"), encoding="utf-8") as header:
            self.assertIn("EVENT_NAME_SIZE = 1061;", header.read())
        self.assertIn('{"MemApp", ROWS_MemApp, 17, 68}', text)
        self.assertEqual(text.count("std::vector<StructInfo> "), 32)
        with open(os.path.join(run.out, "layout.txt"), encoding="utf-8") as report:
            layout = report.read()
        self.assertRegex(layout, r"\n\s+1288\s+128\s+HostUpdateFileName\s+string\[128\]\s+898\s+VarHostUpdateFileNameChanged")
        camera = re.search(r"Memory 3 MemCamera: payload 139120 bytes, 112 rows\n(.*?)\n\n", layout, re.S).group(1)
        self.assertRegex(camera, r"\n\s+1164\s+480\s+CamSpeedList\s")
        self.assertRegex(camera, r"\n\s+16  \(reserved up to the payload size\)$")

    def test_overlapping_misaligned_and_oversized_rows_are_named(self):
        lines = source_lines()
        overlap = line_of(lines, r"^\s+ButtonBrightness\s")
        lines[overlap] = with_field(lines[overlap], "@", 56)
        self.refused(lines, "overlaps", "ButtonBrightness", line=overlap)

        lines = source_lines()
        misaligned = line_of(lines, r"^\s+DMDTorque\s")
        lines[misaligned] = with_field(lines[misaligned], "@", 1133)
        self.refused(lines, "MemPersistent.DMDTorque at 1133 is not aligned to 4 bytes",
                     "MemPersistent.DMDTorque (1133+4) reaches past the payload size 1136", line=misaligned)

        lines = source_lines()
        too_long = line_of(lines, r"^\s+ProductVersion\s")
        lines[too_long] = lines[too_long].replace("string[20]", "string[24]")
        self.refused(lines, "MemPersistent.ButtonBrightness at 40 overlaps ProductVersion")

    def test_event_table_must_be_complete_and_unambiguous(self):
        lines = source_lines()
        reused = line_of(lines, r"^\s+BluetoothPower\s")
        lines[reused] = with_field(lines[reused], "ev", 6)
        errors = self.refused(lines, "uses event 6, already used by MemPersistent.AUXTorque")
        self.assertIn("event numbers without a name: 7", errors)

        lines = source_lines()
        hidden = line_of(lines, r"^event 233 ")
        del lines[hidden]
        self.refused(lines, "event numbers without a name: 233")

        lines = source_lines()
        hidden = line_of(lines, r"^event 1060 ")
        lines[hidden] = "event 1060 VarAUXTorqueChanged"
        self.refused(lines, "event name VarAUXTorqueChanged is given to more than one number")

    def test_lens_marker_copies_must_repeat_marker_rows(self):
        lines = source_lines()
        copy = line_of(lines, r"^\s+copy FocusMarkerClearValue from")
        lines[copy] = "  copy FocusMarkerClearValue from MemPersistent"
        self.refused(lines, "FocusMarkerClearValue has no row to copy in MemPersistent")

    def test_enumerations_and_structures_are_checked(self):
        lines = source_lines()
        enum = line_of(lines, r"^enum PlaybackSpeed ")
        lines[enum] = lines[enum].replace(" rw64 ", " rw32 ")
        self.refused(lines, "enumeration PlaybackSpeed repeats rw32", line=enum)

        lines = source_lines()
        field = line_of(lines, r"^\s+CamUserButtonActive\s")
        lines[field] = lines[field].replace("56", "54")
        self.refused(lines, "CamUserButtonStruct.CamUserButtonActive at 54 overlaps the field before it", line=field)

        lines = source_lines()
        size = line_of(lines, r"^struct ScaleValues ")
        lines[size] = "struct ScaleValues size=52"
        self.refused(lines, "LensTable.LensTableValueList reaches past the element size 12316")

    def test_log_levels_must_match_the_diagnostic_layer(self):
        log_text = 'const char* const LOGLEVEL_NAME_ARRAY[] = {"DebugAll", "DebugMost", "DebugLight", "LogAll",' \
                   ' "LogMost", "LogLight", "Warning", "Error"};'
        self.refused(source_lines(), "LogLevel entries differ from the diagnostic layer's names", log_text=log_text)

    def test_defaults_must_be_accepted_by_their_setters(self):
        lines = source_lines()
        default = line_of(lines, r"^\s+ProductName\s")
        lines[default] = with_field(lines[default], "default", "'A product name of more than nineteen'")
        self.refused(lines, "does not fit 19 characters", line=default)

        lines = source_lines()
        default = line_of(lines, r"^\s+default PeltDeviceList\[0\]")
        lines[default] = lines[default].replace("PeltDeviceConnected=true", "PeltDeviceConnected=yes")
        self.refused(lines, "PeltDevice.PeltDeviceConnected: default 'yes' is not true or false", line=default)

    def test_syntax_errors_name_the_line(self):
        lines = source_lines()
        row = line_of(lines, r"^\s+SoundMute\s")
        lines[row] = re.sub(r"ev=\d+", "", lines[row])
        self.refused(lines, f"line {row + 1}: row SoundMute has no event")


if __name__ == "__main__":
    unittest.main()
