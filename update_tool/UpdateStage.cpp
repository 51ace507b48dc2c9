#include "update_tool/UpdateStage.h"

#include "common/FileSystem.h"
#include "common/FolderLink.h"
#include "common/PathSafety.h"
#include "common/UniqueHandle.h"
#include "update_tool/ConsoleText.h"
#include "update_tool/RecordVersion.h"
#include "update_tool/RemoveFolderTree.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kStageSuffix[] = L".~update";
constexpr wchar_t kJournalHeader[] = L"zorvik update journal 1";
constexpr DWORD kRetryStepMs = 100;
constexpr LONGLONG kLongestJournal = 64LL * 1024 * 1024;

void printLine(const std::wstring& text)
{
    std::printf("%s", consoleText(text).c_str());
}

// Names as the tool shows entries: with forward slashes, as archives write them.
std::wstring shown(std::wstring name)
{
    for (wchar_t& c : name)
        if (c == L'\\')
            c = L'/';
    return name;
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// --- the journal -------------------------------------------------------------------

enum class SwapState { Staging, Swapping, Undoing };

struct Journal {
    SwapState state = SwapState::Staging;
    std::wstring version;
    std::vector<std::wstring> folders; // created in the target by the swap, parents first
    std::vector<std::wstring> files;   // swapped in, in this order
};

// One field per line: line ends and the escape itself are written as %0A, %0D, %25.
std::wstring escaped(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'%')
            out += L"%25";
        else if (c == L'\n')
            out += L"%0A";
        else if (c == L'\r')
            out += L"%0D";
        else
            out += c;
    }
    return out;
}

