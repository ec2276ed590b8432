#!/usr/bin/env python3
"""The desktop entry and the file managers' actions as installed by `cmake --install`: each parsed
as its file manager reads it, the desktop entries also through desktop-file-validate, and the
extension of Files (Nautilus) run against a stand-in for its host.
    tests/tst_filemanagers.py BUILD_DIR APP_ID"""

import configparser
import importlib.machinery
import os
import shlex
import subprocess
import sys
import tempfile
import types
import unittest

BUILD, APP_ID = sys.argv[1], sys.argv[2]
STAGE = None


def setUpModule():
    global STAGE
    STAGE = tempfile.TemporaryDirectory(prefix="veltrane-filemanagers.")
    subprocess.run(["cmake", "--install", BUILD, "--prefix", "/usr"], check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, DESTDIR=STAGE.name))


def tearDownModule():
    STAGE.cleanup()


def installed(path):
    return os.path.join(STAGE.name, "usr/share", path.format(id=APP_ID))


def read_entry(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str
    with open(path, encoding="utf-8") as file:
        parser.read_file(file)
    return parser


def exec_arguments(line):
    """The arguments of an Exec line, with the desktop entry's field codes left as they stand."""
    return shlex.split(line)


# (what, path, group, keys that must hold exactly these values, the group holding Exec, validate)
ENTRIES = [
    ("the desktop entry", "applications/{id}.desktop", "Desktop Entry",
     {"Type": "Application", "StartupWMClass": "veltrane", "Icon": APP_ID}, "Desktop Entry", True),
    ("Thunar's Send To", "Thunar/sendto/{id}.desktop", "Desktop Entry",
     # Thunar leaves out of Send To an entry hidden from menus (NoDisplay) or limited to some types.
     {"Type": "Application", "Icon": APP_ID, "NoDisplay": None, "MimeType": None}, "Desktop Entry", True),
    ("Dolphin's service menu", "kio/servicemenus/{id}.desktop", "Desktop Entry",
     {"Type": "Service", "MimeType": "all/allfiles;", "Actions": "openInVeltrane;"},
     "Desktop Action openInVeltrane", False),
    ("Nemo's action", "nemo/actions/{id}.nemo_action", "Nemo Action",
     {"Selection": "notnone", "Extensions": "nodirs;", "Icon-Name": APP_ID, "Dependencies": "veltrane;"},
     "Nemo Action", False),
]


class DesktopFiles(unittest.TestCase):
    def test_entries(self):
        for what, path, group, keys, exec_group, validate in ENTRIES:
            with self.subTest(what):
                path = installed(path)
                entry = read_entry(path)
                self.assertIn(group, entry)
                for key, value in keys.items():
                    self.assertEqual(entry[group].get(key), value, key)
                # Every file chosen, as names: the window takes names, not addresses (%U), and
                # takes them all (%f would start one window a file).
                self.assertEqual(exec_arguments(entry[exec_group]["Exec"]), ["veltrane", "%F"])
                self.assertTrue(entry[exec_group].get("Name"), "a name in the menu")
                if validate:
                    result = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
                    self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                    self.assertEqual(result.stdout.strip(), "", "warnings: " + result.stdout)


class FakeFile:
    def __init__(self, uri, directory=False):
        self.uri, self.directory = uri, directory

    def get_uri_scheme(self):
        return self.uri.split(":", 1)[0]

    def get_uri(self):
        return self.uri

    def is_directory(self):
        return self.directory


class FakeMenuItem:
    def __init__(self, name, label, tip):
        self.name, self.label, self.tip, self.handlers = name, label, tip, []

    def connect(self, signal, handler):
        self.handlers.append((signal, handler))


def load_extension(started):
    """The extension, with gi.repository standing in for Files' host and Popen recording."""
    gi = types.ModuleType("gi")
    repository = types.ModuleType("gi.repository")
    repository.GObject = types.SimpleNamespace(GObject=type("GObject", (), {}))
    repository.Nautilus = types.SimpleNamespace(MenuProvider=type("MenuProvider", (), {}), MenuItem=FakeMenuItem)
    gi.repository = repository
    sys.modules["gi"], sys.modules["gi.repository"] = gi, repository
    loader = importlib.machinery.SourceFileLoader("veltrane_nautilus",
                                                  installed("nautilus-python/extensions/veltrane-nautilus.py"))
    module = types.ModuleType(loader.name)
    module.__file__ = loader.path
    loader.exec_module(module)
    module.subprocess = types.SimpleNamespace(Popen=lambda argv, **_: started.append(argv), DEVNULL=None)
    return module


# (what is chosen, the arguments (version 4 passes the files alone, 3 the window too), what starts)
NAUTILUS = [
    ("two files, one with a blank", [FakeFile("file:///home/u/a%20b.txt"), FakeFile("file:///home/u/c")], 4,
     [["veltrane", "--", b"/home/u/a b.txt", b"/home/u/c"]]),
    ("a name that is not UTF-8", [FakeFile("file:///home/u/%FF%20x")], 3, [["veltrane", "--", b"/home/u/\xff x"]]),
    ("a name like an option", [FakeFile("file:///-platform")], 4, [["veltrane", "--", b"/-platform"]]),
    ("a folder among the files", [FakeFile("file:///home/u/a"), FakeFile("file:///home/u/d", True)], 4, []),
    ("a file elsewhere", [FakeFile("sftp://host/home/u/a")], 4, []),
    ("nothing chosen", [], 4, []),
]


class NautilusExtension(unittest.TestCase):
    def test_menu(self):
        for what, files, version, expected in NAUTILUS:
            with self.subTest(what):
                started = []
                provider = load_extension(started).VeltraneMenuProvider()
                arguments = (files,) if version == 4 else (object(), files)
                items = provider.get_file_items(*arguments)
                self.assertEqual(len(items), 1 if expected else 0)
                for item in items:
                    self.assertEqual(item.label, "Open in Veltrane Encryption")
                    for signal, handler in item.handlers:
                        self.assertEqual(signal, "activate")
                        handler(item)
                self.assertEqual(started, expected)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
