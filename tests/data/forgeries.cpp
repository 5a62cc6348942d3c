// How each forgery of the catalogue is made: from chunks that the codec's
// own chunk function seals, cut, mixed and altered as a forger would, and
// (but for the damaged ones) behind a digest header the tests' MD5 renews.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "codec/enn.h"
#include "test_data.h"

namespace {

const char kPassword[] = "135790";
const char kOtherKey[] = "another build's key";

// Seals under one key what a forger puts together.
class Sealer {
  public:
    explicit Sealer(const char* key) : key_(key) {}

    // The chunk the encoder writes for plain.
    Bytes Chunk(const Bytes& plain) const {
        Bytes sealed(16 + plain.size());
        int length = 0;
        if (EnnEncryptChunk(key_.c_str(), plain.data(), static_cast<int>(plain.size()),
                            sealed.data(), &length) != ENN_OK) {
            throw std::runtime_error("EnnEncryptChunk refused the key");
        }
        sealed.resize(static_cast<size_t>(length));
        return sealed;
    }
    Bytes Chunk(const std::string& plain) const { return Chunk(Bytes(plain.begin(), plain.end())); }

    // The Blocks of text (zero-filled to a multiple of 8) sealed as they
    // are, with no length Block of the encoder's before them: a chunk whose
    // length Block says what text begins with.
    Bytes Blocks(std::string text) const {
        text.resize((text.size() + 7) / 8 * 8, '\0');
        const Bytes chunk = Chunk(text);
        return Bytes(chunk.begin() + ENN_BLOCK_SIZE, chunk.end());
    }

    Bytes PasswordChunk() const { return Chunk(std::string(kPassword) + ENN_PASSWORD_FILLER); }

