"""The demo's steps; scripts/demo builds first and then runs this."""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "support"))

import gateway  # noqa: E402
import launcher  # noqa: E402
import packages  # noqa: E402
import testca  # noqa: E402
import winerig  # noqa: E402

OUTPUT = REPO / "demo-output"
PORT = winerig.GATEWAY_PORT  # the gateway compiled into the build: https://localhost:PORT/gateway.php


def say(text):
    print(f"demo: {text}", flush=True)


def screenshot(name):
    OUTPUT.mkdir(exist_ok=True)
    path = OUTPUT / f"{name}.png"
    env = dict(os.environ, DISPLAY=winerig.wine_env()["DISPLAY"])
    subprocess.run(["import", "-window", "root", str(path)], env=env, check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    say(f"  screenshot {path.relative_to(REPO)}")


def main():
    certs = testca.ensure()
    testca.import_into_prefix(certs)
    package = packages.large_package(size=3_000_000)

    launcher.clean_install_root()
    work = pathlib.Path(tempfile.mkdtemp(prefix="zorvik-demo-"))
    server = gateway.Gateway(tls=True, certfile=certs.server_cert, keyfile=certs.server_key, port=PORT)
    server.start()
    try:
        url = server.url("/packages/sample-71.zip")
        server.expect("POST", "/gateway.php",
                      reply=gateway.Reply.json({"code": 0, "result": {"url": url, "version": "71"}}))
        # Sent in pieces, so the progress bar has time to be seen.
        server.expect("GET", "/packages/sample-71.zip", reply=gateway.Reply(package, drip=(60000, 0.05)))
        say(f"local gateway at {server.url('/gateway.php')} offers version 71 ({len(package)} bytes)")

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
                if not taken and status.startswith("正在下载更新吧(") and "(4" in status:
                    screenshot("2-downloading")
                    taken = True
                if status in ("更新文件完成，点击确定重新启动！", "更新失败！", "解压文件失败", "应用新文件失败！"):
                    break
                time.sleep(0.05)
            screenshot("3-installed")
            if dialog.status() != "更新文件完成，点击确定重新启动！":
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
        server.stop()
        problems = server.problems()
        if problems:
            say("gateway saw problems: " + "; ".join(problems))
            return 1
        say(f"done; screenshots are in {OUTPUT}")
        return 0
    finally:
        server.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
