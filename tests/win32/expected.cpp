#include "expected.h"

#include "app/encrypt_dlg.h"
#include "app/encrypt_messages.h"
#include "app/resource.h"
#include "platform/afxdlgs.h"
#include "platform/afxwin.h"

ExpectedTexts LoadExpectedTexts() {
    ExpectedTexts t;
    t.mainCaption = AfxFindDialogTemplate(IDD_ENCRYPT_DIALOG)->caption;
    t.aboutCaption = AfxFindDialogTemplate(IDD_ABOUTBOX)->caption;
    t.aboutItem = LoadString(IDS_ABOUTBOX);
    t.helpTitle = AfxPlatformText(&AFX_PLATFORM_TEXTS::helpTitle);
    t.helpText = AfxPlatformText(&AFX_PLATFORM_TEXTS::helpText);
    t.version = AfxPlatformText(&AFX_PLATFORM_TEXTS::version);
    t.noPath = kMsgNoPath;
    t.noPassword = kMsgNoPassword;
    t.noConfirm = kMsgNoConfirm;
    t.passwordLength = kMsgPasswordLength;
    t.confirmLength = kMsgConfirmLength;
    t.mismatch = kMsgMismatch;
    t.notDigits = kMsgNotDigits;
    t.inputMissing = kMsgInputMissing;
    t.cannotCreate = kMsgCannotCreate;
    return t;
}

std::string ExpectedContainerPath(const std::string& typedPath) {
    return ContainerPathFor(TrimWhiteSpace(typedPath));
}

std::string ExpectedSuccess(const std::string& typedPath) {
    return SuccessMessage(ExpectedContainerPath(typedPath));
}

std::string ExpectedFirstFilterLabel() {
    const auto pairs = AfxParseFilter(kFileFilter);
    return pairs.empty() ? std::string() : pairs.front().first;
}

std::pair<int, int> ExpectedIconOrigin(int clientWidth, int clientHeight, int cxIcon, int cyIcon) {
    const CPoint at = IconOrigin(CRect{0, 0, clientWidth, clientHeight}, cxIcon, cyIcon);
    return {at.x, at.y};
}

ExpectedRect ExpectedUnitsOf(int id) {
    const DLGTEMPLATE* tmpl = AfxFindDialogTemplate(IDD_ENCRYPT_DIALOG);
    for (size_t i = 0; i < tmpl->itemCount; ++i) {
        const DLGITEMTEMPLATE& item = tmpl->items[i];
        if (item.id == id) {
            return {item.x, item.y, item.cx, item.cy};
        }
    }
    return {0, 0, 0, 0};
}

std::vector<ExpectedRect> ExpectedPictureUnits() {
    std::vector<ExpectedRect> rects;
    const DLGTEMPLATE* tmpl = AfxFindDialogTemplate(IDD_ENCRYPT_DIALOG);
    for (size_t i = 0; i < tmpl->itemCount; ++i) {
        const DLGITEMTEMPLATE& item = tmpl->items[i];
        if (item.controlClass == ControlClass::Static && (item.style & SS_TYPEMASK) == SS_BITMAP) {
            rects.push_back({item.x, item.y, item.cx, item.cy});
        }
    }
    return rects;
}
