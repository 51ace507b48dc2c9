#include "tests/support/ControlRecorder.h"
#include "src/UpdateTool.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Report {
    ProgressPhase phase;
    int percent;
    int shownPercent; // -1: nothing may be sent
    const wchar_t* shownText;
};

class ReportProgress : public ::testing::Test {
protected:
    ReportProgress() : tool("C:\\root", "C:\\launcher\\")
    {
        tool.progressBar = bar.handle();
        tool.statusText = status.handle();
    }

    ControlRecorder bar;
    ControlRecorder status;
    UpdateTool tool;
};

} // namespace

TEST_F(ReportProgress, ClampsToAWholePercentageAndSendsOnlyChanges)
{
    // Each row: what the worker reports, and what the dialog must receive for it.
    const std::vector<Report> reports = {
        // The memory starts at 0% Download, so the very first 0% shows nothing.
        {ProgressPhase::Download, 0, -1, nullptr},
        {ProgressPhase::Download, 5, 5, L"\x6B63\x5728\x4E0B\x8F7D\x66F4\x65B0\x5427(5%)..."},
        {ProgressPhase::Download, 5, -1, nullptr},
        {ProgressPhase::Download, 150, 100, L"\x6B63\x5728\x4E0B\x8F7D\x66F4\x65B0\x5427(100%)..."},
        {ProgressPhase::Download, 101, -1, nullptr},
        {ProgressPhase::Download, INT_MAX, -1, nullptr},
        // A new phase shows even at the same percentage.
        {ProgressPhase::Extract, 100, 100, L"\x6B63\x5728\x90E8\x7F72\x5305(100%)..."},
        {ProgressPhase::Extract, -7, 0, L"\x6B63\x5728\x90E8\x7F72\x5305(0%)..."},
        {ProgressPhase::Extract, INT_MIN, -1, nullptr},
        {ProgressPhase::Delete, 0, 0, L"\x6B63\x5728\x5220\x9664\x65E7\x6587\x4EF6(0%)..."},
        {ProgressPhase::Delete, 60, 60, L"\x6B63\x5728\x5220\x9664\x65E7\x6587\x4EF6(60%)..."},
        {ProgressPhase::Download, 60, 60, L"\x6B63\x5728\x4E0B\x8F7D\x66F4\x65B0\x5427(60%)..."},
    };

    for (size_t i = 0; i < reports.size(); ++i) {
        const Report& report = reports[i];
        bar.positions.clear();
        status.texts.clear();

        tool.reportProgress(report.phase, report.percent);

        SCOPED_TRACE("report " + std::to_string(i));
        if (report.shownPercent < 0) {
            EXPECT_TRUE(bar.positions.empty());
            EXPECT_TRUE(status.texts.empty());
        } else {
            EXPECT_EQ(bar.positions, std::vector<int>{report.shownPercent});
            EXPECT_EQ(status.texts, std::vector<std::wstring>{report.shownText});
            EXPECT_EQ(tool.lastPercent, report.shownPercent);
            EXPECT_EQ(tool.lastPhase, report.phase);
        }
    }
}

TEST_F(ReportProgress, ReachesControlsOfTheUserInterfaceThreadFromTheWorker)
{
    std::thread worker([this] {
        tool.reportProgress(ProgressPhase::Extract, 42);
        tool.reportProgress(ProgressPhase::Extract, 43);
    });
    // The worker's sends complete only while this thread takes messages, as the
    // launcher's message loop does.
    while (bar.positions.size() < 2 || status.texts.size() < 2) {
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    worker.join();

    EXPECT_EQ(bar.positions, (std::vector<int>{42, 43}));
    EXPECT_EQ(status.texts.back(), L"\x6B63\x5728\x90E8\x7F72\x5305(43%)...");
}
