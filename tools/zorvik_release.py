"""The vendor's release tool: from an application folder, exactly the files the
launcher reads, and a staging server that offers them.

    zorvik-release pack APP_FOLDER --version V --url URL --out DIR
                        [--platform P] [--type T] [--key PRIVATE.pem]
    zorvik-release update OLD_APP NEW_APP --version V --out DIR [--key PRIVATE.pem] [--full]
    zorvik-release answer --no-update --version V [--platform P] [--type T]
                          --key PRIVATE.pem --out DIR
    zorvik-release serve DIR... [--port P] [--cert CERT --key KEY] [--limit-rate BYTES]

pack writes into DIR (created; it must not exist or be empty):
- package.zip: the archive the gateway's URL names, holding package.nw alone (stored),
  itself the zip archive of the application folder (deflated);
- res.dat and jsver.txt: the same application archive and its version record, to ship
  beside the launcher for an install without network;
- answer.json: the gateway's answer for this release, with the package's SHA-256 and,
  with --key, its signature.

answer writes DIR/answer.json (DIR is created; an answer.json there is not replaced):
the signed answer with nothing to install, which a launcher built with a package key
requires before its button starts the client's folder for version V.

The same folder gives the same bytes: entries in sorted order, every entry dated
1980-01-01 00:00 with the same attributes. A symbolic link is stored as the file or
folder it points to inside APP_FOLDER. A name the launcher would refuse or could not
write, and a link that points outside, dangles or loops, stop pack before anything is
written.

Only the standard library, and the openssl command for signing. The test support
imports this module, so the launcher's tests and the vendor's releases are built by
the same code.
"""
import argparse
import base64
import errno
import filecmp
import hashlib
import http.server
import io
import json
import os
import pathlib
import shutil
import socketserver
import ssl
import stat
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import zipfile

DEFAULT_PLATFORM = "2"  # the launcher's own defaults when it has no version record
DEFAULT_TYPE = "1"
GATEWAY_PATH = "/gateway.php"

# Every entry carries the same time and attributes, so the archive depends on the
# files' names and contents alone. 1980-01-01 00:00 is the earliest DOS time.
ENTRY_TIME = (1980, 1, 1, 0, 0, 0)
_FILE_ATTRIBUTES = (0o100644 << 16) | 0x20   # regular file, rw-r--r--; archive bit
_FOLDER_ATTRIBUTES = (0o040755 << 16) | 0x10  # folder, rwxr-xr-x; directory bit
_COMPONENT_LIMIT = 255  # UTF-16 units of one file or folder name, as Windows allows
# UTF-16 units of a whole entry name: the launcher writes through \\?\ paths of at most
# 32767 units, and its staging folder, entered with a narrow call, takes up to 4 + 259
# of them (the prefix, the folder and its backslash).
_PATH_LIMIT = 32767 - 4 - 259
_ZIP_NAME_LIMIT = 0xFFFF  # bytes of UTF-8: a zip entry's name length is 16 bits
# The version names app\temp<version> and app\<version> below the install root, and
# every path below them must fit the launcher's 200-byte path buffers: past about 145
# characters nothing can be installed. 64 leaves the application's own names room.
VERSION_LIMIT = 64
_CHUNK = 1024 * 1024

# Windows opens a device instead of a file for these names, in any folder, whatever
# follows the first dot and however many blanks precede it ("aux.js", "Con .txt").
# COM and LPT also take the superscript digits 1, 2 and 3.
_DEVICES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}
_DEVICE_DIGITS = set("0123456789\u00b9\u00b2\u00b3")
_FORBIDDEN = set('\\/:*?"<>|')


class ReleaseError(Exception):
    """A refusal: the message says what is wrong and with which file."""


# -- names ----------------------------------------------------------------------------

def _is_device(component):
    base = component.split(".", 1)[0].rstrip(" ")
    upper = base.upper()
    if upper in _DEVICES:
        return True
    return len(base) == 4 and upper[:3] in ("COM", "LPT") and base[3] in _DEVICE_DIGITS


def _utf16_units(text):
    return len(text.encode("utf-16-le", "surrogatepass")) // 2


def component_problem(component):
    """Why `component` cannot stand as one file or folder name on Windows, or None."""
    if component == "":
        return "an empty name component"
    if component.strip(". ") == "":
        return "a name made only of dots and blanks"
    for c in component:
        if ord(c) < 0x20 or ord(c) == 0x7F:
            return "a control character"
        if c in _FORBIDDEN:
            return f"the character {c!r}, which Windows forbids in names"
    if component[-1] in ". ":
        return "a trailing dot or blank, which Windows drops (it would name another file)"
    if _utf16_units(component) > _COMPONENT_LIMIT:
        return f"a name of more than {_COMPONENT_LIMIT} UTF-16 units, more than Windows allows"
    if _is_device(component):
        return "a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, with any extension)"
    return None


