#pragma once

// An update archive's signature, for a tool built with package keys: -u unpacks only
// an archive whose ARCHIVE.sig is the vendor's signature over that archive and the
// version the tool records, and -n, whose loose files nothing signs, moves nothing.

#include "common/UniqueHandle.h"

#include <windows.h>

#include <string>

// True in a build with ZORVIK_PACKAGE_KEY: the one that requires signed archives.
bool updateToolIsKeyed();

// Opens the archive `path` (as given on the command line; relative to the current
// directory, any length) for reading, and shares it for reading only: while the
// handle lives nobody can write, truncate, rename or delete the file, so the bytes
// checked are the bytes unpacked. A file still held by a client that is ending is waited
// for a moment, as renameHeldFile waits. Empty (INVALID_HANDLE_VALUE) when it cannot be
// opened.
UniqueFileHandle openHeldArchive(const std::wstring& path);

// True when `archivePath` + ".sig" holds a signature by one of the compiled-in keys
// over the UTF-8 text "update\n" VERSION "\n" SHA256, with no line end after it:
// VERSION is `version` in UTF-8, SHA256 the lower-case hexadecimal SHA-256 of every
// byte of `archive` (the handle from openHeldArchive for that path), read from its
// start. The file pointer is left at the start. The .sig file holds exactly the 88
// characters of the signature's one text form (see decodeSignatureText), then at most
// one line end ("\n" or "\r\n") and nothing else.
// Otherwise prints one line, the archive named as given, and returns false:
//   "refusing ARCHIVE: the archive cannot be read\n"  (no handle, or a read failed)
//   "refusing ARCHIVE: no signature ARCHIVE.sig\n"    (no such file)
//   "refusing ARCHIVE: the signature ARCHIVE.sig cannot be read\n"
//   "refusing ARCHIVE: the signature ARCHIVE.sig is malformed\n"
//   "refusing ARCHIVE: the signature does not match\n" (by no key, over this archive
//                                                       and version)
// A build without a key verifies nothing, so every archive is refused there: ask
// updateToolIsKeyed() first.
bool archiveSignatureHolds(HANDLE archive, const std::wstring& archivePath, const std::wstring& version);
// The same, the signature read beside `openedPath`: the archive's path as resolved when
// it was opened, for a relative one checked after the current directory changed.
bool archiveSignatureHolds(HANDLE archive, const std::wstring& archivePath, const std::wstring& openedPath,
                           const std::wstring& version);

// Prints "refusing -n: this build installs signed update archives only\n", the one line
// of -n in a keyed build.
void refuseUnsignedMove();
