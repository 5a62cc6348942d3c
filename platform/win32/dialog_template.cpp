#include "platform/win32/dialog_template.h"

#include <string>

#include "platform/win32/native.h"

namespace {

// The predefined window classes, by their atoms.
constexpr std::uint16_t kButtonAtom = 0x0080;
constexpr std::uint16_t kEditAtom = 0x0081;
constexpr std::uint16_t kStaticAtom = 0x0082;
constexpr std::uint16_t kFwNormal = 400;
constexpr std::uint8_t kGb2312Charset = 134;  // the forms are Chinese (PRC)
constexpr DWORD kSsRealSizeControl = 0x40;

class Writer {
  public:
    void Word(std::uint16_t w) { words_.push_back(w); }
    void Dword(std::uint32_t d) {
        Word(std::uint16_t(d & 0xFFFF));
        Word(std::uint16_t(d >> 16));
    }
    void Short(int s) { Word(std::uint16_t(std::int16_t(s))); }
    void Text(const char* utf8) {
        for (char16_t c : native::Utf16(utf8 ? utf8 : "")) {
            Word(std::uint16_t(c));
        }
        Word(0);
    }
    void AlignDword() {
        if (words_.size() % 2) {
            Word(0);
        }
    }
    std::vector<std::uint16_t> Take() { return std::move(words_); }

  private:
    std::vector<std::uint16_t> words_;
};

std::uint16_t ClassAtom(ControlClass c) {
    switch (c) {
        case ControlClass::Button:
            return kButtonAtom;
        case ControlClass::Edit:
            return kEditAtom;
        case ControlClass::Static:
            break;
    }
    return kStaticAtom;
}

}  // namespace

std::vector<std::uint16_t> BuildDialogTemplateEx(const DLGTEMPLATE& tmpl,
                                                 const std::string& fontFace) {
    const bool hasFont = tmpl.fontFace != nullptr && tmpl.pointSize > 0;
    Writer w;
    w.Word(1);       // dlgVer
    w.Word(0xFFFF);  // signature: the extended form
    w.Dword(0);      // helpID
    w.Dword(tmpl.exStyle);
    w.Dword(tmpl.style | (hasFont ? DS_SETFONT : 0));
    w.Word(std::uint16_t(tmpl.itemCount));
    w.Short(tmpl.x);
    w.Short(tmpl.y);
    w.Short(tmpl.cx);
    w.Short(tmpl.cy);
    w.Word(0);  // no menu
    w.Word(0);  // the dialog class
    w.Text(tmpl.caption);
    if (hasFont) {
        w.Word(std::uint16_t(tmpl.pointSize));
        w.Word(kFwNormal);
        w.Word(std::uint16_t(kGb2312Charset << 8));  // italic 0, then the character set
        w.Text(fontFace.c_str());
    }
    for (std::size_t i = 0; i < tmpl.itemCount; ++i) {
        const DLGITEMTEMPLATE& item = tmpl.items[i];
        w.AlignDword();
        w.Dword(0);  // helpID
        w.Dword(0);  // exStyle
        const bool bitmap =
            item.controlClass == ControlClass::Static && (item.style & SS_TYPEMASK) == SS_BITMAP;
        w.Dword(item.style | WS_CHILD | WS_VISIBLE | (bitmap ? kSsRealSizeControl : 0));
        w.Short(item.x);
        w.Short(item.y);
        w.Short(item.cx);
        w.Short(item.cy);
        w.Dword(std::uint32_t(item.id));
        w.Word(0xFFFF);
        w.Word(ClassAtom(item.controlClass));
        const DWORD type = item.style & SS_TYPEMASK;
        if (item.controlClass == ControlClass::Static && (type == SS_BITMAP || type == SS_ICON)) {
            w.Word(0xFFFF);  // the image, by its resource id
            w.Word(std::uint16_t(item.imageId));
        } else {
            w.Text(item.text);
        }
        w.Word(0);  // no creation data
    }
    return w.Take();
}