def entry_name_problem(name):
    """Why the launcher would refuse, or could not write, an archive entry named `name`
    (components separated by "/"), or None when it is sound. Refused: leading
    separators, drive letters and every ":" (alternate streams), "..", names made of
    dots and blanks, device names in any component, characters Windows forbids,
    trailing dots or blanks, a component longer than Windows allows, and a whole name
    longer than the launcher can write."""
    if name == "":
        return "an empty name"
    if name[0] in "/\\":
        return "a leading separator"
    if ":" in name:
        return "a drive letter or ':'"
    if "\\" in name:
        return "a backslash, which the launcher reads as a folder separator"
    try:
        encoded = name.encode("utf-8")
    except UnicodeEncodeError:
        return "bytes that are not UTF-8 text"
    if len(encoded) > _ZIP_NAME_LIMIT:
        return f"a name of more than {_ZIP_NAME_LIMIT} bytes in UTF-8, more than a zip entry holds"
    if _utf16_units(name) > _PATH_LIMIT:
        return f"a path of more than {_PATH_LIMIT} UTF-16 units, more than the launcher can write"
    for component in name.split("/"):
        if component == "..":
            return "a '..' component"
        problem = component_problem(component)
        if problem:
            return problem
    return None


def text_field_problem(value):
    """Why `value` cannot be a platform, type or version text, or None. They travel in
    the form POST, the version record and what is signed; printable ASCII reads the same
    in every code page the launcher may run under."""
    if value == "":
        return "it is empty"
    if not all(0x20 <= ord(c) < 0x7F for c in value):
        return "it is not printable ASCII"
    return None


def version_problem(version):
    """The version also names the folder the launcher installs into and deletes, and
    never one that begins with "temp" in any letter case: the launcher's staging folder
    for version V is tempV, and it refuses such a version."""
    problem = text_field_problem(version) or component_problem(version)
    if problem is None and len(version) > VERSION_LIMIT:
        problem = (f"it is longer than {VERSION_LIMIT} characters, and the paths the launcher makes "
                   f"from it would outgrow its path buffers")
    if problem is None and version[:4].lower() == "temp":
        problem = "it begins with 'temp', which names the launcher's staging folder of another version"
    return problem


# -- archives -------------------------------------------------------------------------

def _entry(name, folder=False, compress=True):
    info = zipfile.ZipInfo(name + ("/" if folder else ""), date_time=ENTRY_TIME)
    info.create_system = 3
    info.create_version = 20
    info.extract_version = 20
    info.external_attr = _FOLDER_ATTRIBUTES if folder else _FILE_ATTRIBUTES
    info.compress_type = zipfile.ZIP_DEFLATED if compress and not folder else zipfile.ZIP_STORED
    # zipfile sets the UTF-8 flag (bit 11) itself for names that are not ASCII.
    return info


def write_archive(out, members, compress=True):
    """Writes a zip archive of `members`, in the order given, to the binary file
    `out`. Each member is (name, source): source None for a folder entry, bytes, or the
    path of a file whose contents are streamed."""
    with zipfile.ZipFile(out, "w", allowZip64=True) as archive:
        for name, source in members:
            if source is None:
                archive.writestr(_entry(name, folder=True), b"")
            elif isinstance(source, (bytes, bytearray)):
                archive.writestr(_entry(name, compress=compress), bytes(source))
            else:
                info = _entry(name, compress=compress)
                info.file_size = os.path.getsize(source)
                with open(source, "rb") as src, archive.open(info, "w", force_zip64=info.file_size > 0x7FFFFFFF) as dst:
                    shutil.copyfileobj(src, dst, _CHUNK)


def archive_bytes(members, compress=True):
    buffer = io.BytesIO()
    write_archive(buffer, members, compress)
    return buffer.getvalue()


def app_members(files):
    """{name: bytes} of an application as sorted members of its archive."""
    bad = [(name, entry_name_problem(name)) for name in files if entry_name_problem(name)]
    if bad:
        raise ReleaseError("; ".join(f"{name!r}: {problem}" for name, problem in bad))
    return sorted(files.items())


