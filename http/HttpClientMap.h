// The HTTP client's name/value multimap (request parameters and extra headers).
#pragma once

#include <windows.h>

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "http/HttpText.h"

namespace Varnu {

// Kept ordered by name, compared byte by byte as unsigned values after folding the
// ASCII letters A-Z to lower case. Equal names are all kept, in the order they were
// added. Names are never null; values may be.
template <class HttpTool>
class CHttpClientMapT {
public:
    CHttpClientMapT() = default;
    CHttpClientMapT(const CHttpClientMapT&) = delete;
    CHttpClientMapT& operator=(const CHttpClientMapT&) = delete;
    virtual ~CHttpClientMapT() { Clear(); }

    // Adds copies of szName and szValue (null stays null). Refuses a null name;
    // 102 when a copy cannot be allocated.
    void Add(LPCSTR szName, LPCSTR szValue = nullptr)
    {
        if (!szName)
            HttpTool::RaiseMessage("CHttpClientMapT::Add: szName can not be NULL.");
        OwnedText name = CopyText(szName);
        OwnedText value = CopyText(szValue);
        AddPointerDirectly(std::move(name), std::move(value));
    }

    // Takes ownership of both strings. Refuses a null name.
    void AddPointerDirectly(OwnedText szName, OwnedText szValue)
    {
        if (!szName)
            HttpTool::RaiseMessage("CHttpClientMapT::AddPointerDirectly: szName can not be NULL.");
        try {
            const auto position = std::upper_bound(m_entries.begin(), m_entries.end(), szName.get(),
                                                   [](LPCSTR szKey, const Entry& entry) {
                                                       return CompareName(szKey, entry.name.get()) < 0;
                                                   });
            m_entries.insert(position, Entry{std::move(szName), std::move(szValue)});
        } catch (const std::exception& e) {
            HttpTool::RaiseStdException(e);
        } catch (...) {
            HttpTool::RaiseError(HttpErr::Unexpected);
        }
    }

    DWORD Count() const noexcept { return static_cast<DWORD>(m_entries.size()); }
    BOOL Empty() const noexcept { return m_entries.empty(); }

    // Name and value of the entry at nIndex in map order; 101 when out of range.
    LPCSTR GetKey(DWORD nIndex) const { return At(nIndex).name.get(); }
    LPCSTR GetValue(DWORD nIndex) const { return At(nIndex).value.get(); }

    void Clear() noexcept { m_entries.clear(); }

    // <0, 0 or >0 as szLeft sorts before, with or after szRight.
    static int CompareName(LPCSTR szLeft, LPCSTR szRight) noexcept
    {
        for (;; ++szLeft, ++szRight) {
            const int left = FoldAscii(static_cast<BYTE>(*szLeft));
            const int right = FoldAscii(static_cast<BYTE>(*szRight));
            if (left != right || left == 0)
                return left - right;
        }
    }

private:
    struct Entry {
        OwnedText name;
        OwnedText value;
    };

    static int FoldAscii(BYTE byte) noexcept
    {
        return (byte >= 'A' && byte <= 'Z') ? byte - 'A' + 'a' : byte;
    }

    const Entry& At(DWORD nIndex) const
    {
        if (nIndex >= m_entries.size())
            HttpTool::RaiseError(HttpErr::IndexOutOfRange);
        return m_entries[nIndex];
    }

    std::vector<Entry> m_entries;
};

}  // namespace Varnu
