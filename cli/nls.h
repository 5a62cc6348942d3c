// Translation of enn's own texts. The window's texts and the Encrypt
// command's messages are the product's Chinese in every locale and are never
// looked up here.
#ifndef VELTRANE_CLI_NLS_H
#define VELTRANE_CLI_NLS_H

#ifdef VELTRANE_NLS
#include <libintl.h>
#define _(text) gettext(text)
#else
#define _(text) (text)
#endif
// Marks a text for the catalogue where it is defined; _() looks it up where shown.
#define N_(text) text

// Takes the locale from the environment and finds enn's catalogue, beside the
// program (../share/locale) or where it was installed.
void StartTranslations();

#endif