def app_archive(files):
    """package.nw (and res.dat) of an application given as {name: bytes}."""
    return archive_bytes(app_members(files))


def outer_archive(package_nw):
    """package.zip: package.nw alone, stored (it is compressed already). `package_nw`
    is the bytes or the path of package.nw."""
    return archive_bytes([("package.nw", package_nw)], compress=False)


def _link_target(link, root, chain):
    """(target, None) for a symbolic link whose target lies inside `root` and is no
    folder on `chain` (the folders being listed down to the link), else (None, why)."""
    try:
        target = link.resolve(strict=True)
    except FileNotFoundError:
        return None, "a symbolic link whose target does not exist"
    except RuntimeError:  # Python before 3.13 reports a loop so
        return None, "a symbolic link that loops"
    except OSError as error:
        if error.errno == errno.ELOOP:
            return None, "a symbolic link that loops"
        return None, f"a symbolic link that cannot be followed ({error.strerror})"
    if target != root and root not in target.parents:
        return None, f"a symbolic link to {target}, outside the application folder"
    if target in chain:
        return None, "a symbolic link to a folder that holds it, which loops"
    return target, None


def folder_members(folder):
    """The members of APP_FOLDER's archive: every file, and every empty folder, under
    its name relative to the folder, sorted. A symbolic link whose target lies inside
    the folder is stored as the file it points to, or as the contents of the folder it
    points to, as the launcher installs no links. Refuses links that point outside,
    dangle or loop, names the launcher would refuse or could not write, names that
    differ only in letter case (Windows keeps one of them), and special files."""
    folder = pathlib.Path(folder)
    if not folder.is_dir():
        raise ReleaseError(f"{folder}: not a folder")
    root = folder.resolve()
    members = []
    seen = {}
    problems = []

    def visit(listed, prefix, chain):
        # `listed` is a real folder inside root; `prefix` its name in the archive.
        for name in sorted(os.listdir(listed)):
            relative = prefix + name
            shown = folder / relative
            source = listed / name
            problem = entry_name_problem(relative)
            if problem is None and source.is_symlink():
                source, problem = _link_target(source, root, chain)
            mode = source.stat().st_mode if problem is None else 0
            if problem is None and not (stat.S_ISREG(mode) or stat.S_ISDIR(mode)):
                problem = "not a regular file"
            folded = relative.casefold()
            if problem is None and folded in seen:
                problem = f"the same name as {seen[folded]!r} on Windows, which ignores letter case"
            if problem:
                problems.append(f"{shown}: {problem}")
                continue
            seen[folded] = relative
            if stat.S_ISREG(mode):
                members.append((relative, source))
            elif not os.listdir(source):
                members.append((relative, None))
            else:
                visit(source, relative + "/", chain | {source})

    visit(root, "", {root})
    if problems:
        raise ReleaseError("refused:\n  " + "\n  ".join(problems))
    if not members:
        raise ReleaseError(f"{folder}: the folder holds no files")
    return sorted(members, key=lambda m: m[0])


def version_record(platform, type_, version):
    """jsver.txt as the launcher itself writes it: one JSON line, members in the order
    platform, type, ver, and a CR LF."""
    return json.dumps({"platform": platform, "type": type_, "ver": version},
                      separators=(",", ":")).encode("ascii") + b"\r\n"


def read_version_record(data):
    """(platform, type, version) of a jsver.txt in the launcher's form, with the
    launcher's defaults for members that are absent."""
    record = json.loads(data.decode("utf-8"))
    if not isinstance(record, dict):
        raise ValueError("not a JSON object")
    text = lambda value: value if isinstance(value, str) else json.dumps(value)  # noqa: E731
    return (text(record.get("platform", DEFAULT_PLATFORM)), text(record.get("type", DEFAULT_TYPE)),
            text(record.get("ver", "70")))


def sha256_of(source):
    """Lower-case hex SHA-256 of bytes or of a file's contents."""
    digest = hashlib.sha256()
    if isinstance(source, (bytes, bytearray)):
        digest.update(source)
    else:
        with open(source, "rb") as f:
            for chunk in iter(lambda: f.read(_CHUNK), b""):
                digest.update(chunk)
    return digest.hexdigest()


# -- signatures -----------------------------------------------------------------------

def signed_text(platform, type_, version, sha256_hex):
    """The bytes a release's signature covers: an answer for another platform, type or
    version cannot be replayed with it."""
    return f"{platform}\n{type_}\n{version}\n{sha256_hex.lower()}".encode("utf-8")


