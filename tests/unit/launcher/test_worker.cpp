#include "UpdateToolRig.h"
#include "ExpectedTexts.h"
#include "tests/support/AllocationFailure.h"
#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"
#include "src/UpdateTool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The archive road starts the client itself. While it does, the button must not be able
// to start a second one; when the start fails, the button offers it again.
TEST(InstallLocalPackage, NoPressCanStartASecondClientWhileTheWorkerStartsIt)
{
    UpdateToolRig rig; // no erp.exe beside the launcher: the start fails and returns
    writeArchive(rig.tool.packageFile, {{"index.html", "new"}});
    bool startOffered = true;
    rig.status.onText = [&] {
        if (rig.status.texts.back() == Expected::kStatusStartFailed)
            startOffered = rig.tool.launchOnConfirm != 0 || rig.tool.busy == 0;
    };

    EXPECT_EQ(installLocalPackage(&rig.tool), 0u);

    EXPECT_FALSE(startOffered);
    ASSERT_GE(rig.status.texts.size(), 2u);
    EXPECT_EQ(rig.status.texts[rig.status.texts.size() - 2], Expected::kStatusInstalled);
    EXPECT_EQ(rig.status.texts.back(), Expected::kStatusStartFailed);
    EXPECT_EQ(rig.tool.launchOnConfirm, 1);
    EXPECT_EQ(rig.tool.busy, 0);
}

// A retry may start only once the pass it retries has ended. Pressed at any moment from
// the end of the query to the pass's last text, the button must find a worker running;
// and whatever a retry's query would leave in the tool then must not change what this
// pass goes on to do.
TEST(UpdateWorker, NoRetryCanStartBeforeThePassHasEndedNorChangeWhatItDoes)
{
    UpdateToolRig rig;
    ASSERT_NO_FATAL_FAILURE(rig.takeUnreachableNetworkRoad());
    rig.tool.failed = 0;
    std::vector<std::string> retryOpenAt;
    const auto noteRetryOpen = [&](const char* moment) {
        // The button's own condition for starting a worker.
        if (rig.tool.failed && !rig.tool.busy)
            retryOpenAt.emplace_back(moment);
    };
    rig.status.onText = [&] { noteRetryOpen("a status text"); };
    rig.button.onText = [&] { noteRetryOpen("a caption"); };
    rig.tool.afterQuery = [&] {
        noteRetryOpen("the end of the query");
        // A retry's query that offers a package, as if one had started here.
        GatewayReading offered;
        offered.answer = GatewayAnswer::Package;
        offered.package.url = "https://127.0.0.1:1/package.zip";
        offered.package.ver = "10";
        offered.package.verFromAnswer = true;
        rig.tool.applyReading(offered);
    };

    EXPECT_EQ(updateWorker(&rig.tool), 0u);

    EXPECT_EQ(retryOpenAt, std::vector<std::string>{});
    // The pass ended as its own query did: no download was tried.
    EXPECT_EQ(rig.status.texts, std::vector<std::wstring>{Expected::kStatusNetworkError});
    EXPECT_EQ(rig.button.texts, std::vector<std::wstring>{Expected::kButtonRetry});
    EXPECT_TRUE(rig.bar.positions.empty());
    EXPECT_FALSE(folderExists(rig.tool.downloadDir));
    EXPECT_EQ(rig.tool.failed, 1);
    EXPECT_EQ(rig.tool.busy, 0);
}

namespace {

// The status texts with the progress lines ("...(42%)...") left out.
std::vector<std::wstring> outcomeTexts(const std::vector<std::wstring>& texts)
{
    std::vector<std::wstring> outcomes;
    for (const std::wstring& text : texts)
        if (text.find(L"%)") == std::wstring::npos)
            outcomes.push_back(text);
    return outcomes;
}

// A worker's pass as the dialog starts one (busy set, failed clear), with its
// `failAt`-th allocation failing.
FailingRun passFailingAt(UpdateTool& tool, LPTHREAD_START_ROUTINE entry, long failAt)
{
    tool.busy = 1;
    tool.failed = 0;
    const FailingRun run = runFailingAt(entry, &tool, failAt);
    EXPECT_EQ(run.exitCode, 0u);
    return run;
}

} // namespace

// Whichever allocation of a pass fails, the pass ends with one outcome shown, busy
// cleared and nothing escaping its thread: the query's, as a network error.
TEST(OutOfMemory, AnyFailedAllocationOfAQueryEndsThePassAsANetworkError)
{
    for (long failAt = 1;; ++failAt) {
        SCOPED_TRACE("allocation " + std::to_string(failAt));
        UpdateToolRig rig;
        ASSERT_NO_FATAL_FAILURE(rig.takeUnreachableNetworkRoad());
        const bool reached = passFailingAt(rig.tool, updateWorker, failAt).reached;

        EXPECT_EQ(rig.status.texts, std::vector<std::wstring>{Expected::kStatusNetworkError});
        EXPECT_EQ(rig.button.texts, std::vector<std::wstring>{Expected::kButtonRetry});
        EXPECT_EQ(rig.tool.failed, 1);
        EXPECT_EQ(rig.tool.busy, 0);
        if (!reached || HasFailure())
            break;
    }
}

// The archive road: either the package is installed and the start tried, or the
// install failed with its message, nothing recorded.
TEST(OutOfMemory, AnyFailedAllocationOfTheArchiveRoadEndsItInstalledOrFailed)
{
    int installs = 0;
    int failures = 0;
    for (long failAt = 1;; ++failAt) {
        SCOPED_TRACE("allocation " + std::to_string(failAt));
        UpdateToolRig rig;
        writeArchive(rig.launcher / std::string("res.dat"), {{"index.html", "new"}, {"js/app.js", "app"}});
        ASSERT_FALSE(rig.tool.checkInstallation());
        ASSERT_EQ(rig.tool.onlineInstall, 0);
        const FailingRun run = passFailingAt(rig.tool, installLocalPackage, failAt);

        const std::vector<std::wstring> installed{Expected::kStatusInstalled, Expected::kStatusStartFailed};
        const std::vector<std::wstring> unpackFailed{Expected::kStatusUnpackFailed};
        const std::vector<std::wstring> shown = outcomeTexts(rig.status.texts);
        if (!shown.empty() && shown.front() == installed.front()) {
            ++installs;
            EXPECT_EQ(shown, installed);
            EXPECT_EQ(run.messageBoxes, 0);
            EXPECT_EQ(rig.tool.launchOnConfirm, 1);
        } else {
            ++failures;
            EXPECT_EQ(shown, unpackFailed);
            EXPECT_EQ(run.messageBoxes, 1);
            EXPECT_FALSE(VersionRecord().load(rig.tool.recordPath));
        }
        EXPECT_EQ(rig.tool.busy, 0);
        // A folder that is some process's current directory cannot be renamed or
        // deleted: the extraction's must not outlive it.
        EXPECT_EQ(currentDirectory().rfind(rig.root.path(), 0), std::wstring::npos);
        if (!run.reached || HasFailure())
            break;
    }
    EXPECT_GT(failures, 0);
    EXPECT_GE(installs, 1); // at least the run no allocation failed in
}
