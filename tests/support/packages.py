"""Client packages as the package server delivers them: an outer zip archive holding
package.nw, itself a zip archive of the application folder."""
import io
import random
import zipfile

import ziputil

SAMPLE_APP = {
    "package.json": b'{"name": "sample-client", "main": "index.html"}',
    "index.html": b"<!doctype html><title>sample</title><script src=js/app.js></script>",
    "js/app.js": b"console.log('sample client');\n",
    "css/site.css": b"body { margin: 0 }\n",
}


def _stamped(name, method):
    """A fixed time stamp, so the same files always give the same bytes."""
    info = zipfile.ZipInfo(name, date_time=(2026, 1, 2, 3, 4, 6))
    info.compress_type = method
    return info


def app_zip(files=SAMPLE_APP):
    """package.nw: the application folder's files (deflated, folders implied)."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            archive.writestr(_stamped(name, zipfile.ZIP_DEFLATED), data)
    return buffer.getvalue()


def outer_zip(package_nw):
    """The downloaded archive: package.nw alone (stored, it is compressed already)."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as archive:
        archive.writestr(_stamped("package.nw", zipfile.ZIP_STORED), package_nw)
    return buffer.getvalue()


def package(files=SAMPLE_APP):
    return outer_zip(app_zip(files))


def hostile_package():
    """A package.nw whose entries try to leave the folder they are unpacked into."""
    inner = ziputil.build_zip([
        ziputil.entry("index.html", b"ok"),
        ziputil.entry("../../escaped-up.txt", b"evil"),
        ziputil.entry("..\\..\\escaped-back.txt", b"evil"),
        ziputil.entry("C:/escaped-drive.txt", b"evil"),
        ziputil.entry("/escaped-root.txt", b"evil"),
        ziputil.entry("CON", b"evil"),
        ziputil.entry("js/app.js", b"still here"),
    ])
    return outer_zip(inner)


def large_package(size=600_000, seed=1):
    """A package whose application holds `size` bytes that do not compress, so the
    download is about that long."""
    noise = random.Random(seed).randbytes(size)
    return package(dict(SAMPLE_APP, **{"media/noise.bin": noise}))


def bulky_app(entries=1200, noise_size=12_000_000, seed=2):
    """Application files for installs that must take a while at every stage: many
    small entries (a long second extraction and deletion) and one large one that does
    not compress (a long download and a long copy of package.nw in the first)."""
    rng = random.Random(seed)
    files = dict(SAMPLE_APP)
    for i in range(entries):
        files[f"lib/part{i // 100:02d}/module{i:04d}.js"] = rng.randbytes(rng.randrange(200, 3000))
    files["media/noise.bin"] = rng.randbytes(noise_size)
    return files
