// Progress counters of a streamed POST. Their active flag is what makes a client's
// post context active.
#pragma once

#include <windows.h>

#include <string>

#include "http/CheckedArithmetic.h"
#include "http/HttpText.h"

namespace Varnu {

// Every accessor and counter operation refuses to run while the record is inactive;
// every counter addition is overflow-checked (112).
template <class HttpTool>
class CHttpPostStatT {
public:
    CHttpPostStatT() = default;
    CHttpPostStatT(const CHttpPostStatT&) = delete;
    CHttpPostStatT& operator=(const CHttpPostStatT&) = delete;
    virtual ~CHttpPostStatT() { _Clear(); }

    BOOL IsActive() const noexcept { return m_bIsActive; }

    DWORD TotalCount() const { return ActiveOnly("TotalCount", m_nTotalCount); }
    DWORD PostedCount() const { return ActiveOnly("PostedCount", m_nPostedCount); }
    DWORD TotalByte() const { return ActiveOnly("TotalByte", m_nTotalByte); }
    DWORD PostedByte() const { return ActiveOnly("PostedByte", m_nPostedByte); }
    DWORD ActualTotalByte() const { return ActiveOnly("ActualTotalByte", m_nActualTotalByte); }
    DWORD ActualPostedByte() const { return ActiveOnly("ActualPostedByte", m_nActualPostedByte); }
    LPCSTR CurrParam() const { return ActiveOnly("CurrParam", m_szCurrParam).get(); }
    DWORD CurrParamTotalByte() const { return ActiveOnly("CurrParamTotalByte", m_nCurrParamTotalByte); }
    DWORD CurrParamPostedByte() const { return ActiveOnly("CurrParamPostedByte", m_nCurrParamPostedByte); }
    DWORD CurrParamRemainByte() const
    {
        Checked("CurrParamRemainByte");
        return CheckedSub(m_nCurrParamTotalByte, m_nCurrParamPostedByte);
    }
    BOOL CurrParamIsComplete() const
    {
        Checked("CurrParamIsComplete");
        return m_nCurrParamPostedByte >= m_nCurrParamTotalByte;
    }
    BOOL CurrParamIsFile() const { return ActiveOnly("CurrParamIsFile", m_szCurrFile) != nullptr; }
    LPCSTR CurrFile() const { return ActiveOnly("CurrFile", m_szCurrFile).get(); }
    DWORD FileCount() const { return ActiveOnly("FileCount", m_nFileCount); }
    DWORD PostedFileCount() const { return ActiveOnly("PostedFileCount", m_nPostedFileCount); }

    // Value bytes of the current parameter went out (not the separators and names).
    void _TestAddPostedBytes(DWORD nBytes)
    {
        Checked("_TestAddPostedBytes");
        const DWORD nPosted = CheckedAdd(m_nPostedByte, nBytes);
        const DWORD nCurrPosted = CheckedAdd(m_nCurrParamPostedByte, nBytes);
        m_nPostedByte = nPosted;
        m_nCurrParamPostedByte = nCurrPosted;
    }

    // Any body bytes went out.
    void _TestAddActualPostedBytes(DWORD nBytes)
    {
        Checked("_TestAddActualPostedBytes");
        m_nActualPostedByte = CheckedAdd(m_nActualPostedByte, nBytes);
    }

    // The next parameter starts: szParam with nTotalBytes of (encoded) value.
    void _TestStartNewEntry(LPCSTR szParam, DWORD nTotalBytes, LPCSTR szFile = nullptr)
    {
        Checked("_TestStartNewEntry");
        const DWORD nPostedCount = CheckedAdd(m_nPostedCount, 1);
        OwnedText param = CopyText(szParam);
        OwnedText file = CopyText(szFile);
        m_nPostedCount = nPostedCount;
        m_szCurrParam = std::move(param);
        m_szCurrFile = std::move(file);
        m_nCurrParamTotalByte = nTotalBytes;
        m_nCurrParamPostedByte = 0;
    }

    // Clears every counter, then activates the record for a new POST.
    void _MakeActive(DWORD nActualTotalByte, DWORD nTotalByte, DWORD nTotalCount, DWORD nFileCount) noexcept
    {
        _Clear();
        m_bIsActive = TRUE;
        m_nActualTotalByte = nActualTotalByte;
        m_nTotalByte = nTotalByte;
        m_nTotalCount = nTotalCount;
        m_nFileCount = nFileCount;
    }

    // Frees both texts and zeroes every field, which makes the record inactive.
    void _Clear() noexcept
    {
        m_bIsActive = FALSE;
        m_nActualTotalByte = m_nActualPostedByte = 0;
        m_nTotalByte = m_nPostedByte = 0;
        m_nTotalCount = m_nPostedCount = 0;
        m_nFileCount = m_nPostedFileCount = 0;
        m_szCurrParam.reset();
        m_szCurrFile.reset();
        m_nCurrParamTotalByte = m_nCurrParamPostedByte = 0;
    }

private:
    template <class T>
    const T& ActiveOnly(const char* szOperation, const T& field) const
    {
        Checked(szOperation);
        return field;
    }

    void Checked(const char* szOperation) const
    {
        if (m_bIsActive)
            return;
        // Texts of a fixed form: "CHttpPostStatT::<operation>: The post context is not active."
        std::string message = "CHttpPostStatT::";
        message += szOperation;
        message += ": The post context is not active.";
        HttpTool::RaiseMessage(message.c_str());
    }

    BOOL m_bIsActive = FALSE;
    DWORD m_nActualTotalByte = 0;
    DWORD m_nActualPostedByte = 0;
    DWORD m_nTotalByte = 0;
    DWORD m_nPostedByte = 0;
    DWORD m_nTotalCount = 0;
    DWORD m_nPostedCount = 0;
    DWORD m_nFileCount = 0;
    DWORD m_nPostedFileCount = 0;
    OwnedText m_szCurrParam;
    OwnedText m_szCurrFile;
    DWORD m_nCurrParamTotalByte = 0;
    DWORD m_nCurrParamPostedByte = 0;
};

}  // namespace Varnu
