"""The test programs the other suites rely on behave as those suites assume."""
import json
import shutil

import winerig


def test_stub_runtime_records_its_start(tmp_path):
    folder = tmp_path / "client dir"
    folder.mkdir()
    shutil.copy(winerig.BIN / "erp.exe", folder / "erp.exe")

    result = winerig.run([folder / "erp.exe", "Z:\\a b\\app", "plain"], cwd=tmp_path)

    assert result.returncode == 0
    lines = (folder / "launches.jsonl").read_text(encoding="utf-8").splitlines()
    assert len(lines) == 1
    record = json.loads(lines[0])
    assert record["exe"] == winerig.winpath(folder / "erp.exe")
    assert record["command_line"].endswith('"Z:\\a b\\app" plain')
    assert record["cwd"] == winerig.winpath(tmp_path)
    assert record["pid"] > 0
