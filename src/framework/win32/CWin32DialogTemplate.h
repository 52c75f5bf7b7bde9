#pragma once

#include <cstdint>
#include <vector>

struct DialogTemplate;

// A dialog template in memory in the extended form (DLGTEMPLATEEX and its
// DLGITEMTEMPLATEEX records) that CreateDialogIndirectParamW and
// DialogBoxIndirectParamW take, built from the program's DialogTemplate:
// the dialog's and each control's styles pass through as they stand, every
// control gets WS_CHILD | WS_VISIBLE, controls go in by their class names in
// tab order, an icon static by its icon's resource ordinal. Texts are UTF-8
// in and UTF-16 in the template. Any thread.
class CWin32DialogTemplate {
public:
    explicit CWin32DialogTemplate(const DialogTemplate& dialogTemplate);

    // The template, DWORD aligned.
    const void* Data() const { return m_words.data(); }
    size_t Size() const { return m_words.size() * sizeof(uint16_t); }

private:
    void Word(uint16_t nValue) { m_words.push_back(nValue); }
    void DoubleWord(uint32_t nValue);
    void Text(const char* pszUtf8);
    void AlignToDoubleWord();

    std::vector<uint16_t> m_words;
};
