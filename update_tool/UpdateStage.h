#pragma once

// An update is applied in two steps, so that a failure or a kill never leaves the
// installation half old and half new. First every new file is gathered in a staging
// folder beside the installation, where a failure changes nothing that matters. Only
// when all of them are there are they swapped in, one rename each; every file they
// replace is first renamed aside into the same staging folder, so the swap can be
// undone. A journal there says which files the swap covers, which version they are
// and whether the swap is under way or being undone, so that the next run finishes or
// undoes what a killed run left.
//
// Layout, beside TARGET: TARGET.~update\journal, ...\new\ (the staged files, by their
// names below TARGET) and ...\old\ (the files they replaced). The journal names only
// places below TARGET and its staging folder: a journal planted there can move no file
// in or out of anywhere else.

#include <string>

struct UpdateStage {
    std::wstring target; // the installation folder, \\?\ form, ending in a backslash
    std::wstring parent; // the folder that holds it, the same form
    std::wstring name;   // the staging folder's name in `parent`
    std::wstring folder; // the staging folder, the same form

    std::wstring incoming() const { return folder + L"new\\"; }
    std::wstring kept() const { return folder + L"old\\"; }
};

// The staging folder of the installation folder `target` (any form the platform
// resolves). False when it has no parent to stage beside (the root of a drive or
// share) or cannot be resolved.
bool stageBeside(const std::wstring& target, UpdateStage& stage);

// Finishes or undoes what a killed run left in the staging folder, then removes it,
// and prints one line saying which it did; prints nothing when there is none. A
// journal whose swap was under way is finished, and its version recorded in the
// target's jsver.txt; one that was being undone, or a staging folder without a swap
// under way, is undone. A swap that cannot be finished is undone.
void recoverUnfinishedUpdate(const UpdateStage& stage);

// Creates the staging folder, its journal for `version` and the empty folder for the
// new files. False, after "couldn't stage the update beside %s\n" with `shownTarget`,
// when it cannot, one left behind that could not be removed included.
bool openStage(const UpdateStage& stage, const std::wstring& version, const std::wstring& shownTarget);

enum class SwapOutcome {
    Swapped, // every staged file is in its place
    Undone,  // the target is as it was; the new files are back in the staging folder
    Stuck,   // a file could not be put back: the journal says so, for the next run
};

// Swaps every staged file into the target, keeping each file it replaces, and creates
// the folders the staged tree has and the target lacks. At the first file that cannot
// be swapped (or a link on the way) it prints one line naming it, then puts every file
// back where it was, the new ones into the staging folder, and removes the folders it
// created. The staging folder stays in every case, for the caller to remove.
SwapOutcome swapStagedFiles(const UpdateStage& stage, const std::wstring& version);

// Removes the staging folder with everything in it; links in it go as links.
void removeStage(const UpdateStage& stage);

// Renames `from` to `to` (replacing it when `replace`), trying again for a while when
// another process still holds one of them open: a client asked to end lets go of its
// files a moment later. The waiting is shared by the whole run and stops after
// kRetrySeconds in all.
constexpr unsigned kRetrySeconds = 5;
bool renameHeldFile(const std::wstring& from, const std::wstring& to, bool replace);
