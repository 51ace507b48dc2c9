"""The demo's steps; scripts/demo builds first and then runs this. The sample client is
published the way a vendor publishes a release: tools/zorvik-release pack makes the
release folder (signed with the build's package key when the build has one), and
tools/zorvik-release serve offers it as the gateway and package server."""
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "support"))

import launcher  # noqa: E402
import packages  # noqa: E402
import testca  # noqa: E402
import texts  # noqa: E402
import winerig  # noqa: E402

OUTPUT = REPO / "demo-output"
TOOL = REPO / "tools" / "zorvik-release"
PORT = winerig.GATEWAY_PORT  # the gateway compiled into the build: https://localhost:PORT/gateway.php
# Slow enough that the progress bar can be seen and photographed.
RATE = 600_000


def say(text):
    print(f"demo: {text}", flush=True)


def screenshot(name):
    say(f"  screenshot {launcher.screenshot(name, OUTPUT).relative_to(REPO)}")


def publish(work):
    """The sample client's folder, packed into a release folder with the vendor's tool."""
    app = work / "sample-client"
    files = packages.large_package_files(size=3_000_000)
    for name, data in files.items():
        (app / name).parent.mkdir(parents=True, exist_ok=True)
        (app / name).write_bytes(data)
    release = work / "release-71"
    key = winerig.package_private_key()
    command = [str(TOOL), "pack", str(app), "--version", "71", "--out", str(release),
               "--url", f"https://localhost:{PORT}/packages/sample-71.zip", *(["--key", str(key)] if key else [])]
    say("$ " + " ".join(str(part).replace(str(work), "$WORK") for part in command))
    subprocess.run(command, check=True)
    say(f"  {sorted(p.name for p in release.iterdir())}; answer.json:")
    for line in (release / "answer.json").read_text().splitlines():
        say(f"    {line}")
    if not key:
        say("  (this build has no package key: the release is not signed)")
    return release


def serve(release, certs, work):
    """zorvik-release serve on the build's gateway port; returns the process once it
    accepts connections, and the file it logs requests to."""
    command = [str(TOOL), "serve", str(release), "--port", str(PORT), "--cert", str(certs.server_cert),
               "--key", str(certs.server_key), "--limit-rate", str(RATE)]
    say("$ " + " ".join(str(part).replace(str(work), "$WORK") for part in command))
    log = work / "serve.log"
    with open(log, "wb") as err:
        server = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=err, text=True)
    for line in server.stdout:
        say(f"  {line.rstrip()}")
        if line.startswith("ready: "):
            return server, log
    server.wait()
    raise SystemExit(f"serve ended with {server.returncode}: {log.read_text()}")


def main():
    certs = testca.ensure()
    testca.import_into_prefix(certs)

    launcher.clean_install_root()
    work = pathlib.Path(tempfile.mkdtemp(prefix="zorvik-demo-"))
    server = None
    try:
        release = publish(work)
        server, log = serve(release, certs, work)

        folder = launcher.make_launcher_folder(work, "Tarnvale Client")
        say(f"starting {folder / 'ZorvikUpdate.exe'} on an empty install root")
        with launcher.RunningLauncher(folder) as run:
            dialog = launcher.Dialog().wait()
            screenshot("1-checking")
            shown = None
            taken = False
            end = time.monotonic() + 120
            while time.monotonic() < end:
                status = dialog.status()
                if status != shown:
                    say(f"  status: {status}   bar: {dialog.progress()[0]}%")
                    shown = status
                if not taken and texts.percent_shown(status) >= 30:
                    screenshot("2-downloading")
                    taken = True
                if status in texts.DOWNLOAD_STATUSES:
                    break
                time.sleep(0.05)
            screenshot("3-installed")
            if dialog.status() != texts.STATUS_INSTALLED:
                say("the install did not complete")
                return 1
            say(f"  installed: {sorted(p.name for p in (launcher.install_root() / 'app' / '71').iterdir())}")
            say(f"  record: {(launcher.install_root() / 'jsver.txt').read_bytes()!r}")
            say("pressing the button")
            dialog.click(launcher.ACTION)
            say(f"  launcher ended with exit code {run.wait()}")
        launcher.eventually(lambda: len(launcher.launches(folder)), 1)
        say(f"  erp.exe was started as: {launcher.launches(folder)[0]['command_line']}")

        say("starting the launcher again: the client is installed now")
        (folder / "launches.jsonl").unlink()
        code, _, windows = launcher.launch_and_watch(folder)
        launcher.eventually(lambda: len(launcher.launches(folder)), 1)
        say(f"  exit code {code}, windows shown: {len(windows)}")
        say(f"  erp.exe was started as: {launcher.launches(folder)[0]['command_line']}")
        say("the release server saw:")
        for line in log.read_text().splitlines():
            say(f"  {line}")
        say(f"done; screenshots are in {OUTPUT}")
        return 0
    finally:
        if server is not None:
            server.terminate()
            server.wait()
            server.stdout.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
