// CPaintDC on Win32: the bracket of one paint, icons drawn into it.
#include "platform/afxwin.h"
#include "platform/win32/native.h"

namespace {

void* Native(HICON icon) {
    return const_cast<void*>(static_cast<const void*>(icon));
}

}  // namespace

CPaintDC::CPaintDC(CWnd* pWnd) : m_hDC(static_cast<HDC>(native::BeginPaint(pWnd->GetSafeHwnd()))) {}

CPaintDC::~CPaintDC() {
    if (m_hDC) {
        native::EndPaint(m_hDC);
    }
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON hIcon) {
    return m_hDC && hIcon && native::DrawIcon(m_hDC, x, y, Native(hIcon));
}

int GetSystemMetrics(int nIndex) {
    return native::SystemMetrics(nIndex);
}
