#pragma once

#include <string>

// Creates every missing folder along `path`; "\" and "/" both separate. Existing
// folders, and a drive prefix such as C:, are passed over. A path that begins with a
// separator (or is empty) has an empty first folder, which cannot be created: -1 and
// nothing is created. Returns 0 when every folder exists at the end, -1 at the first
// one that could not be created (the ones before it stay). Prints nothing.
int makeFolders(const std::wstring& path);
