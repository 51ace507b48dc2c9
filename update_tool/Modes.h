#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The tool's modes, one function each in a file of its own. The command line's mode
// table is their one caller: it selects the mode, checks that every position the mode
// reads is there and hands the arguments over by meaning. Each returns the process
// exit code.

// MoveMode.cpp. Moves `names` from `sourceFolder` to `targetFolder`, starts the runtime
// there and, only when every name was moved, records `version` in its version file.
// Returns 0.
int runMoveMode(const std::wstring& version, const std::wstring& sourceFolder,
                const std::wstring& targetFolder, const std::vector<std::wstring>& names);

// UnpackMode.cpp. Ends the process `processId` (none for 0), unpacks `archivePath`
// into `targetFolder`, starts the runtime there and, only when the unpack was
// complete, records `version` in its version file. Returns -1 without starting or
// recording anything when the target folder cannot be entered, 0 otherwise.
int runUnpackMode(DWORD processId, const std::wstring& version, const std::wstring& archivePath,
                  const std::wstring& targetFolder);

// AutostartMode.cpp. The keyword "delete" (exactly, case-sensitive) removes the
// autostart entry; any other text is stored as its command. Returns 0.
int runAutostartMode(const std::wstring& text);

// CreateFolderMode.cpp. Creates every missing folder along `path`. Returns 0.
int runCreateFolderMode(const std::wstring& path);

// DeleteFolderMode.cpp. Deletes the folder `path` with everything below it. Refuses the
// root of a drive or share (see namesVolumeRoot): deletes nothing and prints
// "Not deleting %s: the root of a drive or share\n" with the path as given. Returns 0.
int runDeleteFolderMode(const std::wstring& path);
