#pragma once

// The launcher's own texts. Log texts are GBK (code page 936) byte strings because
// the debug output carries narrow text unconverted; the dialog's texts are UTF-16.
// Escapes keep the bytes exact whatever encoding a compiler assumes for the source.

namespace Texts {

// Diagnostic log (GBK).
// "打开文件失败%s"
inline constexpr const char* kLogOpenFileFailed = "\xB4\xF2\xBF\xAA\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC%s";
// "启动程序失败！请检查主程序程序！"
inline constexpr const char* kLogStartFailed = "\xC6\xF4\xB6\xAF\xB3\xCC\xD0\xF2\xCA\xA7\xB0\xDC\xA3\xA1\xC7\xEB\xBC\xEC\xB2\xE9\xD6\xF7\xB3\xCC\xD0\xF2\xB3\xCC\xD0\xF2\xA3\xA1";
// "主程序已经启动，请稍后！"
inline constexpr const char* kLogClientStarted = "\xD6\xF7\xB3\xCC\xD0\xF2\xD2\xD1\xBE\xAD\xC6\xF4\xB6\xAF\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF3\xA3\xA1";
// "开始解压包！\n"
inline constexpr const char* kLogUnpackStart = "\xBF\xAA\xCA\xBC\xBD\xE2\xD1\xB9\xB0\xFC\xA3\xA1\n";
// "解压包失败！"
inline constexpr const char* kLogUnpackFailed = "\xBD\xE2\xD1\xB9\xB0\xFC\xCA\xA7\xB0\xDC\xA3\xA1";
// "校验包失败！应为%s，实为%s\n": the digest the answer gave, then the download's
inline constexpr const char* kLogDigestMismatch =
    "\xD0\xA3\xD1\xE9\xB0\xFC\xCA\xA7\xB0\xDC\xA3\xA1\xD3\xA6\xCE\xAA%s\xA3\xAC\xCA\xB5\xCE\xAA%s\n";
// "新建文件夹%s\n"
inline constexpr const char* kLogNewFolder = "\xD0\xC2\xBD\xA8\xCE\xC4\xBC\xFE\xBC\xD0%s\n";
// "开始解压文件！%s\n"
inline constexpr const char* kLogExtractStart = "\xBF\xAA\xCA\xBC\xBD\xE2\xD1\xB9\xCE\xC4\xBC\xFE\xA3\xA1%s\n";
// "开始删除旧文件！%s\n"
inline constexpr const char* kLogDeleteStart = "\xBF\xAA\xCA\xBC\xC9\xBE\xB3\xFD\xBE\xC9\xCE\xC4\xBC\xFE\xA3\xA1%s\n";
// "开始应用新文件！%s\n"
inline constexpr const char* kLogApplyStart = "\xBF\xAA\xCA\xBC\xD3\xA6\xD3\xC3\xD0\xC2\xCE\xC4\xBC\xFE\xA3\xA1%s\n";
// "解压文件失败！"
inline constexpr const char* kLogExtractFailed = "\xBD\xE2\xD1\xB9\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC\xA3\xA1";
// "应用新文件失败！"
inline constexpr const char* kLogApplyFailed = "\xD3\xA6\xD3\xC3\xD0\xC2\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC\xA3\xA1";

// Dialog (UTF-16).
// "正在检查更新！"
inline constexpr const wchar_t* kStatusChecking = L"\x6B63\x5728\x68C0\x67E5\x66F4\x65B0\xFF01";
// "检查更新失败！请检查服务器！"
inline constexpr const wchar_t* kStatusServerError = L"\x68C0\x67E5\x66F4\x65B0\x5931\x8D25\xFF01\x8BF7\x68C0\x67E5\x670D\x52A1\x5668\xFF01";
// "检查更新失败！请检查网络畅通！"
inline constexpr const wchar_t* kStatusNetworkError = L"\x68C0\x67E5\x66F4\x65B0\x5931\x8D25\xFF01\x8BF7\x68C0\x67E5\x7F51\x7EDC\x7545\x901A\xFF01";
// "参数错误！"
inline constexpr const wchar_t* kStatusBadParameters = L"\x53C2\x6570\x9519\x8BEF\xFF01";
// "不需要更新，点击确定启动应用程序！"
inline constexpr const wchar_t* kStatusNoUpdate = L"\x4E0D\x9700\x8981\x66F4\x65B0\xFF0C\x70B9\x51FB\x786E\x5B9A\x542F\x52A8\x5E94\x7528\x7A0B\x5E8F\xFF01";
// "更新失败！"
inline constexpr const wchar_t* kStatusUpdateFailed = L"\x66F4\x65B0\x5931\x8D25\xFF01";
// "解压文件失败"
inline constexpr const wchar_t* kStatusUnpackFailed = L"\x89E3\x538B\x6587\x4EF6\x5931\x8D25";
// "应用新文件失败！"
inline constexpr const wchar_t* kStatusApplyFailed = L"\x5E94\x7528\x65B0\x6587\x4EF6\x5931\x8D25\xFF01";
// "更新文件完成，点击确定重新启动！"
inline constexpr const wchar_t* kStatusInstalled = L"\x66F4\x65B0\x6587\x4EF6\x5B8C\x6210\xFF0C\x70B9\x51FB\x786E\x5B9A\x91CD\x65B0\x542F\x52A8\xFF01";
// "启动程序失败！请检查主程序程序！"
inline constexpr const wchar_t* kStatusStartFailed = L"\x542F\x52A8\x7A0B\x5E8F\x5931\x8D25\xFF01\x8BF7\x68C0\x67E5\x4E3B\x7A0B\x5E8F\x7A0B\x5E8F\xFF01";
// "重试"
inline constexpr const wchar_t* kButtonRetry = L"\x91CD\x8BD5";
// "正在下载更新吧(%d%%)..."
inline constexpr const wchar_t* kPhaseDownload = L"\x6B63\x5728\x4E0B\x8F7D\x66F4\x65B0\x5427(%d%%)...";
// "正在部署包(%d%%)..."
inline constexpr const wchar_t* kPhaseExtract = L"\x6B63\x5728\x90E8\x7F72\x5305(%d%%)...";
// "正在删除旧文件(%d%%)..."
inline constexpr const wchar_t* kPhaseDelete = L"\x6B63\x5728\x5220\x9664\x65E7\x6587\x4EF6(%d%%)...";
// "解压失败": text and caption of the local install's message box
inline constexpr const wchar_t* kMessageUnpackFailed = L"\x89E3\x538B\x5931\x8D25";

} // namespace Texts