def _der_length(data, at):
    first = data[at]
    if first < 0x80:
        return first, at + 1
    count = first & 0x7F
    if not 1 <= count <= 2:
        raise ValueError("DER length out of range")
    return int.from_bytes(data[at + 1:at + 1 + count], "big"), at + 1 + count


def der_to_raw(der):
    """ECDSA-Sig-Value (SEQUENCE of two INTEGERs) to the 64-byte r||s of P-256."""
    if len(der) < 8 or der[0] != 0x30:
        raise ValueError("not a DER signature")
    length, at = _der_length(der, 1)
    if at + length != len(der):
        raise ValueError("DER signature of the wrong length")
    parts = []
    for _ in range(2):
        if der[at] != 0x02:
            raise ValueError("DER signature without an INTEGER")
        length, at = _der_length(der, at + 1)
        value = int.from_bytes(der[at:at + length], "big")
        if value.bit_length() > 256:
            raise ValueError("not a P-256 signature")
        parts.append(value.to_bytes(32, "big"))
        at += length
    if at != len(der):
        raise ValueError("bytes after the DER signature")
    return b"".join(parts)


def raw_to_der(raw):
    """The 64-byte r||s form back to DER, as openssl verifies it."""
    if len(raw) != 64:
        raise ValueError("a P-256 signature has 64 bytes")

    def integer(value):
        body = value.lstrip(b"\x00") or b"\x00"
        if body[0] & 0x80:
            body = b"\x00" + body
        return b"\x02" + bytes([len(body)]) + body

    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


def _openssl(args, data=None):
    try:
        return subprocess.run(["openssl", *map(str, args)], input=data, capture_output=True, check=False)
    except FileNotFoundError:
        raise ReleaseError("the openssl command is needed for signing and was not found") from None


def check_private_key(private_key_pem_path):
    """Refuses a key that is not an ECDSA P-256 private key in PEM form."""
    out = _openssl(["pkey", "-in", private_key_pem_path, "-noout", "-text"])
    text = out.stdout.decode(errors="replace")
    if out.returncode != 0 or "Private-Key" not in text:
        raise ReleaseError(f"{private_key_pem_path}: not a readable PEM private key")
    if "prime256v1" not in text and "P-256" not in text:
        raise ReleaseError(f"{private_key_pem_path}: not an ECDSA P-256 key")


def sign_bytes(private_key_pem_path, text):
    """ECDSA P-256 over SHA-256 of `text`, as 64-byte raw r||s in standard base64 (88
    characters): the form both programs check."""
    check_private_key(private_key_pem_path)
    out = _openssl(["dgst", "-sha256", "-sign", private_key_pem_path], text)
    if out.returncode != 0:
        raise ReleaseError(f"openssl could not sign with {private_key_pem_path}: "
                           f"{out.stderr.decode(errors='replace').strip()}")
    return base64.b64encode(der_to_raw(out.stdout)).decode("ascii")


def key_fingerprint(private_key_pem_path):
    """SHA-256 (lower-case hex) of the DER SubjectPublicKeyInfo of the key's public
    half: what the build prints for each key it compiles in."""
    out = _openssl(["pkey", "-in", private_key_pem_path, "-pubout", "-outform", "DER"])
    if out.returncode != 0 or not out.stdout:
        raise ReleaseError(f"{private_key_pem_path}: its public half cannot be derived")
    return hashlib.sha256(out.stdout).hexdigest()


def sign_checked(private_key_pem_path, text):
    """sign_bytes(), then the signature verified against the key's public half, as a
    program built with that half verifies it: a signature that would not verify is
    never published. Returns (signature, key fingerprint)."""
    signature = sign_bytes(private_key_pem_path, text)
    out = _openssl(["pkey", "-in", private_key_pem_path, "-pubout"])
    with tempfile.NamedTemporaryFile(suffix=".pem") as public:
        public.write(out.stdout)
        public.flush()
        if out.returncode != 0 or not verify_bytes(public.name, text, signature):
            raise ReleaseError(f"{private_key_pem_path}: the signature made with it does not verify "
                               f"with its public half")
    return signature, key_fingerprint(private_key_pem_path)


def verify_bytes(public_key_pem_path, text, signature):
    """True when `signature` (88 base64 characters) over `text` verifies with the
    public key."""
    try:
        raw = base64.b64decode(signature, validate=True)
        der = raw_to_der(raw)
    except ValueError:
        return False
    with tempfile.NamedTemporaryFile() as sig:
        sig.write(der)
        sig.flush()
        out = _openssl(["dgst", "-sha256", "-verify", public_key_pem_path, "-signature", sig.name], text)
    return out.returncode == 0


