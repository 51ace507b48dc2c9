"""Shared pieces of the hostile-answer and hostile-record campaigns: the driver, file
tree snapshots, and the launcher's view of a folder name."""
import json
import ntpath
import os
import pathlib
import subprocess

import winerig

DRIVER = winerig.BIN / "hostile_driver.exe"


def run_driver(*args, out, timeout=600):
    """Runs hostile_driver and returns (exit code, [case records], ended cleanly)."""
    result = winerig.run([DRIVER, *map(str, args)], timeout=timeout)
    lines = pathlib.Path(out).read_bytes().splitlines() if pathlib.Path(out).exists() else []
    records = [json.loads(line) for line in lines]
    ended = bool(records) and records[-1] == {"end": 1}
    return result.returncode, [r for r in records if "case" in r], ended


def unhex(text):
    return bytes.fromhex(text)


def snapshot(folder, skip=()):
    """{relative path: (is folder, size, mtime)} of everything below `folder`; links
    are listed, never followed. Paths below a name in `skip` are left out."""
    folder = pathlib.Path(folder)
    found = {}
    for dirpath, dirnames, filenames in os.walk(folder):
        rel_dir = pathlib.Path(dirpath).relative_to(folder)
        dirnames[:] = [d for d in dirnames if str(rel_dir / d) not in skip]
        for name in dirnames + filenames:
            path = pathlib.Path(dirpath) / name
            stat = path.lstat()
            found[str(rel_dir / name)] = (path.is_dir() and not path.is_symlink(), stat.st_size,
                                          stat.st_mtime_ns if not path.is_dir() else 0)
    return found


def changes(before, after):
    """Entries created, deleted or changed between two snapshots."""
    created = sorted(set(after) - set(before))
    deleted = sorted(set(before) - set(after))
    changed = sorted(p for p in set(before) & set(after) if before[p] != after[p])
    return {"created": created, "deleted": deleted, "changed": changed}


def prefix_snapshot():
    """The prefix's drive C, without what wine itself keeps changing."""
    user = os.environ.get("USER", "root")
    drive = winerig.BUILD / "wineprefix" / "drive_c"
    return snapshot(drive, skip={"windows", f"users/{user}/AppData/Local/Temp", f"users/{user}/Temp",
                                 f"users/{user}/AppData/Local/tarnvaleerp"})


def one_folder_below(path, parent):
    """True when the Windows path `path` names one folder directly inside `parent`,
    the way Windows resolves it: no separator, drive or stream in the name, not a
    name that trailing-dot and blank trimming changes, not a device."""
    name = path[len(parent) + 1:] if path.startswith(parent + "\\") else None
    if not name or any(c in name for c in '\\/:*?"<>|') or any(ord(c) < 0x20 for c in name):
        return False
    if name.rstrip(". ") != name:
        return False
    base = name.split(".")[0].rstrip(" ").upper()
    devices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}
    devices |= {f"{d}{n}" for d in ("COM", "LPT") for n in "0123456789\u00b9\u00b2\u00b3"}
    return base not in devices and ntpath.normpath(path) == path


def windows_text(data):
    """Bytes of an ANSI (code page 936) path as text, for comparing paths."""
    return data.decode("gbk", errors="surrogateescape")


def wait_process(process, seconds):
    try:
        return process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return "timeout"
