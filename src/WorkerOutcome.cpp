#include "src/UpdateTool.h"

#include "src/Texts.h"

#include <iterator>

namespace {

// What the dialog shows and what its button does after each outcome. A null text
// leaves the status line or the caption as it is.
struct OutcomeRow {
    WorkerOutcome outcome;
    const wchar_t* status;
    const wchar_t* caption;
    bool failed;          // the button retries
    bool launchOnConfirm; // the button starts the client
};

constexpr OutcomeRow kOutcomeRows[] = {
    {WorkerOutcome::Refused, Texts::kStatusBadParameters, nullptr, false, false},
    {WorkerOutcome::ServerError, Texts::kStatusServerError, Texts::kButtonRetry, true, false},
    {WorkerOutcome::NetworkError, Texts::kStatusNetworkError, Texts::kButtonRetry, true, false},
    {WorkerOutcome::UrlNotText, nullptr, nullptr, false, false},
    {WorkerOutcome::NoUpdate, Texts::kStatusNoUpdate, nullptr, false, true},
    {WorkerOutcome::DownloadFailed, Texts::kStatusUpdateFailed, Texts::kButtonRetry, true, false},
    {WorkerOutcome::UnpackFailed, Texts::kStatusUnpackFailed, nullptr, false, false},
    {WorkerOutcome::ApplyFailed, Texts::kStatusApplyFailed, nullptr, false, false},
    {WorkerOutcome::Installed, Texts::kStatusInstalled, nullptr, false, true},
    // The start's failure is on the status line already; the button tries again.
    {WorkerOutcome::NotStarted, nullptr, nullptr, false, true},
    // Final: no retry can give the folder another name, and the button must never
    // start a pass that would install below the root of the current drive.
    {WorkerOutcome::NoInstallRoot, Texts::kStatusUpdateFailed, nullptr, false, false},
};

// The table is indexed by the outcome: a row out of place would show another
// outcome's texts.
constexpr bool rowsInOrder()
{
    for (size_t i = 0; i < std::size(kOutcomeRows); ++i)
        if (static_cast<size_t>(kOutcomeRows[i].outcome) != i)
            return false;
    return true;
}
static_assert(rowsInOrder() && std::size(kOutcomeRows) == static_cast<size_t>(WorkerOutcome::NoInstallRoot) + 1,
              "one row per outcome, in the enum's order");

} // namespace

void UpdateTool::showOutcome(WorkerOutcome outcome) const
{
    const OutcomeRow& row = kOutcomeRows[static_cast<size_t>(outcome)];
    if (row.status)
        setStatus(row.status);
    if (row.caption)
        setButtonCaption(row.caption);
}

void UpdateTool::finishPass(WorkerOutcome outcome)
{
    showOutcome(outcome);
    const OutcomeRow& row = kOutcomeRows[static_cast<size_t>(outcome)];
    // The flags only ever go up here: startWorker cleared failed when the pass began,
    // and launchOnConfirm is never cleared once an install is known to be usable.
    if (row.failed)
        failed = 1;
    if (row.launchOnConfirm)
        launchOnConfirm = 1;
    // Last, and only here: once busy clears, the button may start a retry worker,
    // which must find this pass finished with every member it used.
    busy = 0;
}
