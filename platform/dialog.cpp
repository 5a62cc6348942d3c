// CDialog: what every toolkit side shares.
#include "platform/afxwin.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

BOOL CDialog::OnInitDialog() {
    return TRUE;
}

void CDialog::OnOK() {
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

BOOL CDialog::FocusFirstEmptyEdit() {
    const DLGTEMPLATE* tmpl = AfxFindDialogTemplate(int(m_nIDTemplate));
    for (size_t i = 0; tmpl && i < tmpl->itemCount; ++i) {
        const DLGITEMTEMPLATE& item = tmpl->items[i];
        CWnd* control = GetDlgItem(item.id);
        std::string text;
        if (control && item.controlClass == ControlClass::Edit && (item.style & WS_TABSTOP)) {
            control->GetWindowText(text);
            if (text.empty()) {
                control->SetFocus();
                return TRUE;
            }
        }
    }
    return FALSE;
}
