"""Running the update tool under wine and reading back what it did.

The tool reports only through its exit code, standard output (GBK, CRLF line ends from
the runtime's text mode), the files it writes, the runtime it starts and the registry.
"""
import contextlib
import pathlib
import shutil
import sys
import time

import texts
import winerig
from launcher import launches

sys.path.insert(0, str(winerig.REPO / "tools"))
import zorvik_release  # noqa: E402

UPDATE = winerig.BIN / "update.exe"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
AUTOSTART_VALUE = "TarnvaleERP"


KEYED = winerig.package_private_key() is not None  # the build installs signed archives only


def linux_path(windows_path, cwd):
    """The Linux path of a Z: path, or of one relative to `cwd`."""
    if windows_path[:2].upper() == "Z:":
        return pathlib.Path(windows_path[2:].replace("\\", "/"))
    return pathlib.Path(cwd) / windows_path.replace("\\", "/")


_signed = {}  # ARCHIVE.sig written here -> what it covers


def sign_update(archive, version):
    """Writes ARCHIVE.sig as the release tool does, with the build's package key."""
    sha256 = zorvik_release.sha256_of(archive.read_bytes())
    text = zorvik_release.update_signed_text(version, sha256)
    signature = zorvik_release.sign_bytes(winerig.package_private_key(), text)
    pathlib.Path(str(archive) + ".sig").write_text(signature + "\n")
    _signed[str(archive)] = (version, sha256)


def run_tool(*args, cwd, signed=True):
    """In a keyed build an -u archive that exists is signed first, as the vendor signs
    it, unless `signed` is false or it has a signature the test made for it (one this
    rig made for other bytes or another version is made anew)."""
    if KEYED and signed and args and args[0].startswith("-u") and len(args) >= 4:
        archive = linux_path(args[3], cwd)
        ours = _signed.get(str(archive))
        if archive.is_file() and (not pathlib.Path(str(archive) + ".sig").exists() or (
                ours and ours != (args[2], zorvik_release.sha256_of(archive.read_bytes())))):
            sign_update(archive, args[2])
    # The tool's own exit codes are 0 and -1.
    return winerig.run_again_if_ended_by_wine([UPDATE, *args], cwd=cwd, timeout=120)


def listing(folder):
    """The names in `folder`, less the signatures a keyed build's runs add."""
    return sorted(p.name for p in folder.iterdir() if p.suffix != ".sig")


def missing_archive_line(archive):
    """What -u prints for an archive that is not there: a keyed build refuses it at
    its signature check, a build without a key finds it missing when it unpacks."""
    return texts.ARCHIVE_UNREADABLE % archive if KEYED else texts.NO_ARCHIVE


def place_runtime(folder, sleeping=False):
    """Puts the stub runtime into `folder` as nw.exe; a sleeping one waits to be killed."""
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy(winerig.BIN / "nw.exe", folder / "nw.exe")
    if sleeping:
        (folder / "stub-sleep").write_bytes(b"")
    return folder / "nw.exe"


def wait_for_launches(folder, count=1, timeout=60):
    """The runtime starts after the tool's own pause and records itself on its own
    schedule, so its record may come after the tool has exited."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = launches(folder)
        if len(found) >= count:
            return found
        time.sleep(0.1)
    return launches(folder)


def settle():
    """Time for a start that should not happen to show, before asserting its absence."""
    time.sleep(3)


def start_sleeping_client(folder):
    """A running client: a sleeping stub runtime. Returns its Popen and Windows pid."""
    exe = place_runtime(folder, sleeping=True)
    process = winerig.start([exe], cwd=folder)
    records = wait_for_launches(folder)
    assert records, "the sleeping stub runtime did not start"
    return process, records[-1]["pid"]


def finished_pid(folder):
    """The Windows pid of a stub runtime that has run and exited."""
    exe = place_runtime(folder)
    result = winerig.run([exe], cwd=folder)
    assert result.returncode == 0
    return launches(folder)[-1]["pid"]


def autostart_value(scratch):
    """The autostart value as (type, data bytes), or None when it is absent. Read with
    `reg export`, whose UTF-16 file carries the data exactly (`reg query` does not)."""
    exported = scratch / "run.reg"
    result = winerig.run(["reg", "export", RUN_KEY, winerig.winpath(exported), "/y"])
    assert result.returncode == 0, result.stderr
    text = exported.read_bytes().decode("utf-16")
    exported.unlink()
    lines = text.replace("\\\r\n", "").splitlines()
    prefix = '"%s"=' % AUTOSTART_VALUE
    for line in lines:
        if not line.startswith(prefix):
            continue
        value = line[len(prefix):]
        if value.startswith("hex(2):"):
            return "REG_EXPAND_SZ", bytes(int(b, 16) for b in value[len("hex(2):"):].replace(" ", "").split(","))
        if value.startswith('"'):
            return "REG_SZ", value[1:-1].encode("utf-16-le") + b"\0\0"
        return "other", value.encode()
    return None


def expand_sz(text):
    """REG_EXPAND_SZ data for `text`: UTF-16LE with its terminating null character."""
    return text.encode("utf-16-le") + b"\0\0"


SANDBOX_SERVER = "zorvik-sandbox"


@contextlib.contextmanager
def sandbox_volumes(folder):
    """A spare drive letter and a share of the build's prefix, each mapped to a fresh
    folder below `folder`, so that a root the tool must not delete is a sandbox's:
    yields (letter, drive folder, share folder). The share is \\\\zorvik-sandbox\\share."""
    devices = winerig.BUILD / "wineprefix" / "dosdevices"
    letter = next(c for c in "qponmlkjihgfedba" if not (devices / (c + ":")).exists())
    drive, share = folder / "drive", folder / "share"
    drive.mkdir()
    share.mkdir()
    unc_made = not (devices / "unc").exists()
    unc = devices / "unc" / SANDBOX_SERVER
    unc.mkdir(parents=True)
    (devices / (letter + ":")).symlink_to(drive, target_is_directory=True)
    (unc / "share").symlink_to(share, target_is_directory=True)
    try:
        yield letter.upper(), drive, share
    finally:
        (devices / (letter + ":")).unlink()
        (unc / "share").unlink()
        unc.rmdir()
        if unc_made:
            unc.parent.rmdir()


def current_directory(cwd):
    """The current directory a Windows program started in `cwd` sees."""
    result = winerig.run(["cmd", "/c", "cd"], cwd=cwd)
    assert result.returncode == 0, result.stderr
    return result.stdout.decode("ascii").strip()
