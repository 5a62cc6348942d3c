// The program's resource table and the lookups into it.
#include "platform/afxres.h"
#include "platform/afxwin.h"

namespace {

const AFX_RESOURCE_TABLE* g_resources = nullptr;

}  // namespace

AFX_RESOURCE_REGISTRATION::AFX_RESOURCE_REGISTRATION(const AFX_RESOURCE_TABLE& table) {
    g_resources = &table;
}

const AFX_RESOURCE_TABLE* AfxGetResourceTable() {
    return g_resources;
}

const DLGTEMPLATE* AfxFindDialogTemplate(int id) {
    for (size_t i = 0; g_resources && i < g_resources->dialogCount; ++i) {
        if (g_resources->dialogs[i].id == id) {
            return &g_resources->dialogs[i];
        }
    }
    return nullptr;
}

const AFX_IMAGE_RESOURCE* AfxFindImage(int id) {
    for (size_t i = 0; g_resources && i < g_resources->imageCount; ++i) {
        if (g_resources->images[i].id == id) {
            return &g_resources->images[i];
        }
    }
    return nullptr;
}

const char* AfxPlatformText(const char* AFX_PLATFORM_TEXTS::*text) {
    const char* found = g_resources ? g_resources->texts.*text : nullptr;
    return found ? found : "";
}

std::string LoadString(UINT nID) {
    for (size_t i = 0; g_resources && i < g_resources->stringCount; ++i) {
        if (g_resources->strings[i].id == int(nID)) {
            return g_resources->strings[i].text;
        }
    }
    return {};
}
