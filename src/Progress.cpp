#include "src/UpdateTool.h"

#include "src/Texts.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

namespace {

const wchar_t* phaseFormat(ProgressPhase phase)
{
    switch (phase) {
    case ProgressPhase::Extract: return Texts::kPhaseExtract;
    case ProgressPhase::Delete: return Texts::kPhaseDelete;
    case ProgressPhase::Download: break;
    }
    return Texts::kPhaseDownload;
}

} // namespace

void UpdateTool::reportProgress(ProgressPhase phase, int percent)
{
    percent = std::clamp(percent, 0, 100);
    // Downloads and deletions report far more often than the whole percentage moves;
    // each send waits for the user-interface thread.
    if (percent == lastPercent && phase == lastPhase)
        return;
    lastPercent = percent;
    lastPhase = phase;
    SendMessageW(progressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);

    wchar_t text[64];
    std::swprintf(text, sizeof(text) / sizeof(text[0]), phaseFormat(phase), percent);
    setStatus(text);
}
