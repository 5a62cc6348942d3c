// A dialog template of the resource table as Windows reads one in memory.
#ifndef VELTRANE_PLATFORM_WIN32_DIALOG_TEMPLATE_H
#define VELTRANE_PLATFORM_WIN32_DIALOG_TEMPLATE_H

#include <cstdint>
#include <vector>

#include "platform/afxres.h"

// The template as a DLGTEMPLATEEX with its items, as the resource compiler
// would write it: every control a visible child, the font style set when the
// template names a font, a picture static naming its image by resource id.
// The words start DWORD-aligned as Windows requires.
std::vector<std::uint16_t> BuildDialogTemplateEx(const DLGTEMPLATE& tmpl);

#endif
