# "Open in Veltrane Encryption" in the context menu of Files (Nautilus), through python3-nautilus:
# the chosen files load into a new Veltrane Encryption window, where the key is typed and Encrypt
# or Decrypt pressed. Shown only when every chosen item is a local file, not a folder.
# Copyright The Veltrane Encryption authors; MIT licence.

import subprocess
from urllib.parse import unquote_to_bytes, urlsplit

from gi.repository import GObject, Nautilus

PROGRAM = "veltrane"


def local_paths(files):
    """The names on disk of the chosen files, as bytes; None when any is not a local file."""
    paths = []
    for chosen in files:
        if chosen.get_uri_scheme() != "file" or chosen.is_directory():
            return None
        # The address's percent-encoded bytes are the name exactly, also where it is not UTF-8.
        paths.append(unquote_to_bytes(urlsplit(chosen.get_uri()).path))
    return paths or None


def open_in_veltrane(paths):
    # "--" ends the options: every name after it is a file.
    subprocess.Popen([PROGRAM, "--", *paths], stdin=subprocess.DEVNULL, start_new_session=True)


class VeltraneMenuProvider(GObject.GObject, Nautilus.MenuProvider):
    # Files 43 and later pass (files); earlier versions (window, files).
    def get_file_items(self, *arguments):
        paths = local_paths(arguments[-1])
        if paths is None:
            return []
        item = Nautilus.MenuItem(
            name="VeltraneMenuProvider::Open",
            label="Open in Veltrane Encryption",
            tip="Load the selected files into Veltrane Encryption to encrypt or decrypt them",
        )
        item.connect("activate", lambda *_: open_in_veltrane(paths))
        return [item]
