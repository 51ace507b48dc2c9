// Times the launcher's own install steps on a real package, one by one, so each can be
// set against a native tool doing the same work (bench/install prints the ratios).
//
//   install_bench PACKAGE_URL WORK_FOLDER
//
// Prints one JSON object of seconds: download, download_digest (the same download
// with the SHA-256 an answer's sha256 asks for), extract_outer, extract_inner, delete.
#include "src/InstallLayout.h"
#include "src/UpdateTool.h"
#include "common/FileSystem.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>

namespace {

double now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Step>
double timed(Step step)
{
    const double start = now();
    step();
    return now() - start;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: install_bench PACKAGE_URL WORK_FOLDER\n");
        return 2;
    }
    const std::string work = argv[2];
    UpdateTool tool(work + "\\root", work + "\\");
    tool.downloadDir = InstallLayout::downloadFolder(tool.installRoot);
    tool.downloadFile = InstallLayout::downloadArchive(tool.installRoot);
    tool.stagingDir = InstallLayout::stagingFolder(tool.installRoot, "1");

    try {
        const double download = timed([&] { tool.fetchPackage(argv[1], false); });
        const double downloadDigest = timed([&] { tool.fetchPackage(argv[1], true); });
        int outerResult = -1, innerResult = -1;
        const double outer = timed([&] { outerResult = tool.unzipFiles(tool.downloadFile, tool.downloadDir); });
        makeFolders(tool.stagingDir);
        const double inner = timed([&] {
            innerResult = tool.unzipFiles(InstallLayout::downloadedPackage(tool.installRoot), tool.stagingDir);
        });
        const double removal = timed([&] { tool.deleteFolder(tool.stagingDir); });
        if (outerResult != 0 || innerResult != 0) {
            std::fprintf(stderr, "install_bench: extraction failed\n");
            return 1;
        }
        std::printf("{\"download\": %.4f, \"download_digest\": %.4f, \"extract_outer\": %.4f, "
                    "\"extract_inner\": %.4f, \"delete\": %.4f}\n",
                    download, downloadDigest, outer, inner, removal);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "install_bench: %s\n", error.what());
        return 1;
    }
}