def sign(private_key_pem_path, platform, type_, version, sha256_hex):
    """The release's signature as the launcher checks it."""
    return sign_bytes(private_key_pem_path, signed_text(platform, type_, version, sha256_hex))


def verify(public_key_pem_path, platform, type_, version, sha256_hex, signature):
    return verify_bytes(public_key_pem_path, signed_text(platform, type_, version, sha256_hex), signature)


def update_signed_text(version, sha256_hex):
    """What an update archive's signature covers: the version update.exe records and
    the archive's digest, so neither can be swapped for another's."""
    return f"update\n{version}\n{sha256_hex.lower()}".encode("utf-8")


# -- pack -----------------------------------------------------------------------------

def answer(url, version, sha256_hex, signature=None):
    """The gateway's answer for a release."""
    result = {"url": url, "version": version, "sha256": sha256_hex}
    if signature is not None:
        result["signature"] = signature
    return {"code": 0, "result": result}


def no_update_answer(version, signature):
    """The gateway's answer that offers nothing to install and names `version`: no
    sha256, and the signature over the empty digest."""
    return {"code": 0, "result": {"url": "", "version": version, "signature": signature}}


def _check_fields(platform, type_, version):
    for label, value in (("--platform", platform), ("--type", type_)):
        problem = text_field_problem(value)
        if problem:
            raise ReleaseError(f"{label} {value!r}: {problem}")
    problem = version_problem(version)
    if problem:
        raise ReleaseError(f"--version {version!r}: the launcher names a folder after the version, "
                           f"and this one has this fault: {problem}")


def write_no_update(version, out, key, platform=DEFAULT_PLATFORM, type_=DEFAULT_TYPE):
    """Writes `out`/answer.json, the signed answer with nothing to install; returns it
    and the key's fingerprint. Every check runs before anything is written."""
    _check_fields(platform, type_, version)
    out = pathlib.Path(out)
    target = out / "answer.json"
    if out.exists() and not out.is_dir():
        raise ReleaseError(f"--out {out}: exists and is not a folder")
    if target.exists() or target.is_symlink():
        raise ReleaseError(f"--out {out}: already holds an answer.json")
    check_private_key(key)
    signature, fingerprint = sign_checked(key, signed_text(platform, type_, version, ""))
    result = no_update_answer(version, signature)
    out.mkdir(parents=True, exist_ok=True)
    try:
        with open(target, "xb") as f:  # never over an answer.json made meanwhile
            f.write(json.dumps(result, indent=2).encode("ascii") + b"\n")
    except FileExistsError:
        raise ReleaseError(f"--out {out}: already holds an answer.json") from None
    return result, fingerprint


