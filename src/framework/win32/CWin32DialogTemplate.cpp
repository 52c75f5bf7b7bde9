#include "framework/win32/CWin32DialogTemplate.h"

#include "framework/win32/Win32Api.h"

#include "framework/DialogTemplate.h"
#include "text/CWideText.h"

namespace {

const wchar_t* ClassName(ControlClass nClass)
{
    switch (nClass) {
    case ControlClass::kButton:
        return L"Button";
    case ControlClass::kEdit:
        return L"Edit";
    case ControlClass::kStatic:
        return L"Static";
    case ControlClass::kComboBox:
        return L"ComboBox";
    case ControlClass::kIpAddress:
        return L"SysIPAddress32";
    }
    return L"Static";
}

}  // namespace

CWin32DialogTemplate::CWin32DialogTemplate(const DialogTemplate& dialogTemplate)
{
    using DialogStyle::kDsSetFont;
    // DLGTEMPLATEEX: version 1, the extended signature, no help id.
    Word(1);
    Word(0xFFFF);
    DoubleWord(0);
    DoubleWord(dialogTemplate.nExStyle);
    DoubleWord(dialogTemplate.nStyle);
    Word(static_cast<uint16_t>(dialogTemplate.nControls));
    // Placed when it is shown.
    Word(0);
    Word(0);
    Word(static_cast<uint16_t>(dialogTemplate.cx));
    Word(static_cast<uint16_t>(dialogTemplate.cy));
    // No menu, the standard dialog class.
    Word(0);
    Word(0);
    Text(dialogTemplate.pszCaption);
    if ((dialogTemplate.nStyle & kDsSetFont) != 0) {
        Word(static_cast<uint16_t>(dialogTemplate.nPointSize));
        Word(FW_NORMAL);
        // Not italic, DEFAULT_CHARSET.
        Word(DEFAULT_CHARSET << 8);
        Text(dialogTemplate.pszFont);
    }

    for (size_t i = 0; i < dialogTemplate.nControls; ++i) {
        const ControlTemplate& control = dialogTemplate.pControls[i];
        AlignToDoubleWord();
        DoubleWord(0);
        DoubleWord(0);
        DoubleWord(WS_CHILD | WS_VISIBLE | control.nStyle);
        Word(static_cast<uint16_t>(control.x));
        Word(static_cast<uint16_t>(control.y));
        Word(static_cast<uint16_t>(control.cx));
        Word(static_cast<uint16_t>(control.cy));
        DoubleWord(static_cast<uint32_t>(control.nId));
        for (const wchar_t* p = ClassName(control.nClass); *p != L'\0'; ++p)
            Word(static_cast<uint16_t>(*p));
        Word(0);
        const bool bIcon = control.nClass == ControlClass::kStatic &&
                           (control.nStyle & DialogStyle::kSsTypeMask) == DialogStyle::kSsIcon;
        if (bIcon && control.nImageId != 0) {
            Word(0xFFFF);
            Word(static_cast<uint16_t>(control.nImageId));
        } else {
            Text(control.pszCaption);
        }
        // No creation data.
        Word(0);
    }
}

void CWin32DialogTemplate::DoubleWord(uint32_t nValue)
{
    Word(static_cast<uint16_t>(nValue & 0xFFFF));
    Word(static_cast<uint16_t>(nValue >> 16));
}

void CWin32DialogTemplate::Text(const char* pszUtf8)
{
    if (pszUtf8 != nullptr) {
        for (const wchar_t c : CWideText::Widen(pszUtf8))
            Word(static_cast<uint16_t>(c));
    }
    Word(0);
}

void CWin32DialogTemplate::AlignToDoubleWord()
{
    if (m_words.size() % 2 != 0)
        Word(0);
}
