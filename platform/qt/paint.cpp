// Painting on Qt: the bracket of one paint, icons drawn into it.
#include "platform/qt/paint.h"

CPaintDC::CPaintDC(CWnd* pWnd) : m_hDC(new AfxPaintContext(AfxWidget(pWnd->GetSafeHwnd()))) {}

CPaintDC::~CPaintDC() {
    delete m_hDC;
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON hIcon) {
    if (hIcon == nullptr) {
        return FALSE;
    }
    m_hDC->painter.drawImage(QPoint(x, y), hIcon->image);
    return TRUE;
}

void AfxEraseIconBackground(HDC hDC) {
    if (hDC) {
        hDC->painter.fillRect(hDC->widget->rect(), hDC->widget->palette().window());
    }
}

int GetSystemMetrics(int nIndex) {
    return nIndex == SM_CXICON || nIndex == SM_CYICON ? 32 : 0;
}
