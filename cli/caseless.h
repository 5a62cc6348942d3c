// File names as a file system that ignores letter case or Unicode
// normalisation takes them (exFAT, vfat, NTFS, SMB shares, ext4 with
// casefolding, macOS's): two names are one file there when their keys are
// equal. The key ignores all that any of them ignores, so that names told
// apart by it are apart on all of them.
#ifndef VELTRANE_CLI_CASELESS_H
#define VELTRANE_CLI_CASELESS_H

#include <string>

// The canonical caseless form of name in UTF-8, NFD(casefold(NFD(name))),
// in UTF-8; a name that is not UTF-8 is its own key, compared by its bytes.
std::string CaselessKey(const std::string& name);

#endif