  private:
    std::string key_;
};

std::string BuiltInKeyText() {
    char key[57];
    if (EnnBuiltInKey(key) != ENN_OK) {
        throw std::runtime_error("no built-in key");
    }
    return key;
}

// Lines of a payment batch, cut to size bytes.
std::string BatchText(size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text += "20261208,62220212345678" + std::to_string(10 + line % 90) + ",1520.00,CNY\n";
    }
    text.resize(size);
    return text;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

Bytes Cut(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

// The body (all but the header) of the container the encoder writes, under
// sealer's key, for a batch of one whole chunk and a short last one.
Bytes GoodBody(const Sealer& s) {
    return Concat({s.PasswordChunk(), s.Chunk(BatchText(ENN_CHUNK_PLAIN)), s.Chunk(BatchText(21))});
}

}  // namespace

std::vector<MadeForgery> MakeForgeries() {
    const std::string builtIn = BuiltInKeyText();
    const Sealer s(builtIn.c_str());
    const Bytes password = s.PasswordChunk();
    const Bytes whole = s.Chunk(BatchText(ENN_CHUNK_PLAIN));
    const Bytes good = WithDigestHeader(GoodBody(s));
    const std::string ok = kPassword;
    const std::string foreign = EnnFaultName(ENN_FAULT_FOREIGN_KEY);
    const std::string tooShort = EnnFaultName(ENN_FAULT_TOO_SHORT);
    const std::string noContainer = EnnFaultName(ENN_FAULT_NOT_CONTAINER);

    Bytes changed = good;
    changed[100] ^= 0x01;
    Bytes header = good;
    header[0] = header[0] == '0' ? '1' : '0';
    Bytes upper = good;
    std::transform(upper.begin(), upper.begin() + ENN_HEADER_SIZE, upper.begin(),
                   [](unsigned char c) { return static_cast<unsigned char>(std::toupper(c)); });
    if (upper == good) {
        throw std::runtime_error("a header of digits alone has no uppercase");
    }
    const std::string text = BatchText(200);

    std::vector<MadeForgery> made;
    const auto add = [&](const char* file, int fault, int result, const std::string& pw,
                         const Bytes& bytes, const char* key = "built-in") {
        Forgery f;
        f.file = file;
        f.fault = fault;
        f.result = result;
        f.password = pw;
        f.key = key;
        made.push_back({f, bytes});
    };
    // Damage: the header does not match what follows it.
    add("digest-content-changed.enn", ENN_FAULT_DIGEST, ENN_ERR_DIGEST, ok, changed);
    add("digest-header-changed.enn", ENN_FAULT_DIGEST, ENN_ERR_DIGEST, ok, header);
    // Not a container at all: no digest header to begin with.
    add("not-a-container-empty.enn", ENN_FAULT_NOT_CONTAINER, ENN_ERR_DIGEST, noContainer, {});
    add("not-a-container-shorter-than-a-header.enn", ENN_FAULT_NOT_CONTAINER, ENN_ERR_DIGEST,
        noContainer, Cut(good, 0, ENN_HEADER_SIZE - 1));
    add("not-a-container-uppercase-header.enn", ENN_FAULT_NOT_CONTAINER, ENN_ERR_DIGEST, ok, upper);
    add("not-a-container-plain-text.enn", ENN_FAULT_NOT_CONTAINER, ENN_ERR_DIGEST, noContainer,
        Bytes(text.begin(), text.end()));
    // A digest header, but no whole password chunk behind it.
    add("too-short-length-block-only.enn", ENN_FAULT_TOO_SHORT, ENN_ERR_GENERIC, tooShort,
        WithDigestHeader(Cut(password, 0, ENN_BLOCK_SIZE)));
    add("too-short-password-chunk-cut.enn", ENN_FAULT_TOO_SHORT, ENN_ERR_GENERIC, tooShort,
        WithDigestHeader(Cut(password, 0, 15)));
    // A password chunk the built-in key does not open as the encoder
    // writes it: another key's container, or one made to look so.
    add("another-key-whole-container.enn", ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC, foreign,
        WithDigestHeader(GoodBody(Sealer(kOtherKey))), kOtherKey);
    add("another-key-password-letters.enn", ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC, foreign,
        WithDigestHeader(Concat({s.Blocks("00000008abc456**"), whole})));
    add("another-key-password-letter-inside.enn", ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC, foreign,
        WithDigestHeader(s.Blocks("00000008123a56**")));
    add("another-key-password-filler.enn", ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC, foreign,
        WithDigestHeader(Concat({s.Blocks("00000008123456--"), whole})));
    add("another-key-password-filler-half.enn", ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC, foreign,
        WithDigestHeader(s.Blocks("00000008123456*x")));
    add("another-key-password-eight-digits.enn", ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC, foreign,
        WithDigestHeader(s.Blocks("0000000800000000")));
    add("another-key-password-length-nine.enn", ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC, foreign,
        WithDigestHeader(Concat({s.Blocks("00000009123456**"), whole})));
    add("another-key-password-length-zero.enn", ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC, foreign,
        WithDigestHeader(Concat({s.Blocks("00000000"), Bytes(ENN_BLOCK_SIZE, 0)})));
    add("another-key-password-length-blank.enn", ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC, foreign,
        WithDigestHeader(s.Blocks(" 0000008123456**")));
    // Intact under a renewed header, but laid out as no encoder writes.
    add("layout-length-not-digits.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Concat({password, s.Blocks(" 0000003abc")})));
    add("layout-length-negative.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Concat({password, whole, s.Blocks("-0000001")})));
    add("layout-length-zero.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Concat({password, s.Blocks("00000000")})));
    add("layout-short-chunk-in-the-middle.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Concat({password, s.Chunk(BatchText(3992)), s.Chunk(BatchText(1))})));
    add("layout-whole-chunk-announcing-less.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Concat({password, s.Blocks("00003000" + BatchText(4000))})));
    add("layout-last-chunk-announcing-more.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Concat({password, whole, s.Blocks("00000100" + std::string(16, '\0'))})));
    add("layout-length-beyond-the-file.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Concat({password, whole, s.Blocks("9999999912345678")})));
    add("layout-last-block-cut.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Cut(good, ENN_HEADER_SIZE, good.size() - 1)));
    add("layout-trailing-after-a-whole-chunk.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Concat({password, whole, s.Blocks("trailing")})));
    add("layout-trailing-after-the-last-chunk.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Concat({Cut(good, ENN_HEADER_SIZE, good.size()), Bytes(8, 0)})));
    add("layout-fill-not-zero.enn", ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, ok,
        WithDigestHeader(Concat({password, s.Blocks("00000003abcxxxxx")})));
    return made;
}

std::string ManifestText(const std::vector<MadeForgery>& made) {
    std::ostringstream text;
    text << "# Forged and damaged containers, one a line: the file; the fault that\n"
            "# decrypting or verifying it gives under the built-in key, and their\n"
            "# result; what reading its password gives (its six digits, or a fault);\n"
            "# the key it was made under (\"built-in\", or the key's own text).\n"
            "# Written with the files by make_forgeries (tests/data/forgeries.cpp).\n";
    size_t width = 0;
    for (const MadeForgery& m : made) {
        width = std::max(width, m.forgery.file.size());
    }
    for (const MadeForgery& m : made) {
        const Forgery& f = m.forgery;
        text << std::left << std::setw(static_cast<int>(width + 1)) << f.file << std::setw(24)
             << EnnFaultName(f.fault) << std::setw(16) << ResultName(f.result) << std::setw(24)
             << f.password << f.key << '\n';
    }
    return text.str();
}
