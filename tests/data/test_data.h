// The tests' checked-in containers: the catalogue of forgeries in
// forgeries/, each named in forgeries/MANIFEST with what every check of it
// must give, and the known answer in known-answer/ (a plain file, its
// password and the container the encoder wrote of them).
//
// The library links no codec: each test brings its own, the static one with
// its internals or the shared libenn.
#ifndef VELTRANE_TESTS_DATA_TEST_DATA_H
#define VELTRANE_TESTS_DATA_TEST_DATA_H

#include <string>
#include <vector>

#include "test_util.h"

// The path of name (such as "forgeries/MANIFEST") in the tests' data folder.
std::string TestDataPath(const std::string& name);

// One forgery of the catalogue, as its manifest line reads.
struct Forgery {
    std::string file;      // its name in forgeries/
    int fault = 0;         // the ENN_FAULT_ that decrypting or verifying it gives
    int result = 0;        // ... and their result, an ENN_ERR_
    std::string password;  // what reading its password gives: six digits, or an ENN_FAULT_
    std::string key;       // the key it was made under: "built-in", or the key's own text
    bool BuiltInKey() const { return key == "built-in"; }
};

// The forgeries as forgeries/MANIFEST lists them, in its order.
std::vector<Forgery> Forgeries();

// The forgery's bytes as checked in.
Bytes ForgeryBytes(const Forgery& forgery);

// The ENN_FAULT_ or ENN_ERR_ value that name spells, and the other way
// round; a name or value they do not know throws.
int FaultNamed(const std::string& name);
int ResultNamed(const std::string& name);
std::string ResultName(int result);

// The known answer: known-answer/batch.txt, its password and the container.
struct KnownAnswer {
    Bytes plain;
    std::string password;
    Bytes container;
};
KnownAnswer ReadKnownAnswer();

// How the catalogue is made: every forgery with its bytes, and the manifest
// that lists them, written from these by make_forgeries and compared with
// the checked-in files by the tests.
struct MadeForgery {
    Forgery forgery;
    Bytes bytes;
};
std::vector<MadeForgery> MakeForgeries();
std::string ManifestText(const std::vector<MadeForgery>& made);

#endif
