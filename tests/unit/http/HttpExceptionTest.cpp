#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "http/CheckedArithmetic.h"
#include "http/HttpException.h"
#include "http/HttpPostStat.h"
#include "http/HttpTool.h"
#include "RecordingTool.h"

using namespace Varnu;

TEST(HttpErrorMessage, LooksCodesUpByRangeAndRow)
{
    const struct {
        DWORD code;
        const char* message;
    } rows[] = {
        {0, "Not specified"},
        {100, "Unexpected error occurred."},
        {101, "The index is out of range."},
        {102, "Out of memory."},
        {103, "The requested URL is not a valid URL."},
        {104, "The post context is not started yet."},
        {105, "Couldn't read expected bytes from a file."},
        {106, "The post context has not been finished yet."},
        {107, "The port number is not valid."},
        {108, "std::exception occurred."},
        {109, "The encoded URL is not valid."},
        {110, "The UTF8 string contains an invalid character."},
        {111, "An unexpected arithmetic error has been occurred."},
        {112, "An arithmetic overflow error has been occurred."},
        {113, "An interger divide by zero exception has been occurred."},
        {114, "The file (%s) aleady exists."},
        {400, "::HttpQueryInfo failed."},
        {401, "::InternetReadFile failed."},
        {402, "::InternetOpen failed."},
        {403, "::InternetConnect failed."},
        {404, "::HttpOpenRequest failed."},
        {405, "::HttpAddRequestHeaders failed."},
        {406, "::HttpSendRequest failed."},
        {407, "::HttpSendRequestEx failed."},
        {408, "::InternetWriteFile failed."},
        {409, "::HttpEndRequest failed."},
        {410, "::InternetSetOption failed."},
        {600, "::WideCharToMultiByte failed."},
        {601, "::MultiByteToWideChar failed."},
        {602, "::ReadFile failed."},
        {603, "OpenFile (::CreateFile) failed (\"%s\")."},
        {604, "::SetFilePointer failed."},
        {605, "::GetFileSize failed (\"%s\")."},
        {606, "::WriteFile failed (\"%s\")."},
        // rows that do not exist, and the caller's own codes
        {99, "Not specified"},
        {115, "Not specified"},
        {200, "Not specified"},
        {311, "Not specified"},
        {411, "Not specified"},
        {500, "::HttpQueryInfo failed."},  // the 400-599 table: row 0
        {700, "::WideCharToMultiByte failed."},
        {999, "Not specified"},
        {1000, "user-defined error message"},
        {0xFFFFFFFF, "user-defined error message"},
    };
    for (const auto& row : rows)
        EXPECT_STREQ(HttpErrorMessage(row.code), row.message) << row.code;
}

TEST(HttpException, CarriesTextCodeAndWin32ErrorThroughCopies)
{
    const errmsg_exceptionA none;
    EXPECT_STREQ(none.Message(), "NULL");
    EXPECT_STREQ(none.what(), "NULL");

    httpclientexceptionA original("first", 406, 12029);
    httpclientexceptionA copy(original);
    original.SetMessage("changed");
    EXPECT_STREQ(copy.Message(), "first");
    EXPECT_EQ(copy.ErrorCode(), 406u);
    EXPECT_EQ(copy.Win32Error(), 12029u);

    copy = original;
    copy = copy;
    EXPECT_STREQ(copy.what(), "changed");
    copy.SetMessage(nullptr);
    EXPECT_STREQ(copy.Message(), "NULL");

    try {
        RaiseHttpError(402);
        ADD_FAILURE() << "RaiseHttpError returned";
    } catch (const std::exception& e) {  // how the launcher catches
        EXPECT_STREQ(e.what(), "::InternetOpen failed.");
    }
}

