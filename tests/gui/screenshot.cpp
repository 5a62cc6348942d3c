// Renders the main window, filled in as after a successful run, into a PNG.
// Usage: veltrane_screenshot OUTPUT.png [PATH] (on Qt's offscreen platform;
// QT_SCALE_FACTOR scales it). PATH is the file encrypted, a short one if not
// given.
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/encrypt_dlg.h"
#include "app/encrypt_messages.h"
#include "platform/qt/app.h"
#include "platform/qt/dialog.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: veltrane_screenshot OUTPUT.png [PATH]\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    int qtArgc = 1;
    std::unique_ptr<QApplication> app = AfxWinInit(qtArgc, argv);
    bool saved = false;
    const std::string given = argc == 3 ? argv[2] : "";
    CEncryptDlg dlg;
    QTimer::singleShot(0, [&] {
        auto* form = static_cast<AfxDialogWidget*>(AfxFrontWindow());
        CDialog* d = form->dialog();
        const std::string path =
            !given.empty() ? given : "/home/karsholm/付款/20261208-批量付款.txt";
        d->GetDlgItem(IDC_FILE_PATH)->SetWindowText(path);
        d->GetDlgItem(IDC_PASSWORD)->SetWindowText("123456");
        d->GetDlgItem(IDC_CONFIRM)->SetWindowText("123456");
        d->GetDlgItem(IDC_STATUS)->SetWindowText(SuccessMessage(ContainerPathFor(path)));
        d->GetDlgItem(IDC_ENCRYPT)->SetFocus();
        saved = form->grab().save(output, "PNG");
        d->EndDialog(IDCANCEL);
    });
    dlg.DoModal();
    if (!saved) {
        std::fprintf(stderr, "veltrane_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
