#include "test_data.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "codec/enn.h"

std::string TestDataPath(const std::string& name) {
#ifdef _WIN32
    // The build copies the folder beside each test program that reads it.
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path folder =
        std::filesystem::path(std::wstring(self, length)).parent_path() / VELTRANE_TEST_DATA;
    return (folder / std::filesystem::u8path(name)).u8string();
#else
    return std::string(VELTRANE_TEST_DATA) + "/" + name;
#endif
}

int FaultNamed(const std::string& name) {
    for (int fault = 0; std::string(EnnFaultName(fault)) != "ENN_FAULT_UNKNOWN"; ++fault) {
        if (name == EnnFaultName(fault)) {
            return fault;
        }
    }
    throw std::invalid_argument("no fault is named " + name);
}

namespace {

#define ENN_RESULT(result) \
    { #result, result }
const struct {
    const char* name;
    int result;
} kResults[] = {ENN_RESULT(ENN_OK), ENN_RESULT(ENN_ERR_GENERIC), ENN_RESULT(ENN_ERR_DIGEST),
                ENN_RESULT(ENN_ERR_OPEN_INPUT), ENN_RESULT(ENN_ERR_CREATE_OUTPUT)};
#undef ENN_RESULT

}  // namespace

int ResultNamed(const std::string& name) {
    for (const auto& r : kResults) {
        if (name == r.name) {
            return r.result;
        }
    }
    throw std::invalid_argument("no result is named " + name);
}

std::string ResultName(int result) {
    for (const auto& r : kResults) {
        if (result == r.result) {
            return r.name;
        }
    }
    throw std::invalid_argument("no result is " + std::to_string(result));
}

std::vector<Forgery> Forgeries() {
    std::ifstream manifest(std::filesystem::u8path(TestDataPath("forgeries/MANIFEST")));
    if (!manifest) {
        throw std::runtime_error("no " + TestDataPath("forgeries/MANIFEST"));
    }
    std::vector<Forgery> forgeries;
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        // file fault result password key, the key being the rest of the line.
        std::istringstream fields(line);
        Forgery f;
        std::string fault, result;
        fields >> f.file >> fault >> result >> f.password >> std::ws;
        std::getline(fields, f.key);
        f.fault = FaultNamed(fault);
        f.result = ResultNamed(result);
        forgeries.push_back(f);
    }
    return forgeries;
}

Bytes ForgeryBytes(const Forgery& forgery) {
    return ReadFile(TestDataPath("forgeries/" + forgery.file));
}

KnownAnswer ReadKnownAnswer() {
    KnownAnswer known;
    known.plain = ReadFile(TestDataPath("known-answer/batch.txt"));
    known.container = ReadFile(TestDataPath("known-answer/batch.txt.enn"));
    std::ifstream password(std::filesystem::u8path(TestDataPath("known-answer/password")));
    std::getline(password, known.password);
    return known;
}
