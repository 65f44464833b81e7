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


def read(path):
    with open(path, encoding="utf-8") as text:
        return text.read()


def with_field(line, key, value):
    """The row line with its key=... (or @offset when key is '@') replaced."""
    if key == "@":
        return re.sub(r"@\d+", f"@{value}", line)
    return re.sub(rf"\b{key}=('[^']*'|\"[^\"]*\"|\S+)", lambda _: f"{key}={value}", line)


class GeneratorRun:
    def __init__(self, test, lines):
        directory = tempfile.TemporaryDirectory()
        test.addCleanup(directory.cleanup)
        self.path = os.path.join(directory.name, "catalogue.txt")
        self.out = os.path.join(directory.name, "code")
        with open(self.path, "w", encoding="utf-8") as out:
            out.write("\n".join(lines))
        errors = io.StringIO()
        with contextlib.redirect_stderr(errors):
            self.status = generate_catalogue.main([self.path, "--out", self.out])
        self.errors = errors.getvalue()


class GeneratorTest(unittest.TestCase):
    def refused(self, pattern, edit, *expected, named_line=True):
        """Applies edit to the only line matching pattern (None: deletes it; no pattern: no edit); expects a refusal."""
        lines = read(SOURCE).split("\n")
        found = [i for i, line in enumerate(lines) if pattern and re.search(pattern, line)]
        self.assertEqual(len(found), 1 if pattern else 0, pattern)
        for i in found:
            lines[i:i + 1] = [] if edit is None else [edit(lines[i])]
        run = GeneratorRun(self, lines)
        self.assertEqual(run.status, 1, "the broken source was accepted")
        for text in expected:
            self.assertIn(text, run.errors)
        if named_line:
            self.assertRegex(run.errors, re.escape(run.path) + rf":( line )?{found[0] + 1}:")
        self.assertFalse(os.path.exists(os.path.join(run.out, "introspection_gen.cpp")))
        return run.errors

    def test_source_as_committed_generates_code_and_report(self):
        run = GeneratorRun(self, read(SOURCE).split("\n"))
        self.assertEqual(run.status, 0, run.errors)
        self.assertIn('{"MemApp", ROWS_MemApp, 17, 68}', read(os.path.join(run.out, "introspection_gen.cpp")))
        layout = read(os.path.join(run.out, "layout.txt"))
        self.assertRegex(layout, r"\n\s+1288\s+128\s+HostUpdateFileName\s+string\[128\]\s+898\s+VarHostUpdateFileNameChanged")
        camera = re.search(r"Memory 3 MemCamera: payload 139120 bytes, 112 rows\n(.*?)\n\n", layout, re.S).group(1)
        self.assertRegex(camera, r"\n\s+16  \(reserved up to the payload size\)$")

    def test_rows_must_not_overlap_be_misaligned_or_reach_past_the_payload(self):
        self.refused(r"^\s+ButtonBrightness\s", lambda line: with_field(line, "@", 56), "overlaps", "ButtonBrightness")
        self.refused(r"^\s+DMDTorque\s", lambda line: with_field(line, "@", 1133),
                     "MemPersistent.DMDTorque at 1133 is not aligned to 4 bytes",
                     "MemPersistent.DMDTorque (1133+4) reaches past the payload size 1136")

    def test_event_table_must_be_complete_and_unambiguous(self):
        errors = self.refused(r"^\s+BluetoothPower\s", lambda line: with_field(line, "ev", 6),
                              "uses event 6, already used by MemPersistent.AUXTorque", named_line=False)
        self.assertIn("event numbers without a name: 7", errors)
        self.refused(r"^event 233 ", None, "event numbers without a name: 233", named_line=False)
        self.refused(r"^event 1060 ", lambda _: "event 1060 VarAUXTorqueChanged",
                     "event name VarAUXTorqueChanged is given to more than one number", named_line=False)

    def test_lens_copies_enumerations_structures_and_log_levels_are_checked(self):
        self.refused(r"^\s+copy FocusMarkerClearValue from", lambda _: "  copy FocusMarkerClearValue from MemPersistent",
                     "FocusMarkerClearValue has no row to copy in MemPersistent", named_line=False)
        self.refused(r"^enum PlaybackSpeed ", lambda line: line.replace(" rw64 ", " rw32 "),
                     "enumeration PlaybackSpeed repeats rw32")
        self.refused(r"^\s+CamUserButtonActive\s", lambda line: line.replace("56", "54"),
                     "CamUserButtonStruct.CamUserButtonActive at 54 overlaps the field before it")
        self.refused(r"^struct ScaleValues ", lambda _: "struct ScaleValues size=52",
                     "LensTable.LensTableValueList reaches past the element size 12316", named_line=False)
        self.refused(r"^enum LogLevel ", lambda line: line.replace(" Error", " Failure"),
                     "the diagnostic layer's levels: enum LogLevel with DebugAll and Error")

    def test_syntax_errors_and_refused_defaults_name_the_line(self):
        self.refused(r"^\s+SoundMute\s", lambda line: re.sub(r"ev=\d+", "", line), "row SoundMute has no event")
        self.refused(r"^\s+ProductName\s",
                     lambda line: with_field(line, "default", "'A product name of more than nineteen'"),
                     "does not fit 19 characters")
        self.refused(r"^\s+default PeltDeviceList\[0\]",
                     lambda line: line.replace("PeltDeviceConnected=true", "PeltDeviceConnected=yes"),
                     "PeltDevice.PeltDeviceConnected: default 'yes' is not true or false")


if __name__ == "__main__":
    unittest.main()
