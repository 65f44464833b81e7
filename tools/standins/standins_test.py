"""Checks of the kernel-log reader and the 1-Wire writer stand-ins."""
import os
import select
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
DMESG = os.path.join(HERE, "dmesg")
ONEWIRE = os.path.join(HERE, "onewire-tool.py")


def diagnostic(level, message):
    return f"{'webservice':>20}  {level:<12}{'logging.cpp':>20}:  12 {message}\n".encode()


class StateFolder(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.state = self.folder.name
        self.env = dict(os.environ, UNIT_SANDBOX_STATE=self.state)

    def tearDown(self):
        self.folder.cleanup()

    def path(self, name):
        return os.path.join(self.state, name)


class Dmesg(StateFolder):
    def test_colours_lines_by_level(self):
        with open(self.path("kmsg.log"), "wb") as log:
            log.write(diagnostic("Error", "bad") + diagnostic("Warn", "odd") + diagnostic("LogMost", "fine"))
            log.write(b"tool output line\nunfinished")
        shown = subprocess.run([DMESG, "--color=always"], env=self.env, capture_output=True, check=True).stdout
        lines = shown.split(b"\n")
        self.assertEqual(lines[0], b"\x1b[31m" + diagnostic("Error", "bad")[:-1] + b"\x1b[0m")
        self.assertEqual(lines[1], b"\x1b[33m" + diagnostic("Warn", "odd")[:-1] + b"\x1b[0m")
        self.assertEqual(lines[2], diagnostic("LogMost", "fine")[:-1])
        self.assertEqual(lines[3:], [b"tool output line", b"unfinished"])
        plain = subprocess.run([DMESG, "--color=never"], env=self.env, capture_output=True, check=True).stdout
        self.assertNotIn(b"\x1b", plain)

    def test_follows_the_growing_log(self):
        with open(self.path("kmsg.log"), "wb") as log:
            log.write(diagnostic("Warn", "first"))
        reader = subprocess.Popen([DMESG, "--color=always", "-w"], env=self.env, stdout=subprocess.PIPE)
        try:
            self.assertIn(b"first", self.read_line(reader))
            with open(self.path("kmsg.log"), "ab") as log:
                log.write(diagnostic("Error", "sec")[:-1])
                log.flush()
                log.write(b"ond\n")
            self.assertEqual(self.read_line(reader), b"\x1b[31m" + diagnostic("Error", "second")[:-1] + b"\x1b[0m\n")
        finally:
            reader.terminate()
            reader.wait()
            reader.stdout.close()

    def read_line(self, process):
        ready, _, _ = select.select([process.stdout], [], [], 5)
        self.assertTrue(ready, "no output within 5 s")
        return process.stdout.readline()


class OneWireTool(StateFolder):
    def run_tool(self, args, text):
        return subprocess.run([ONEWIRE] + args, env=self.env, input=text, capture_output=True)

    def test_records_options_and_text(self):
        text = b"2411\n4\nit's $(rm -rf /) `x`\n\n"
        self.assertEqual(self.run_tool(["-e", "-m", "knob"], text).returncode, 0)
        self.assertEqual(self.run_tool(["-e", "-m", "knob"], b"second\n").returncode, 0)
        with open(self.path("onewire-tool.input"), "rb") as record:
            self.assertEqual(record.read(), text + b"second\n")
        with open(self.path("onewire-tool.args"), encoding="utf-8") as record:
            self.assertEqual(record.read(), "-e -m knob\n-e -m knob\n")

    def test_marker_makes_it_fail_without_recording(self):
        open(self.path("onewire-tool.fail"), "w").close()
        result = self.run_tool(["-e", "-m", "knob"], b"x\n")
        self.assertEqual(result.returncode, 1)
        self.assertTrue(result.stderr)
        self.assertFalse(os.path.exists(self.path("onewire-tool.input")))
        self.assertNotEqual(self.run_tool(["-e"], b"x\n").returncode, 0)


if __name__ == "__main__":
    unittest.main()
