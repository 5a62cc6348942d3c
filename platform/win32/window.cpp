// CWnd on Win32: each call goes to the window itself.
#include "platform/afxwin.h"
#include "platform/cmdline.h"
#include "platform/fit_text.h"
#include "platform/win32/native.h"

namespace {

void* Native(HICON icon) {
    return const_cast<void*>(static_cast<const void*>(icon));
}

HICON Icon(void* native) {
    return static_cast<HICON>(native);
}

constexpr UINT kWmContextMenu = 0x007B;

}  // namespace

CWnd::~CWnd() = default;

void CWnd::GetWindowText(std::string& text) const {
    text = m_hWnd ? native::WindowText(m_hWnd) : std::string();
    if (!m_shownText.empty() && text == m_shownText) {
        text = m_wholeText;
    }
}

void CWnd::SetWindowText(const std::string& text) {
    if (!m_hWnd) {
        return;
    }
    if (!native::IsTextStatic(m_hWnd)) {
        native::SetText(m_hWnd, text);
        return;
    }
    // The control shows what fits its lines; the whole text stays as this
    // window's text and as the control's tooltip.
    const std::string shown = AfxFitQuotedText(text, [this](const std::string& candidate) {
        return native::FitsStatic(m_hWnd, candidate);
    });
    native::SetText(m_hWnd, shown);
    m_wholeText = shown == text ? std::string() : text;
    m_shownText = shown == text ? std::string() : shown;
    native::SetToolTip(m_hWnd, m_wholeText);
}

void CWnd::SetFocus() {
    if (m_hWnd) {
        native::SetFocus(m_hWnd);
    }
}

void CWnd::GetClientRect(CRect* rect) const {
    const native::Rect r = m_hWnd ? native::ClientRect(m_hWnd) : native::Rect{0, 0, 0, 0};
    *rect = CRect{r.left, r.top, r.right, r.bottom};
}

BOOL CWnd::IsIconic() const {
    return m_hWnd && native::IsIconic(m_hWnd);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    m_icons[bBigIcon ? ICON_BIG : ICON_SMALL] = hIcon;
    return m_hWnd ? Icon(native::SetIcon(m_hWnd, Native(hIcon), bBigIcon)) : nullptr;
}

CMenu* CWnd::GetSystemMenu(BOOL /*bRevert*/) {
    return m_sysMenu.get();
}

void CWnd::DragAcceptFiles(BOOL bAccept) {
    if (m_hWnd) {
        native::DragAcceptFiles(m_hWnd, bAccept);
    }
}

HDROP AfxMakeDrop(const std::string& path) {
    return static_cast<HDROP>(native::MakeDrop(native::FullPath(path)));
}

void AfxFreeDrop(HDROP drop) {
    if (drop) {
        native::FinishDrop(const_cast<void*>(static_cast<const void*>(drop)));
    }
}

UINT DragQueryFile(HDROP hDrop, UINT iFile, std::string* path) {
    if (hDrop == nullptr) {
        return 0;
    }
    return native::DroppedFile(const_cast<void*>(static_cast<const void*>(hDrop)), iFile, path);
}

void CWnd::TrackSystemMenu(int screenX, int screenY) {
    if (!m_sysMenu || !m_sysMenu->m_hMenu || !m_hWnd) {
        return;
    }
    if (const std::uintptr_t id = native::TrackMenu(m_sysMenu->m_hMenu, m_hWnd, screenX, screenY)) {
        SendMessage(WM_SYSCOMMAND, WPARAM(id), 0);
    }
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_HELP) {
        // The framework turns help requests into its Help command.
        SendMessage(WM_COMMAND, ID_HELP);
        return 1;
    }
    if (message == kWmContextMenu && m_sysMenu) {
        // A right click on the form or a button, the Menu key or Shift+F10
        // opens the window's menu, as on every side of the layer; from the
        // keyboard (-1) at the window's corner. An edit field keeps its own.
        if (lParam == -1) {
            const native::Rect r = native::WindowRect(m_hWnd);
            TrackSystemMenu(r.left, r.top);
        } else {
            TrackSystemMenu(std::int16_t(lParam & 0xFFFF), std::int16_t((lParam >> 16) & 0xFFFF));
        }
        return 0;
    }
    return m_hWnd ? native::DefaultProc(m_hWnd, message, wParam, lParam) : 0;
}
