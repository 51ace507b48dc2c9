"""The resources built into ZorvikUpdate.exe, read back from the program file: the
update dialog and the About box control by control, the accelerators, the pictures
and the manifest."""
import pathlib
import struct
import subprocess
import sys

import pytest

import launcher
import texts
from pe_resources import RT_ACCELERATOR, RT_BITMAP, RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST, dialog, resources

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00080000
DS_MODALFRAME, DS_3DLOOK, DS_CENTER, DS_SETFONT = 0x80, 0x04, 0x800, 0x40
WS_EX_TOPMOST, WS_EX_TRANSPARENT, WS_EX_CLIENTEDGE, WS_EX_APPWINDOW = 0x8, 0x20, 0x200, 0x40000
SS_ICON, SS_BITMAP, SS_TYPEMASK = 0x3, 0xE, 0x1F
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_TYPEMASK = 0x0, 0x1, 0xF
PBS_SMOOTH = 0x1
FVIRTKEY, FALT, LAST_ENTRY = 0x01, 0x10, 0x80


@pytest.fixture(scope="module")
def built():
    return resources(launcher.LAUNCHER)


def test_update_dialog_is_laid_out_as_designed(built):
    d = dialog(built[(RT_DIALOG, 133)])

    assert d["caption"] == texts.DIALOG
    assert d["rect"] == (0, 0, 300, 74)
    assert d["font"] == (8, "MS Shell Dlg")
    wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_3DLOOK | DS_SETFONT
    assert d["style"] & wanted == wanted
    assert not d["style"] & WS_VISIBLE  # shown with the show command the launcher got
    assert d["ex_style"] == WS_EX_TOPMOST | WS_EX_CLIENTEDGE | WS_EX_APPWINDOW

    controls = {c["id"]: c for c in d["controls"]}
    assert sorted(controls) == [1000, 1007, 1008, 1009, 1010]
    for c in controls.values():
        assert c["style"] & (WS_CHILD | WS_VISIBLE) == WS_CHILD | WS_VISIBLE, c

    # id: class, text, position and size, type or flags that must be set, extended style
    expected = {
        1007: ("static", 136, (17, 14, 40, 37), WS_EX_TRANSPARENT),
        1008: ("static", texts.STATUS_INITIAL, (67, 19, 202, 10), 0),
        1000: ("msctls_progress32", "", (65, 32, 216, 13), 0),
        1009: ("button", texts.CAPTION_OK, (174, 51, 50, 14), 0),
        1010: ("button", texts.CAPTION_CANCEL, (231, 51, 50, 14), 0),
    }
    for control_id, (cls, text, rect, ex_style) in expected.items():
        c = controls[control_id]
        assert (c["cls"], c["text"], c["rect"], c["ex_style"]) == (cls, text, rect, ex_style), c
    assert controls[1007]["style"] & SS_TYPEMASK == SS_BITMAP
    assert controls[1008]["style"] & SS_TYPEMASK == 0  # left-aligned text
    assert controls[1000]["style"] & (PBS_SMOOTH | WS_BORDER) == PBS_SMOOTH | WS_BORDER
    assert controls[1009]["style"] & BS_TYPEMASK == BS_DEFPUSHBUTTON
    assert controls[1010]["style"] & BS_TYPEMASK == BS_PUSHBUTTON


def test_about_box_names_the_program_and_version(built):
    d = dialog(built[(RT_DIALOG, 103)])

    assert d["caption"] == texts.ABOUT
    assert d["rect"][2:] == (170, 62)
    assert d["font"] == (9, "MS Shell Dlg")
    statics = [c for c in d["controls"] if c["cls"] == "static"]
    assert [c["style"] & SS_TYPEMASK for c in statics].count(SS_ICON) == 1
    shown = [c["text"] for c in statics if c["style"] & SS_TYPEMASK != SS_ICON]
    assert shown[0] == texts.ABOUT_VERSION
    assert len(shown) == 2 and shown[1]
    ok = [c for c in d["controls"] if c["id"] == 1]
    assert len(ok) == 1
    assert (ok[0]["cls"], ok[0]["text"]) == ("button", texts.CAPTION_OK)
    assert ok[0]["style"] & BS_TYPEMASK == BS_DEFPUSHBUTTON


def test_accelerators_give_about_for_alt_question_mark_and_alt_slash(built):
    table = built[(RT_ACCELERATOR, 109)]
    entries = [struct.unpack_from("<HHHH", table, at) for at in range(0, len(table), 8)]

    assert entries[-1][0] & LAST_ENTRY
    assert sorted((flags & ~LAST_ENTRY, key, command) for flags, key, command, _ in entries) == [
        (FALT, ord("/"), 104),
        (FALT, ord("?"), 104),
    ]


def test_pictures_and_manifest_are_built_in(built):
    assert (RT_GROUP_ICON, 107) in built
    assert (RT_GROUP_ICON, 108) in built
    assert built[(RT_BITMAP, 136)][:4] == struct.pack("<I", 40)  # a DIB without file header

    manifest = built[(RT_MANIFEST, 1)].decode("utf-8")
    assert 'requestedExecutionLevel level="asInvoker"' in manifest
    assert ">true</dpiAware>" in manifest
    assert 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in " ".join(manifest.split())


def test_committed_pictures_are_the_ones_the_script_draws():
    script = pathlib.Path(__file__).resolve().parents[2] / "resources" / "make_images.py"
    result = subprocess.run([sys.executable, str(script), "--check"], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout
