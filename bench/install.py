"""bench/install: the launcher's install steps against native tools, measured in one run.

Package: about 60 MB in 3,000 files, like a packaged web app: many small text files
(scripts, styles, pages) and some large binaries (media, fonts), made from a fixed seed.
The launcher's peak memory is also measured on a package ten times that size: no step
may hold a whole package or archive in memory, which a 32-bit process could not.
"""
import json
import pathlib
import random
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "support"))

import gateway  # noqa: E402
import launcher  # noqa: E402
import testca  # noqa: E402
import texts  # noqa: E402
import winerig  # noqa: E402

PORT = winerig.GATEWAY_PORT
LARGE_MEDIA = 1_330  # media files that bring the package to about 600 MB
WORDS = ("function var return const let this new if else for while true false null "
         "window document element style color margin padding render update state").split()


def make_app(folder, seed=7, media=100):
    rng = random.Random(seed)
    total = 0
    for i in range(2_900):
        path = folder / f"src/module{i // 100:02d}/file{i:04d}.{rng.choice(['js', 'css', 'html', 'json'])}"
        path.parent.mkdir(parents=True, exist_ok=True)
        text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(300, 1_300))).encode()
        path.write_bytes(text)
        total += len(text)
    for i in range(media):
        path = folder / f"media/asset{i:04d}.bin"
        path.parent.mkdir(parents=True, exist_ok=True)
        data = rng.randbytes(440_000)
        path.write_bytes(data)
        total += len(data)
    return total


def zip_folder(folder, archive_path, method):
    with zipfile.ZipFile(archive_path, "w", method) as archive:
        for path in sorted(folder.rglob("*")):
            if path.is_file():
                archive.write(path, path.relative_to(folder).as_posix())


def timed(command, **kwargs):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)
    return time.perf_counter() - start


def vm_hwm_kib(pid):
    try:
        for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


def launcher_install(server, url, work, name="launcher"):
    """The real launcher on an empty install root; its peak resident memory (the wine
    process hosting it, wine included) and the time to the finished dialog."""
    launcher.clean_install_root()
    server.expect("POST", "/gateway.php",
                  reply=gateway.Reply.json({"code": 0, "result": {"url": url, "version": "71"}}))
    folder = launcher.make_launcher_folder(work, name)
    start = time.perf_counter()
    with launcher.RunningLauncher(folder) as run:
        dialog = launcher.Dialog().wait()
        peak = 0
        status = ""
        while time.perf_counter() - start < 600:
            peak = max(peak, vm_hwm_kib(run.process.pid))
            status = dialog.status()
            if status == texts.STATUS_INSTALLED:
                break
            if status in texts.DOWNLOAD_STATUSES | {texts.STATUS_NETWORK_ERROR, texts.STATUS_SERVER_ERROR}:
                raise SystemExit(f"the launcher's install failed: {status}")
            time.sleep(0.2)
        else:
            raise SystemExit(f"the launcher's install did not finish; last status {status}")
        elapsed = time.perf_counter() - start
        peak = max(peak, vm_hwm_kib(run.process.pid))
        dialog.click(launcher.CANCEL)
        run.wait()
    launcher.clean_install_root()
    return elapsed, peak


def baseline_wine_process(work):
    """Peak resident memory of the stub runtime, a program that does next to nothing:
    what wine itself costs any process."""
    folder = work / "stub"
    folder.mkdir()
    shutil.copy(winerig.BIN / "erp.exe", folder / "erp.exe")
    (folder / "stub-sleep").touch()
    process = winerig.start([folder / "erp.exe"])
    try:
        launcher.eventually(lambda: (folder / "launches.jsonl").exists(), True)
        time.sleep(0.5)
        return vm_hwm_kib(process.pid)
    finally:
        process.kill()
        process.wait()


def make_package(work, name, media):
    """(app size, the outer archive's bytes) of a package: package.nw deflated, inside
    a stored outer archive, as vendors ship them."""
    app = work / f"app-{name}"
    size = make_app(app, media=media)
    zip_folder(app, work / f"package-{name}.nw", zipfile.ZIP_DEFLATED)
    outer_folder = work / f"outer-{name}"
    outer_folder.mkdir()
    shutil.move(work / f"package-{name}.nw", outer_folder / "package.nw")
    zip_folder(outer_folder, work / f"pack-{name}.zip", zipfile.ZIP_STORED)
    shutil.rmtree(app)
    shutil.rmtree(outer_folder)
    return size, (work / f"pack-{name}.zip").read_bytes()


def main():
    certs = testca.ensure()
    testca.import_into_prefix(certs)
    work = pathlib.Path(tempfile.mkdtemp(prefix="zorvik-bench-"))
    server = gateway.Gateway(tls=True, certfile=certs.server_cert, keyfile=certs.server_key, port=PORT)
    try:
        app = work / "app"
        size = make_app(app)
        zip_folder(app, work / "package.nw", zipfile.ZIP_DEFLATED)
        outer_folder = work / "outer"
        outer_folder.mkdir()
        shutil.copy(work / "package.nw", outer_folder / "package.nw")
        zip_folder(outer_folder, work / "pack.zip", zipfile.ZIP_STORED)
        package = (work / "pack.zip").read_bytes()
        print(f"package: {size / 1e6:.1f} MB in 3000 files; download {len(package) / 1e6:.1f} MB", flush=True)

        server.start()
        url = server.url("/pack.zip")
        # curl, install_bench (without and with the digest) and the dialog's install.
        server.expect("GET", "/pack.zip", reply=gateway.Reply(package), times=4)

        print("timing curl, the launcher's steps, unzip and rm ...", flush=True)
        curl = timed(["curl", "-sS", "--cacert", str(certs.ca), "-o", str(work / "curl.zip"), url])
        bench_dir = work / "bench"
        bench_dir.mkdir()
        out = winerig.run([winerig.BIN / "install_bench.exe", url, winerig.winpath(bench_dir)], timeout=900)
        if out.returncode != 0:
            raise SystemExit(f"install_bench failed: {out.stderr.decode(errors='replace')}")
        ours = json.loads(out.stdout.decode().strip().splitlines()[-1])

        native_outer = timed(["unzip", "-o", "-q", str(work / "pack.zip"), "-d", str(work / "u-outer")])
        native_inner = timed(["unzip", "-o", "-q", str(work / "u-outer" / "package.nw"), "-d", str(work / "u-inner")])
        native_delete = timed(["rm", "-rf", str(work / "u-inner")])

        print("installing through the launcher's dialog ...", flush=True)
        total, peak = launcher_install(server, url, work)
        baseline = baseline_wine_process(work)
        print("installing a package ten times that size through the dialog ...", flush=True)
        large_size, large = make_package(work, "large", LARGE_MEDIA)
        server.expect("GET", "/pack-large.zip", reply=gateway.Reply(large))
        large_total, large_peak = launcher_install(server, server.url("/pack-large.zip"), work, "launcher-large")
        del large
        server.stop()
        problems = server.problems()
        if problems:
            raise SystemExit("gateway: " + "; ".join(problems))

        rows = [
            ("download (loopback https)", ours["download"], "curl", curl),
            ("extract downloaded archive", ours["extract_outer"], "unzip -o", native_outer),
            ("extract package.nw", ours["extract_inner"], "unzip -o", native_inner),
            ("delete old folder", ours["delete"], "rm -rf", native_delete),
        ]
        print(f"{'step':28} {'launcher s':>10} {'reference':>10} {'ref s':>8} {'ratio':>7}")
        for name, mine, reference, theirs in rows:
            print(f"{name:28} {mine:10.2f} {reference:>10} {theirs:8.2f} {mine / theirs:7.2f}")
        print(f"download with its sha256 computed as it is written: {ours['download_digest']:.2f} s, "
              f"without: {ours['download']:.2f} s; ratio {ours['download_digest'] / ours['download']:.2f}")
        print(f"whole install through the dialog: {total:.1f} s")
        print(f"launcher peak working set (VmHWM of its wine process): {peak / 1024:.1f} MiB; "
              f"an idle wine process: {baseline / 1024:.1f} MiB; launcher's own share ~{(peak - baseline) / 1024:.1f} MiB")
        print(f"peak working set, {size / 1e6:.0f} MB package: {peak / 1024:.1f} MiB; "
              f"{large_size / 1e6:.0f} MB package: {large_peak / 1024:.1f} MiB "
              f"(install {large_total:.1f} s); ratio {large_peak / peak:.2f}")

    finally:
        server.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
