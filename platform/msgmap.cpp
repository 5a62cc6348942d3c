// Message maps: finding a handler along a class's chain of tables, and the
// road of a message through them to the default processing.
#include "platform/afxwin.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP messageMap = {nullptr, &entries[0]};
    return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindEntry(UINT nMessage, UINT nCode, UINT nID) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn != nullptr; ++e) {
            if (e->nMessage == nMessage &&
                (nMessage != WM_COMMAND || (e->nCode == nCode && e->nID == nID))) {
                return e;
            }
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, UINT nCode) {
    const AFX_MSGMAP_ENTRY* e = FindEntry(WM_COMMAND, nCode, nID);
    if (e == nullptr) {
        return FALSE;
    }
    e->pfn(this, MAKEWPARAM(WORD(nID), WORD(nCode)), 0);
    return TRUE;
}

CWnd* CWnd::GetDlgItem(int nID) const {
    auto it = m_controls.find(nID);
    return it == m_controls.end() ? nullptr : it->second.get();
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const CurrentMessage outer = m_current;
    m_current = {message, wParam, lParam};
    const LRESULT result = WindowProc(message, wParam, lParam);
    m_current = outer;
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        // Commands the window does not handle go on to the application.
        if (OnCmdMsg(LOWORD(wParam), HIWORD(wParam)) ||
            (AfxGetApp() && AfxGetApp()->OnCmdMsg(LOWORD(wParam), HIWORD(wParam)))) {
            return 0;
        }
        return DefWindowProc(message, wParam, lParam);
    }
    if (const AFX_MSGMAP_ENTRY* e = FindEntry(message, 0, 0)) {
        return e->pfn(this, wParam, lParam);
    }
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::Default() {
    return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam);
}
