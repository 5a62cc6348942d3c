// A dialog template of the resource table as Windows reads one in memory.
#ifndef VELTRANE_PLATFORM_WIN32_DIALOG_TEMPLATE_H
#define VELTRANE_PLATFORM_WIN32_DIALOG_TEMPLATE_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform/afxres.h"

// The template as a DLGTEMPLATEEX with its items, as the resource compiler
// would write it: every control a visible child, the font style set when the
// template names a font, a picture static naming its image by resource id.
// The font's face is fontFace, which stands in for the template's own. A
// bitmap static keeps its rectangle and has its bitmap stretched to it
// (SS_REALSIZECONTROL), so that pictures scale with the form's font at any
// dots per inch. The words start DWORD-aligned as Windows requires.
std::vector<std::uint16_t> BuildDialogTemplateEx(const DLGTEMPLATE& tmpl,
                                                 const std::string& fontFace);

#endif