std::wstring unescaped(const std::wstring& text)
{
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, L"%25") == 0) {
            out += L'%';
            i += 2;
        } else if (text.compare(i, 3, L"%0A") == 0) {
            out += L'\n';
            i += 2;
        } else if (text.compare(i, 3, L"%0D") == 0) {
            out += L'\r';
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

const wchar_t* stateName(SwapState state)
{
    switch (state) {
    case SwapState::Swapping: return L"swapping";
    case SwapState::Undoing: return L"undoing";
    case SwapState::Staging: break;
    }
    return L"staging";
}

// Written whole beside its place and renamed over it, so a kill leaves the old
// journal or the new one, never a part.
bool writeJournal(const UpdateStage& stage, const Journal& journal)
{
    std::wstring text = std::wstring(kJournalHeader) + L"\nstate " + stateName(journal.state) + L"\nversion " +
                        escaped(journal.version) + L"\n";
    for (const std::wstring& folder : journal.folders)
        text += L"folder " + escaped(folder) + L"\n";
    for (const std::wstring& file : journal.files)
        text += L"file " + escaped(file) + L"\n";
    text += L"end\n";

    const std::wstring path = stage.folder + L"journal";
    const std::wstring written = path + L".new";
    {
        const UniqueFileHandle file(CreateFileW(written.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        const DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        DWORD done = 0;
        if (!WriteFile(file.get(), text.data(), size, &done, nullptr) || done != size || !FlushFileBuffers(file.get()))
            return false;
    }
    return MoveFileExW(written.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool readJournalText(const UpdateStage& stage, std::wstring& text)
{
    const std::wstring path = stage.folder + L"journal";
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kLongestJournal || size.QuadPart % 2 != 0)
        return false;
    text.assign(static_cast<std::size_t>(size.QuadPart / 2), L'\0');
    DWORD done = 0;
    return ReadFile(file.get(), text.data(), static_cast<DWORD>(size.QuadPart), &done, nullptr) &&
           done == size.QuadPart;
}

// False for anything but a whole journal whose every name stays below its folder.
bool readJournal(const UpdateStage& stage, Journal& journal)
{
    std::wstring text;
    if (!readJournalText(stage, text))
        return false;
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start != text.size() || lines.size() < 4 || lines.front() != kJournalHeader || lines.back() != L"end")
        return false;
    if (lines[1] == L"state swapping")
        journal.state = SwapState::Swapping;
    else if (lines[1] == L"state undoing")
        journal.state = SwapState::Undoing;
    else if (lines[1] == L"state staging")
        journal.state = SwapState::Staging;
    else
        return false;
    if (lines[2].compare(0, 8, L"version ") != 0)
        return false;
    journal.version = unescaped(lines[2].substr(8));
    for (std::size_t i = 3; i + 1 < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        const bool folder = line.compare(0, 7, L"folder ") == 0;
        if (!folder && line.compare(0, 5, L"file ") != 0)
            return false;
        const std::wstring name = unescaped(line.substr(folder ? 7 : 5));
        if (!isSafeRelativePath(std::wstring_view(name)))
            return false;
        (folder ? journal.folders : journal.files).push_back(name);
    }
    return true;
}

// --- holding the folders on the way -----------------------------------------------

// The folders from a root down to the one a file lies in, held while files move in or
// out of it (see holdFoldersBelow), so that none can be swapped for a link meanwhile.
// The root is held once; a file in another folder keeps the folders its way shares
// with the last one and holds only the rest, since the files of one folder, and of
// sibling folders, come one after another.
class HeldWay {
public:
    // `root` ends in a backslash; every chain begins with the folders of `prefix`.
    HeldWay(std::wstring root, std::wstring prefix) : m_root(std::move(root)), m_prefix(std::move(prefix)) {}

    // The folders down to `folderPart` (below the prefix) held, created first when
    // `create` is set. A link on the way goes to `link`, as a path below the root.
    FolderChain reach(const std::wstring& folderPart, bool create, std::wstring& link)
    {
        if (!m_rootHeld) {
            m_rootHeld = holdNamedFolder(m_root, m_rootPlace);
            if (!m_rootHeld)
                return FolderChain::Missing;
        }
        const std::vector<std::wstring> names = namesOf(
            m_prefix.empty() ? folderPart : (folderPart.empty() ? m_prefix : m_prefix + L"\\" + folderPart));
        std::size_t shared = 0;
        while (shared < names.size() && shared < m_names.size() && names[shared] == m_names[shared])
            ++shared;
        if (shared == names.size() && shared == m_names.size())
            return FolderChain::Held;
        m_names.resize(shared);
        m_held.resize(shared);
        m_places.resize(shared);

        std::wstring base = m_root;
        for (std::size_t i = 0; i < shared; ++i)
            base += names[i] + L"\\";
        std::wstring rest;
        for (std::size_t i = shared; i < names.size(); ++i)
            rest += (rest.empty() ? L"" : L"\\") + names[i];
        const std::wstring basePlace = shared ? m_places.back() : m_rootPlace;
        std::wstring failed;
        FolderChain chain = holdFoldersBelow(base, basePlace, rest, m_held, failed);
        if (chain == FolderChain::Missing && create) {
            m_held.resize(shared);
            for (std::size_t end = 0; end != std::wstring::npos;) {
                end = rest.find(L'\\', end + 1);
                CreateDirectoryW((base + rest.substr(0, end)).c_str(), nullptr);
            }
            chain = holdFoldersBelow(base, basePlace, rest, m_held, failed);
        }
        if (chain != FolderChain::Held) {
            link = base.substr(m_root.size()) + failed;
            m_names.clear();
            m_held.clear();
            m_places.clear();
            return chain;
        }
        for (std::size_t i = shared; i < names.size(); ++i)
            m_places.push_back(placeBelow(i ? m_places.back() : m_rootPlace, names[i]));
        m_names = names;
        return chain;
    }

    // Where the folder last reached lies (see placeOf).
    const std::wstring& place() const { return m_places.empty() ? m_rootPlace : m_places.back(); }

private:
    static std::vector<std::wstring> namesOf(const std::wstring& relative)
    {
        std::vector<std::wstring> names;
        for (std::size_t start = 0; start < relative.size();) {
            std::size_t end = relative.find(L'\\', start);
            if (end == std::wstring::npos)
                end = relative.size();
            names.push_back(relative.substr(start, end - start));
            start = end + 1;
        }
        return names;
    }

    std::wstring m_root;
    std::wstring m_prefix;
    UniqueFileHandle m_rootHeld;
    std::wstring m_rootPlace;
    std::vector<std::wstring> m_names;      // the folders held below the root, in order
    std::vector<UniqueFileHandle> m_held;   // one for each
    std::vector<std::wstring> m_places;     // and where each lies
};

std::wstring folderPartOf(const std::wstring& name)
{
    const std::size_t end = name.find_last_of(L'\\');
    return end == std::wstring::npos ? L"" : name.substr(0, end);
}

// True when the file `path` is itself, where its folder (at `folderPlace`) lists it:
// not a file link. A rename of a link that wine resolves (a Unix symbolic link) would
// move the file it points to, wherever that lies.
bool isOwnFile(const std::wstring& path, const std::wstring& folderPlace)
{
    const UniqueFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    return samePlace(placeOf(file.get()), placeBelow(folderPlace, path.substr(path.find_last_of(L'\\') + 1)));
}

// Moves the files of a swap between the target, the staged files and the kept ones.
// Every move holds the folders on its way in all three.
class Swapper {
public:
    // `recovering`: the staged files are a killed run's, and are checked like the target's.
    Swapper(const UpdateStage& stage, bool recovering)
        : m_recovering(recovering), m_stage(stage), m_target(stage.target, L""),
          m_incoming(stage.parent, stage.name + L"\\new"), m_kept(stage.parent, stage.name + L"\\old")
    {
    }

    // Creates the target's folders the swap needs; false after a line at the first
    // that cannot be.
    bool createFolders(const std::vector<std::wstring>& folders)
    {
        for (const std::wstring& folder : folders) {
            const std::wstring path = m_stage.target + folder;
            if (!CreateDirectoryW(path.c_str(), nullptr) && !isFolder(path)) {
                printLine(L"couldn't create directory " + shown(folder) + L"/\n");
                return false;
            }
        }
        return true;
    }

    // Puts the staged `name` in its place, the file there first renamed aside. A name
    // whose staged file is gone was swapped before. False after a line naming it.
    bool swapIn(const std::wstring& name)
    {
        if (reachAll(name, true) == FolderChain::Link)
            return false;
        const std::wstring incoming = m_stage.incoming() + name;
        const std::wstring target = m_stage.target + name;
        const std::wstring kept = m_stage.kept() + name;
        // Only a killed run's swap can have been taken this far already.
        if (m_recovering && !exists(incoming))
            return true;
        const DWORD attributes = GetFileAttributesW(target.c_str());
        const bool present = attributes != INVALID_FILE_ATTRIBUTES;
        if ((present && !(attributes & FILE_ATTRIBUTE_DIRECTORY) && !isOwnFile(target, m_target.place())) ||
            (m_recovering && !isOwnFile(incoming, m_incoming.place()))) {
            printLine(L"refusing " + shown(name) + L": the file is a link\n");
            return false;
        }
        const bool moved = !(present && (attributes & FILE_ATTRIBUTE_DIRECTORY)) &&
                           (!present || (m_recovering && exists(kept)) || renameHeldFile(target, kept, false)) &&
                           renameHeldFile(incoming, target, true);
        if (!moved)
            printLine(L"couldn't replace " + shown(name) + L", the update is undone\n");
        return moved;
    }

    // Undoes swapIn for `name`, whatever part of it was done: the new file goes back
    // to the staged ones and the kept one to its place. False after a line naming it.
    bool putBack(const std::wstring& name)
    {
        const FolderChain chain = reachAll(name, false);
        if (chain == FolderChain::Link && m_targetLinked)
            return true; // the swap refused to move anything through it
        if (chain == FolderChain::Link)
            return false;
        const std::wstring incoming = m_stage.incoming() + name;
        const std::wstring target = m_stage.target + name;
        const std::wstring kept = m_stage.kept() + name;
        bool done = true;
        if (!exists(incoming) && exists(target) && !isFolder(target))
            done = renameHeldFile(target, incoming, false);
        if (done && exists(kept))
            done = renameHeldFile(kept, target, true);
        if (!done)
            printLine(L"couldn't put back " + shown(name) + L"\n");
        return done;
    }

private:
    // Link when a folder on the way to `name`, in the target or the staging folder, is
    // a link; m_targetLinked says which. The line names it when `report` is set.
    FolderChain reachAll(const std::wstring& name, bool report)
    {
        const std::wstring folderPart = folderPartOf(name);
        std::wstring link;
        m_targetLinked = m_target.reach(folderPart, false, link) == FolderChain::Link;
        const bool reached = !m_targetLinked && m_incoming.reach(folderPart, true, link) != FolderChain::Link &&
                             m_kept.reach(folderPart, true, link) != FolderChain::Link;
        if (!reached && report)
            printLine(L"refusing " + shown(name) + L": the folder " + link + L" is a link\n");
        return reached ? FolderChain::Held : FolderChain::Link;
    }

    bool m_recovering;
    const UpdateStage& m_stage;
    HeldWay m_target;
    HeldWay m_incoming;
    HeldWay m_kept;
    bool m_targetLinked = false;
};

// The staged tree as the files and missing folders of a swap. False when an item of
// it is a link: nothing planted there is moved anywhere.
bool planSwap(const UpdateStage& stage, Journal& journal)
{
    const std::wstring root = stage.incoming();
    bool sound = true;
    walkFolderTree(root, [&](const std::wstring& item, DWORD attributes) {
        const std::wstring name = item.compare(0, root.size(), root) == 0 ? item.substr(root.size()) : L"";
        if (name.empty() || isFolderLink(attributes)) {
            printLine(L"refusing " + shown(name) + L": the folder " + name + L" is a link\n");
            sound = false;
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!exists(stage.target + name))
                journal.folders.push_back(name);
        } else {
            journal.files.push_back(name);
        }
        return sound;
    });
    return sound;
}

// Every file of `journal` put back, last first, and the folders it created removed.
bool undoSwap(const UpdateStage& stage, const Journal& journal)
{
    Swapper swapper(stage, false);
    bool whole = true;
    for (auto name = journal.files.rbegin(); name != journal.files.rend(); ++name)
        whole = swapper.putBack(*name) && whole;
    for (auto folder = journal.folders.rbegin(); folder != journal.folders.rend(); ++folder)
        RemoveDirectoryW((stage.target + *folder).c_str());
    return whole;
}

// Swaps in every file of `journal`; at the first that fails, undoes the whole swap.
// The journal says which it is doing at each moment, for a run after a kill.
SwapOutcome swapOrUndo(const UpdateStage& stage, Journal& journal, bool recovering)
{
    Swapper swapper(stage, recovering);
    bool swapped = swapper.createFolders(journal.folders);
    for (std::size_t i = 0; swapped && i < journal.files.size(); ++i)
        swapped = swapper.swapIn(journal.files[i]);
    if (swapped)
        return SwapOutcome::Swapped;
    journal.state = SwapState::Undoing;
    writeJournal(stage, journal);
    return undoSwap(stage, journal) ? SwapOutcome::Undone : SwapOutcome::Stuck;
}

// Only a staging folder that is itself, where its parent lists it, is read or emptied:
// a link planted in its name (one that wine resolves shows no reparse tag) would have
// the elevated tool follow a journal from anywhere, or empty the folder it points to.
bool isOwnStage(const UpdateStage& stage)
{
    std::wstring parentPlace;
    const UniqueFileHandle parent = holdNamedFolder(stage.parent, parentPlace);
    return parent && holdFolder(withoutTrailingSeparators(stage.folder), placeBelow(parentPlace, stage.name));
}

} // namespace

bool stageBeside(const std::wstring& target, UpdateStage& stage)
{
    const std::wstring full = withoutTrailingSeparators(longPathForm(target));
    const std::size_t cut = full.find_last_of(L'\\');
    if (full.empty() || cut == std::wstring::npos)
        return false;
    const std::wstring name = full.substr(cut + 1);
    const std::wstring parent = full.substr(0, cut + 1);
    // \\?\C: has no parent, nor has \\?\UNC\server\share.
    const bool uncRoot = full.compare(0, 8, L"\\\\?\\UNC\\") == 0 &&
                         (parent.size() <= 8 || parent.find(L'\\', 8) == parent.size() - 1);
    if (name.empty() || name.find(L':') != std::wstring::npos || uncRoot || parent.size() <= 4)
        return false;
    stage.target = full + L"\\";
    stage.parent = parent;
    stage.name = name + kStageSuffix;
    stage.folder = parent + stage.name + L"\\";
    return true;
}

void recoverUnfinishedUpdate(const UpdateStage& stage)
{
    if (!exists(stage.folder))
        return;
    if (!isOwnStage(stage)) {
        // A reparse point goes as a link; one that cannot be told from a folder stays,
        // and no update can stage there.
        if (isFolderLinkPath(stage.folder))
            removeFolderLink(withoutTrailingSeparators(stage.folder));
        return;
    }
    Journal journal;
    const bool read = !isFolderLinkPath(stage.folder) && readJournal(stage, journal);
    const SwapOutcome swap = read && journal.state == SwapState::Swapping ? swapOrUndo(stage, journal, true)
                                                                          : SwapOutcome::Undone;
    if (swap == SwapOutcome::Swapped) {
        recordVersion(stage.target + L"jsver.txt", journal.version);
        removeStage(stage);
        printLine(L"finished the update to " + journal.version + L" that an earlier run left\n");
        return;
    }
    if (swap == SwapOutcome::Stuck || (read && journal.state == SwapState::Undoing && !undoSwap(stage, journal)))
        return; // still held: the next run tries again
    removeStage(stage);
    printLine(read ? L"undid the update to " + journal.version + L" that an earlier run left\n"
                   : std::wstring(L"undid an update that an earlier run left\n"));
}

bool openStage(const UpdateStage& stage, const std::wstring& version, const std::wstring& shownTarget)
{
    const std::wstring failed = L"couldn't stage the update beside " + shownTarget + L"\n";
    if (exists(stage.folder)) { // one that a recovery could not remove
        printLine(failed);
        return false;
    }
    Journal journal;
    journal.version = version;
    if (CreateDirectoryW(stage.folder.c_str(), nullptr) && writeJournal(stage, journal) &&
        CreateDirectoryW(stage.incoming().c_str(), nullptr))
        return true;
    removeStage(stage);
    printLine(failed);
    return false;
}

SwapOutcome swapStagedFiles(const UpdateStage& stage, const std::wstring& version)
{
    Journal journal;
    journal.version = version;
    journal.state = SwapState::Swapping;
    if (!planSwap(stage, journal))
        return SwapOutcome::Undone;
    if (!writeJournal(stage, journal)) {
        printLine(L"couldn't write the update's journal\n");
        return SwapOutcome::Undone;
    }
    return swapOrUndo(stage, journal, false);
}

void removeStage(const UpdateStage& stage)
{
    if (isOwnStage(stage))
        removeFolderTreeAt(stage.folder);
    else if (isFolderLinkPath(stage.folder))
        removeFolderLink(withoutTrailingSeparators(stage.folder));
}

bool renameHeldFile(const std::wstring& from, const std::wstring& to, bool replace)
{
    static DWORD waited = 0; // ms, for the whole run
    for (;;) {
        if (MoveFileExW(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
            return true;
        const DWORD error = GetLastError();
        const bool held =
            error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
        if (!held || waited >= kRetrySeconds * 1000)
            return false;
        Sleep(kRetryStepMs);
        waited += kRetryStepMs;
    }
}
