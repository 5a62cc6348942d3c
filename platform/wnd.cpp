// CWnd: what every toolkit side shares, the road of a message through the
// message map to the default processing.
#include "platform/afxwin.h"

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
