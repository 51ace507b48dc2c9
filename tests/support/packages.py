"""Client packages as the package server delivers them: an outer zip archive holding
package.nw, itself a zip archive of the application folder. They are made by the
vendor's release tool (tools/zorvik_release.py), so the tests install what a vendor's
release holds; ziputil writes the archives no release would."""
import hashlib
import os
import pathlib
import random
import sys

import ziputil

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))

import zorvik_release  # noqa: E402

SAMPLE_APP = {
    "package.json": b'{"name": "sample-client", "main": "index.html"}',
    "index.html": b"<!doctype html><title>sample</title><script src=js/app.js></script>",
    "js/app.js": b"console.log('sample client');\n",
    "css/site.css": b"body { margin: 0 }\n",
}


def app_zip(files=SAMPLE_APP):
    """package.nw (and res.dat): the application folder's files, as pack writes them."""
    return zorvik_release.app_archive(files)


def outer_zip(package_nw):
    """The downloaded archive: package.nw alone, as pack writes package.zip."""
    return zorvik_release.outer_archive(package_nw)


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


def large_package_files(size=600_000, seed=1):
    """The sample application with `size` more bytes that do not compress."""
    return dict(SAMPLE_APP, **{"media/noise.bin": random.Random(seed).randbytes(size)})


def large_package(size=600_000, seed=1):
    """A package whose application holds `size` bytes that do not compress, so the
    download is about that long."""
    return package(large_package_files(size, seed))


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


def tree_contents(root, skip=()):
    """Every folder and file below root: relative name ("/" after a folder's) -> size
    and content hash. Paths in `skip` are left out, with all below them."""
    found = {}
    for folder, dirs, files in os.walk(root):
        here = pathlib.Path(folder)
        dirs[:] = [d for d in dirs if here / d not in skip]
        for d in dirs:
            found[(here / d).relative_to(root).as_posix() + "/"] = "folder"
        for f in files:
            path = here / f
            if path in skip:
                continue
            data = path.read_bytes()
            found[path.relative_to(root).as_posix()] = (len(data), hashlib.sha256(data).hexdigest())
    return found


def files_below(folder):
    """{relative name with "/": bytes} of every file below `folder`."""
    folder = pathlib.Path(folder)
    return {p.relative_to(folder).as_posix(): p.read_bytes() for p in folder.rglob("*") if p.is_file()}