def _check_url(url):
    """Refuses what the launcher's URL analyser cannot take: it downloads from a host
    name or IPv4 address, with an optional port of 1 to 65535, and a path and query."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme.lower() not in ("http", "https") or not parts.hostname:
        raise ReleaseError(f"--url {url!r}: an http or https URL with a host is needed")
    if any(ord(c) <= 0x20 or ord(c) >= 0x7F for c in url):
        raise ReleaseError(f"--url {url!r}: blanks, control and non-ASCII characters must be percent-encoded")
    if "@" in parts.netloc:
        raise ReleaseError(f"--url {url!r}: a user name or password before the host is not supported")
    if "[" in parts.netloc or "]" in parts.netloc:
        raise ReleaseError(f"--url {url!r}: an IPv6 address in brackets is not supported; use a host name")
    if "#" in url:
        raise ReleaseError(f"--url {url!r}: a #fragment is not supported")
    _, colon, port = parts.netloc.partition(":")
    if colon and not (port.isascii() and port.isdigit() and 1 <= int(port) <= 65535):
        raise ReleaseError(f"--url {url!r}: the port must be a number from 1 to 65535")


def pack(app_folder, version, url, out, platform=DEFAULT_PLATFORM, type_=DEFAULT_TYPE, key=None):
    """Writes the release of `app_folder` into `out`; returns the answer and, with
    `key`, the key's fingerprint (else None). Every check
    runs before anything is written, and the files are made in a temporary folder
    beside `out` that becomes `out` only when all of them are complete."""
    out = pathlib.Path(out)
    _check_fields(platform, type_, version)
    _check_url(url)
    if out.exists() and (not out.is_dir() or any(out.iterdir())):
        raise ReleaseError(f"--out {out}: exists and is not an empty folder")
    members = folder_members(app_folder)
    if key is not None:
        check_private_key(key)

    out.parent.mkdir(parents=True, exist_ok=True)
    work = pathlib.Path(tempfile.mkdtemp(prefix=f".{out.name}.", dir=out.parent))
    try:
        work.chmod(0o755)  # mkdtemp's folder is private; a release folder is for sharing
        with open(work / "res.dat", "wb") as f:
            write_archive(f, members)
        with open(work / "package.zip", "wb") as f:
            write_archive(f, [("package.nw", work / "res.dat")], compress=False)
        (work / "jsver.txt").write_bytes(version_record(platform, type_, version))
        digest = sha256_of(work / "package.zip")
        signature = fingerprint = None
        if key is not None:
            signature, fingerprint = sign_checked(key, signed_text(platform, type_, version, digest))
        result = answer(url, version, digest, signature)
        (work / "answer.json").write_bytes(json.dumps(result, indent=2).encode("ascii") + b"\n")
        if out.exists():
            out.rmdir()  # empty, checked above
        work.rename(out)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return result, fingerprint


# -- update ---------------------------------------------------------------------------

def _parents(name):
    parts = name.split("/")
    return ["/".join(parts[:n]) for n in range(1, len(parts))]


def _refuse_kind_changes(old, members):
    """An overlay cannot turn a file into a folder or back: update.exe would find a
    file where it must make a folder, or the reverse."""
    old_files = {key for key, (_, source) in old.items() if source is not None}
    old_folders = {parent for key in old for parent in _parents(key)}
    old_folders |= {key for key, (_, source) in old.items() if source is None}
    problems = []
    for name, source in members:
        folded = name.casefold()
        clash = next((p for p in _parents(folded) if p in old_files), None)
        if clash is not None:
            problems.append(f"{name}: {clash} is a file in the old application")
        elif source is not None and folded in old_folders:
            problems.append(f"{name}: a folder of that name is in the old application")
        elif source is None and folded in old_files:
            problems.append(f"{name}/: a file of that name is in the old application")
    if problems:
        raise ReleaseError("an update archive cannot replace a file by a folder or a folder by a file:\n  "
                           + "\n  ".join(problems))


def update_archive(old_app, new_app, version, out, key=None, full=False):
    """Writes `out`/update-VERSION.zip: the files of `new_app` that are new or differ
    from `old_app` (all of them with `full`), for update.exe -u over an installed
    `old_app`, and with `key` its signature beside it. Returns (changed, new, removed):
    the names of files that changed, that are new, and that `new_app` no longer has.
    An overlay removes nothing, so the caller warns about the last."""
    out = pathlib.Path(out)
    problem = version_problem(version)
    if problem:
        raise ReleaseError(f"--version {version!r}: update.exe records it and the archive is named "
                           f"after it, and this one has this fault: {problem}")
    if out.exists() and (not out.is_dir() or any(out.iterdir())):
        raise ReleaseError(f"--out {out}: exists and is not an empty folder")
    old = {name.casefold(): (name, source) for name, source in folder_members(old_app)}
    members = folder_members(new_app)
    if key is not None:
        check_private_key(key)
    _refuse_kind_changes(old, members)
    changed, new, picked = [], [], []
    for name, source in members:
        before = old.get(name.casefold(), (None, False))[1]
        if source is None:  # an empty folder: the overlay makes it when it is new
            if before is False:
                picked.append((name, None))
            continue
        if before is False:
            new.append(name)
        elif not filecmp.cmp(before, source, shallow=False):
            changed.append(name)
        elif not full:
            continue
        picked.append((name, source))
    kept = {name.casefold() for name, _ in members}
    removed = sorted(name for key_, (name, source) in old.items() if key_ not in kept and source is not None)
    if not picked:
        raise ReleaseError(f"{new_app}: nothing differs from {old_app}; --full packs every file anyway")

    name = f"update-{version}.zip"
    out.parent.mkdir(parents=True, exist_ok=True)
    work = pathlib.Path(tempfile.mkdtemp(prefix=f".{out.name}.", dir=out.parent))
    try:
        work.chmod(0o755)
        with open(work / name, "wb") as f:
            write_archive(f, picked)
        if key is not None:
            signature, _ = sign_checked(key, update_signed_text(version, sha256_of(work / name)))
            (work / (name + ".sig")).write_bytes(signature.encode("ascii"))
        if out.exists():
            out.rmdir()  # empty, checked above
        work.rename(out)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return changed, new, removed


# -- serve ----------------------------------------------------------------------------

class Release:
    """One release folder as serve offers it."""

    def __init__(self, folder):
        self.folder = pathlib.Path(folder)
        try:
            self.answer = json.loads((self.folder / "answer.json").read_text(encoding="utf-8"))
            self.platform, self.type, self.version = read_version_record(
                (self.folder / "jsver.txt").read_bytes())
        except (OSError, ValueError) as error:
            raise ReleaseError(f"{self.folder}: not a release folder made by pack ({error})") from None
        self.package = self.folder / "package.zip"
        url = (self.answer.get("result") or {}).get("url", "")
        self.path = urllib.parse.urlsplit(url).path if url else None
        if self.path and not self.package.is_file():
            raise ReleaseError(f"{self.folder}: answer.json names a package, and package.zip is missing")


def releases_by_key(folders):
    """{(platform, type): Release} and {package path: Release}. Two folders for the same
    platform and type, or with the same package path, are refused: the launcher's
    query could not tell them apart."""
    by_query, by_path = {}, {}
    for folder in folders:
        release = Release(folder)
        key = (release.platform, release.type)
        if key in by_query:
            raise ReleaseError(f"{folder} and {by_query[key].folder}: both are for platform "
                               f"{key[0]!r} type {key[1]!r}")
        by_query[key] = release
        if release.path:
            if release.path == GATEWAY_PATH or release.path in by_path:
                raise ReleaseError(f"{folder}: its package path {release.path} is taken")
            by_path[release.path] = release
    return by_query, by_path


class _Handler(http.server.BaseHTTPRequestHandler):
    server_version = "zorvik-release"
    sys_version = ""
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        self.server.say(f"{self.address_string()} {format % args}")

    def _reply(self, status, body, content_type="application/json"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length)
        path = urllib.parse.urlsplit(self.path).path
        if path != GATEWAY_PATH:
            return self._reply(404, b"not found\n", "text/plain")
        form = {name: values[0] for name, values in
                urllib.parse.parse_qs(body.decode("utf-8", errors="replace"), keep_blank_values=True).items()}
        release = None
        if form.get("a") == "getVersionConfig" and form.get("m") == "Platform":
            release = self.server.by_query.get((form.get("platform"), form.get("type")))
        # A query this server has no release for is refused, as a gateway refuses
        # parameters it does not know: the launcher shows "参数错误！".
        answer_ = release.answer if release else {"code": 1}
        self.server.say(f"query platform={form.get('platform')!r} type={form.get('type')!r} "
                        f"version={form.get('version')!r} -> "
                        f"{release.folder if release else 'no release: code 1'}")
        self._reply(200, json.dumps(answer_).encode("utf-8"))

    def do_GET(self):
        release = self.server.by_path.get(urllib.parse.urlsplit(self.path).path)
        if release is None:
            return self._reply(404, b"not found\n", "text/plain")
        size = release.package.stat().st_size
        self.send_response(200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("Content-Length", str(size))
        self.send_header("Connection", "close")
        self.end_headers()
        rate = self.server.limit_rate
        piece = min(_CHUNK, max(1, rate // 20)) if rate else _CHUNK
        with open(release.package, "rb") as f:
            for chunk in iter(lambda: f.read(piece), b""):
                self.wfile.write(chunk)
                if rate:
                    time.sleep(len(chunk) / rate)
        self.close_connection = True


class StagingServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    """The gateway and package server over release folders. The TLS handshake runs in
    each connection's own thread, so one slow client never holds up the others."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, folders, port, certfile=None, keyfile=None, limit_rate=None, say=None):
        self.by_query, self.by_path = releases_by_key(folders)
        self.limit_rate = limit_rate
        self.say = say or (lambda text: print(text, file=sys.stderr, flush=True))
        self.context = None
        if certfile:
            self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.context.load_cert_chain(certfile, keyfile)
        super().__init__(("", port), _Handler)

    def server_bind(self):
        # HTTPServer's own bind asks the resolver for the host's full name, which can
        # take seconds and is not needed here.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = "localhost", self.server_address[1]

    def finish_request(self, request, client_address):
        if self.context:
            try:
                request = self.context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError) as error:
                self.say(f"{client_address[0]} TLS handshake failed: {error}")
                return
        super().finish_request(request, client_address)

    @property
    def port(self):
        return self.server_address[1]

    def url(self, path=GATEWAY_PATH):
        return f"{'https' if self.context else 'http'}://localhost:{self.port}{path}"


