#pragma once

// The launcher's texts as the tests expect them, written out byte for byte instead of
// taken from Texts.h: a test that compares the product's constant with itself passes
// whatever byte is wrong in it.

namespace Expected {

// "启动程序失败！请检查主程序程序！" (GBK)
inline constexpr const char* kLogStartFailed = "\xC6\xF4\xB6\xAF\xB3\xCC\xD0\xF2\xCA\xA7\xB0\xDC\xA3\xA1\xC7\xEB\xBC\xEC\xB2\xE9\xD6\xF7\xB3\xCC\xD0\xF2\xB3\xCC\xD0\xF2\xA3\xA1";

// "启动程序失败！请检查主程序程序！"
inline constexpr const wchar_t* kStatusStartFailed = L"\x542F\x52A8\x7A0B\x5E8F\x5931\x8D25\xFF01\x8BF7\x68C0\x67E5\x4E3B\x7A0B\x5E8F\x7A0B\x5E8F\xFF01";
// "更新文件完成，点击确定重新启动！"
inline constexpr const wchar_t* kStatusInstalled = L"\x66F4\x65B0\x6587\x4EF6\x5B8C\x6210\xFF0C\x70B9\x51FB\x786E\x5B9A\x91CD\x65B0\x542F\x52A8\xFF01";
// "解压文件失败"
inline constexpr const wchar_t* kStatusUnpackFailed = L"\x89E3\x538B\x6587\x4EF6\x5931\x8D25";
// "应用新文件失败！"
inline constexpr const wchar_t* kStatusApplyFailed = L"\x5E94\x7528\x65B0\x6587\x4EF6\x5931\x8D25\xFF01";
// "检查更新失败！请检查网络畅通！"
inline constexpr const wchar_t* kStatusNetworkError = L"\x68C0\x67E5\x66F4\x65B0\x5931\x8D25\xFF01\x8BF7\x68C0\x67E5\x7F51\x7EDC\x7545\x901A\xFF01";
// "重试"
inline constexpr const wchar_t* kButtonRetry = L"\x91CD\x8BD5";

} // namespace Expected