// Raising by code, by code and Win32 error (optionally formatted, cut at 511
// characters) and by text.
TEST(HttpException, RaisesInTheThreeWays)
{
    ExpectHttpError([] { RaiseHttpError(103); }, 103, 0, "The requested URL is not a valid URL.");
    ExpectHttpError([] { RaiseHttpError(406, 12029); }, 406, 12029, "::HttpSendRequest failed.");
    ExpectHttpError([] { RaiseHttpError(603, 2, "C:\\a b.txt"); }, 603, 2,
                    "OpenFile (::CreateFile) failed (\"C:\\a b.txt\").");
    ExpectHttpError([] { RaiseHttpMessage("some check"); }, 0, 0, "some check");

    const std::string longArgument(600, 'x');
    try {
        RaiseHttpError(606, 5, longArgument.c_str());
        ADD_FAILURE();
    } catch (const httpclientexceptionA& e) {
        const std::string message = e.Message();
        EXPECT_EQ(message.size(), 511u);
        EXPECT_EQ(message, ("::WriteFile failed (\"" + longArgument).substr(0, 511));
    }
}

TEST(CheckedArithmetic, OverflowIs112DivisionByZero113OtherFaults111)
{
    EXPECT_EQ(CheckedAdd(0xFFFFFFFEu, 1), 0xFFFFFFFFu);
    EXPECT_EQ(CheckedSub(5, 5), 0u);
    EXPECT_EQ(CheckedMul(0xFFFFu, 0x10001u), 0xFFFFFFFFu);
    EXPECT_EQ(CheckedDiv(7, 2), 3u);
    const std::string overflow = "An arithmetic overflow error has been occurred.";
    ExpectHttpError([] { CheckedAdd(0xFFFFFFFFu, 1); }, 112, 0, overflow);
    ExpectHttpError([] { CheckedSub(1, 2); }, 112, 0, overflow);
    ExpectHttpError([] { CheckedMul(0x10000u, 0x10000u); }, 112, 0, overflow);
    // Only a 64-bit size_t can exceed a DWORD; on the 32-bit build every size fits.
    if constexpr (sizeof(size_t) > sizeof(DWORD))
        ExpectHttpError([] { CheckedNarrow(static_cast<size_t>(0xFFFFFFFFull + 1)); }, 112, 0, overflow);
    else
        EXPECT_EQ(CheckedNarrow(static_cast<size_t>(-1)), 0xFFFFFFFFu);
    ExpectHttpError([] { CheckedDiv(1, 0); }, 113, 0, "An interger divide by zero exception has been occurred.");
    ExpectHttpError([] { RaiseArithmeticFault(ArithmeticFault::Other); }, 111, 0,
                    "An unexpected arithmetic error has been occurred.");
}

// The argument checks come before any platform call, in the documented order.
TEST(HttpTool, RefusesBadArgumentsBeforeCallingWinInet)
{
    const struct {
        void (*call)();
        const char* message;
    } cases[] = {
        {[] { CHttpToolA::OpenConnection(nullptr, nullptr, 80); }, "CHttpToolA::OpenConnection: hInternet can not be NULL."},
        {[] { CHttpToolA::OpenConnection(reinterpret_cast<HINTERNET>(1), nullptr, 80); },
         "CHttpToolA::OpenConnection: szServerAddr can not be NULL."},
        {[] { CHttpToolA::OpenConnection(reinterpret_cast<HINTERNET>(1), "", 80); },
         "CHttpToolA::OpenConnection: szServerAddr can not be an empty string."},
        {[] { CHttpToolA::OpenRequest(nullptr, "GET", nullptr, 0); }, "CHttpToolA::OpenRequest: hConnection can not be NULL."},
        {[] { CHttpToolA::OpenRequest(reinterpret_cast<HINTERNET>(1), "GET", nullptr, 0); },
         "CHttpToolA::OpenRequest: szObjectName can not be NULL."},
        {[] { CHttpToolA::OpenRequest(reinterpret_cast<HINTERNET>(1), "GET", "", 0); },
         "CHttpToolA::OpenRequest: szObjectName can not be an empty string."},
        {[] { CHttpToolA::AddHeader(nullptr, nullptr, "v"); }, "CHttpToolA::AddHeader: hRequest can not be NULL."},
        {[] { CHttpToolA::AddHeader(reinterpret_cast<HINTERNET>(1), nullptr, "v"); },
         "CHttpToolA::AddHeader: szName can not be NULL."},
        {[] { CHttpToolA::SendRequest(nullptr); }, "CHttpToolA::SendRequest: hRequest can not be NULL."},
        {[] { CHttpToolA::SendRequestEx(nullptr, 1); }, "CHttpToolA::SendRequestEx: hRequest can not be NULL."},
        {[] { CHttpToolA::InternetWriteFile(nullptr, nullptr, 0); }, "CHttpToolA::InternetWriteFile: hRequest can not be NULL."},
        {[] { CHttpToolA::InternetWriteFile(reinterpret_cast<HINTERNET>(1), nullptr, 0); },
         "CHttpToolA::InternetWriteFile: pbyBuff can not be NULL."},
        {[] {
             const BYTE data = 0;
             CHttpToolA::InternetWriteFile(reinterpret_cast<HINTERNET>(1), &data, 0);
         },
         "CHttpToolA::InternetWriteFile: cbyBuff can not be zero."},
        {[] { CHttpToolA::EndRequest(nullptr); }, "CHttpToolA::EndRequest: hRequest can not be NULL."},
    };
    for (const auto& c : cases)
        ExpectHttpError(c.call, 0, 0, c.message);
}

