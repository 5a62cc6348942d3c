// CDialog on Win32: the template built in memory from the resource table and
// run by the dialog manager, which gives the keyboard, the modal loop and the
// disabled owner; every message passes through the message map first.
#include "platform/win32/dialog.h"

#include <string>
#include <vector>

#include "platform/afxwin.h"
#include "platform/cmdline.h"
#include "platform/win32/dialog_template.h"
#include "platform/win32/native.h"

namespace {

// The dialogs running modally, innermost last.
std::vector<CDialog*> g_modalDialogs;

constexpr UINT kWmDpiChanged = 0x02E0;

}  // namespace

HWND AfxFrontWindow() {
    return g_modalDialogs.empty() ? nullptr : g_modalDialogs.back()->GetSafeHwnd();
}

// The dialog manager's calls into a running CDialog.
struct AfxDialogAccess {
    // WM_INITDIALOG: the window's controls and system menu, OnInitDialog, and
    // the framework's centring when OnInitDialog did not move the window.
    static bool Init(void* target, HWND hWnd) {
        auto* dlg = static_cast<CDialog*>(target);
        dlg->m_hWnd = hWnd;
        const DLGTEMPLATE* tmpl = AfxFindDialogTemplate(int(dlg->m_nIDTemplate));
        for (size_t i = 0; tmpl && i < tmpl->itemCount; ++i) {
            const int id = tmpl->items[i].id;
            if (HWND control = native::DialogItem(hWnd, id)) {
                dlg->m_controls.emplace(id, std::make_unique<CWnd>(control));
            }
        }
        if (void* menu = native::SystemMenu(hWnd)) {
            dlg->m_sysMenu = std::make_unique<CMenu>();
            dlg->m_sysMenu->m_hMenu = static_cast<HMENU>(menu);
        }
        const native::Rect placed = native::WindowRect(hWnd);
        const BOOL focusFirst = dlg->OnInitDialog();
        const native::Rect now = native::WindowRect(hWnd);
        if (now.left == placed.left && now.top == placed.top) {
            native::CentreDialog(hWnd);
        }
        // Windows focuses the first tab stop only when told to.
        return !AfxOpenStartFile(dlg) && focusFirst;
    }
    static std::intptr_t Proc(void* target, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam) {
        auto* dlg = static_cast<CDialog*>(target);
        const LRESULT result = dlg->SendMessage(message, wParam, lParam);
        if (message == kWmDpiChanged) {
            // The dialog manager has scaled the form and its font: a text
            // shortened to fit is fitted again from the whole one.
            for (auto& [id, control] : dlg->m_controls) {
                if (native::IsTextStatic(control->GetSafeHwnd())) {
                    std::string text;
                    control->GetWindowText(text);
                    control->SetWindowText(text);
                }
            }
        }
        if (message == WM_DROPFILES) {
            // The drop's memory goes once the window has seen it.
            native::FinishDrop(reinterpret_cast<void*>(wParam));
        }
        return result;
    }
};

void CDialog::EndDialog(int nResult) {
    m_ending = true;
    m_nResult = nResult;
    if (m_hWnd) {
        native::EndDialog(m_hWnd, nResult);
    }
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return CWnd::DefWindowProc(message, wParam, lParam);
}

INT_PTR CDialog::DoModal() {
    const DLGTEMPLATE* tmpl = AfxFindDialogTemplate(int(m_nIDTemplate));
    if (tmpl == nullptr) {
        return -1;
    }
    const std::vector<std::uint16_t> words =
        BuildDialogTemplateEx(*tmpl, tmpl->fontFace ? native::ChineseFace(tmpl->fontFace) : "");
    HWND owner = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : AfxFrontWindow();
    m_ending = false;
    m_nResult = -1;
    g_modalDialogs.push_back(this);
    const INT_PTR result = native::RunDialog(words.data(), owner, &AfxDialogAccess::Init,
                                             &AfxDialogAccess::Proc, this);
    g_modalDialogs.pop_back();
    m_controls.clear();
    m_sysMenu.reset();
    m_hWnd = nullptr;
    return result;
}