# -- command line ---------------------------------------------------------------------

def _parser():
    parser = argparse.ArgumentParser(prog="zorvik-release", description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("pack", help="make a release folder from an application folder")
    p.add_argument("app_folder")
    p.add_argument("--version", required=True, help="the version the launcher records and installs into")
    p.add_argument("--url", required=True, help="where the package server will serve DIR/package.zip")
    p.add_argument("--out", required=True, help="the release folder to create (must not exist or be empty)")
    p.add_argument("--platform", default=DEFAULT_PLATFORM)
    p.add_argument("--type", dest="type_", default=DEFAULT_TYPE)
    p.add_argument("--key", help="PEM ECDSA P-256 private key: sign the release")
    u = commands.add_parser("update", help="make an update archive for update.exe -u of what changed")
    u.add_argument("old_app", metavar="OLD_APP")
    u.add_argument("new_app", metavar="NEW_APP")
    u.add_argument("--version", required=True, help="the version update.exe records")
    u.add_argument("--out", required=True, help="the folder to create (must not exist or be empty)")
    u.add_argument("--key", help="PEM ECDSA P-256 private key: sign the archive")
    u.add_argument("--full", action="store_true", help="every file of NEW_APP, changed or not")
    a = commands.add_parser("answer", help="write a signed gateway answer with nothing to install")
    a.add_argument("--no-update", action="store_true", required=True,
                   help="the answer offers no package; the launcher keeps or starts version V")
    a.add_argument("--version", required=True, help="the version the launcher records and starts")
    a.add_argument("--platform", default=DEFAULT_PLATFORM)
    a.add_argument("--type", dest="type_", default=DEFAULT_TYPE)
    a.add_argument("--key", required=True, help="PEM ECDSA P-256 private key that signs the answer")
    a.add_argument("--out", required=True, help="the folder to write answer.json into")
    s = commands.add_parser("serve", help="serve release folders as a gateway and package server")
    s.add_argument("folders", nargs="+", metavar="DIR")
    s.add_argument("--port", type=int, default=None, help="default 443 with --cert, else 80")
    s.add_argument("--cert", help="PEM certificate (chain) for HTTPS")
    s.add_argument("--key", help="PEM private key of --cert")
    s.add_argument("--limit-rate", type=int, metavar="BYTES", help="send packages at this many bytes a second")
    return parser


def main(argv=None):
    args = _parser().parse_args(argv)
    try:
        if args.command == "pack":
            result, fingerprint = pack(args.app_folder, args.version, args.url, args.out, args.platform,
                                       args.type_, args.key)
            print(f"{args.out}: version {args.version}, package.zip sha256 {result['result']['sha256']}"
                  f"{', signed' if fingerprint else ''}")
            if fingerprint:
                print(f"package key fingerprint: {fingerprint}")
            return 0
        if args.command == "answer":
            _, fingerprint = write_no_update(args.version, args.out, args.key, args.platform, args.type_)
            print(f"{args.out}/answer.json: nothing to install, version {args.version}, signed")
            print(f"package key fingerprint: {fingerprint}")
            return 0
        if args.command == "update":
            changed, new, removed = update_archive(args.old_app, args.new_app, args.version, args.out,
                                                   args.key, args.full)
            for name in removed:
                print(f"zorvik-release: warning: {name} is gone from {args.new_app}; "
                      f"an update archive cannot remove it", file=sys.stderr)
            print(f"{args.out}: update-{args.version}.zip, {len(changed)} changed, {len(new)} new"
                  f"{', signed' if args.key else ''}")
            return 0
        if bool(args.cert) != bool(args.key):
            raise ReleaseError("--cert and --key go together")
        port = args.port if args.port is not None else (443 if args.cert else 80)
        server = StagingServer(args.folders, port, args.cert, args.key, args.limit_rate)
    except ReleaseError as error:
        print(f"zorvik-release: {error}", file=sys.stderr)
        return 2
    except OSError as error:
        print(f"zorvik-release: {error}", file=sys.stderr)
        return 2
    for (platform, type_), release in sorted(server.by_query.items()):
        print(f"platform {platform} type {type_}: version {release.version} from {release.folder}"
              + (f", package at {release.path}" if release.path else ", no package"), flush=True)
    if not server.context:
        print("note: plain HTTP; the launcher asks its gateway over HTTPS only", flush=True)
    print(f"ready: {server.url()}", flush=True)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        thread.join()
    except KeyboardInterrupt:
        pass
    finally:
        server.shutdown()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