// A real WinINet failure carries the code of its row and the Win32 error.
TEST(HttpTool, PlatformFailuresCarryTheWin32Error)
{
    // No such option: WinINet says ERROR_INTERNET_INVALID_OPTION.
    ExpectHttpError([] { CHttpToolA::SetOption(nullptr, 0xFFFF, nullptr, 0); }, 410, ERROR_INTERNET_INVALID_OPTION,
                    "::InternetSetOption failed.");
}

TEST(HttpPostStat, RefusesEveryAccessWhileInactive)
{
    CHttpPostStatT<RecordingTool> stat;
    const char* names[] = {"TotalCount", "PostedCount", "TotalByte", "PostedByte", "ActualTotalByte",
                           "ActualPostedByte", "CurrParam", "CurrParamTotalByte", "CurrParamPostedByte",
                           "CurrParamRemainByte", "CurrParamIsComplete", "CurrParamIsFile", "CurrFile", "FileCount",
                           "PostedFileCount", "_TestAddPostedBytes", "_TestAddActualPostedBytes",
                           "_TestStartNewEntry"};
    const std::function<void()> calls[] = {
        [&] { stat.TotalCount(); },          [&] { stat.PostedCount(); },
        [&] { stat.TotalByte(); },           [&] { stat.PostedByte(); },
        [&] { stat.ActualTotalByte(); },     [&] { stat.ActualPostedByte(); },
        [&] { stat.CurrParam(); },           [&] { stat.CurrParamTotalByte(); },
        [&] { stat.CurrParamPostedByte(); }, [&] { stat.CurrParamRemainByte(); },
        [&] { stat.CurrParamIsComplete(); }, [&] { stat.CurrParamIsFile(); },
        [&] { stat.CurrFile(); },            [&] { stat.FileCount(); },
        [&] { stat.PostedFileCount(); },     [&] { stat._TestAddPostedBytes(1); },
        [&] { stat._TestAddActualPostedBytes(1); }, [&] { stat._TestStartNewEntry("n", 1); },
    };
    static_assert(sizeof(names) / sizeof(names[0]) == sizeof(calls) / sizeof(calls[0]), "one name per call");
    for (size_t i = 0; i < sizeof(names) / sizeof(names[0]); ++i)
        ExpectHttpError(calls[i], 0, 0, std::string("CHttpPostStatT::") + names[i] + ": The post context is not active.");
}

TEST(HttpPostStat, CountsAndRefusesToOverflow)
{
    CHttpPostStatT<RecordingTool> stat;
    stat._MakeActive(10, 4, 2, 0);
    stat._TestStartNewEntry("name", 4);
    stat._TestAddPostedBytes(3);
    EXPECT_EQ(stat.CurrParamRemainByte(), 1u);
    EXPECT_FALSE(stat.CurrParamIsComplete());
    EXPECT_STREQ(stat.CurrParam(), "name");
    EXPECT_EQ(stat.PostedCount(), 1u);

    stat._TestAddActualPostedBytes(0xFFFFFFF0u);
    ExpectHttpError([&] { stat._TestAddActualPostedBytes(0x10); }, 112, 0,
                    "An arithmetic overflow error has been occurred.");
    EXPECT_EQ(stat.ActualPostedByte(), 0xFFFFFFF0u);  // unchanged by the refused addition

    stat._Clear();
    EXPECT_FALSE(stat.IsActive());
}
