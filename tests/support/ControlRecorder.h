#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

// Stands in for the dialog's status line, button and progress bar: a message-only
// window that records what the worker code sends it.
class ControlRecorder {
public:
    ControlRecorder()
    {
        static const ATOM atom = registerClass();
        (void)atom;
        window_ = CreateWindowExW(0, L"ZvControlRecorder", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, GetModuleHandleW(nullptr), this);
    }
    ~ControlRecorder() { DestroyWindow(window_); }
    ControlRecorder(const ControlRecorder&) = delete;
    ControlRecorder& operator=(const ControlRecorder&) = delete;

    HWND handle() const { return window_; }

    std::vector<int> positions;
    std::vector<std::wstring> texts;
    // Runs after each text arrives, while the sender waits: the moment a press of the
    // button would see.
    std::function<void()> onText;

private:
    static ATOM registerClass()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &ControlRecorder::procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"ZvControlRecorder";
        return RegisterClassW(&windowClass);
    }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<ControlRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == PBM_SETPOS) {
            self->positions.push_back(static_cast<int>(wParam));
            return 0;
        }
        if (self && message == WM_SETTEXT) {
            self->texts.emplace_back(reinterpret_cast<const wchar_t*>(lParam));
            if (self->onText)
                self->onText();
            return TRUE;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
};
