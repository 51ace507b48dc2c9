#include "update_tool/CommandLine.h"


#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// GBK, as the client's users read it. The third entry shows "-m" although "-c"
// creates folders: the client relies on "-c", so the text stays as shipped.
constexpr const char* kUsage[] = {
    "\xbd\xab\xc9\xfd\xbc\xb6\xce\xc4\xbc\xfe\xbf\xbd\xbd\xf8\xb3\xcc\xd0\xf2\xc4\xbf\xc2\xbc  \n\t"
    "  -n pid \xb0\xe6\xb1\xbe\xd0\xc5\xcf\xa2 \xd4\xb4\xc4\xbf\xc2\xbc \xc4\xbf\xb1\xea\xc4\xbf\xc2\xbc "
    "\xce\xc4\xbc\xfe\xc3\xfb \xce\xc4\xbc\xfe\xc3\xfb \xce\xc4\xbc\xfe\xc3\xfb ...",
    "\xbd\xab\xc9\xfd\xbc\xb6\xce\xc4\xbc\xfe\xbd\xe2\xd1\xb9\xb5\xbd\xb3\xcc\xd0\xf2\xc4\xbf\xc2\xbc\n\t"
    "  -u pid \xb0\xe6\xb1\xbe\xd0\xc5\xcf\xa2 ZIP\xce\xc4\xbc\xfe \xc4\xbf\xb1\xea\xc4\xbf\xc2\xbc",
    "\xd0\xc2\xbd\xa8\xce\xc4\xbc\xfe\xbc\xd0              \n\t"
    "  -m \xce\xc4\xbc\xfe\xbc\xd0\xc3\xfb",
    "\xc9\xbe\xb3\xfd\xce\xc4\xbc\xfe\xbc\xd0              \n\t"
    "  -d \xce\xc4\xbc\xfe\xbc\xd0\xc3\xfb",
    "",
};

} // namespace

DWORD processIdFromText(const wchar_t* text)
{
    // The tool runs with administrator rights: cut to 32 bits, 4294967300 would end
    // process 4, and "-1" some other one. An id that is negative or does not fit in 32
    // bits names no process the client can have meant, so it reads as 0: none is ended.
    errno = 0;
    const long long id = std::wcstoll(text, nullptr, 10);
    if (errno == ERANGE || id < 0 || id > static_cast<long long>(MAXDWORD))
        return 0;
    return static_cast<DWORD>(id);
}

void printUsage()
{
    for (const char* entry : kUsage)
        std::printf("%s\n", entry);
}
