#pragma once

#include <cstdint>
#include <string>

#include "framework/CFrameworkServices.h"

class CComboBox;
class CDialogWindow;

// One transfer between a window's controls and its members, pair by pair in
// the order of the calls, the controls named by id. Towards the members
// (bSaveAndValidate) each control is read into its member; towards the
// controls each member is shown. A number that does not convert, or lies
// outside its range, stops the transfer there: the operator is told, the
// control gets the focus, the later pairs are left alone and Failed()
// answers true. In validate-only mode the controls are read and checked but
// no member is written.
//
// User-interface thread only.
class CDataExchange {
public:
    CDataExchange(CFrameworkServices& services, CDialogWindow& window, bool bSaveAndValidate,
                  bool bValidateOnly = false);

    // An edit's text, or the address control's dotted address.
    void Text(int nId, std::string& strValue);
    // A decimal integer from nMin to nMax.
    void Number(int nId, int32_t& nValue, int32_t nMin, int32_t nMax);
    // Attaches the control to the member on the first exchange; nothing later.
    void Control(int nId, CComboBox& member);
    // Ticked 1, not ticked 0.
    void Check(int nId, int& nValue);

    bool SaveAndValidate() const { return m_bSaveAndValidate; }
    bool Failed() const { return m_bFailed; }

    // The operator's message for a text that is not a number in range.
    static std::string NumberMessage(bool bNumber, int32_t nMin, int32_t nMax);
    // The value of strText as a whole decimal number (spaces around it
    // allowed); false when it is not one or does not fit.
    static bool ParseNumber(const std::string& strText, int64_t& nValue);

private:
    bool Writes() const { return m_bSaveAndValidate && !m_bValidateOnly; }
    void Fail(int nId, const std::string& strMessage);

    CFrameworkServices& m_services;
    CDialogWindow& m_window;
    bool m_bSaveAndValidate;
    bool m_bValidateOnly;
    bool m_bFailed = false;
};
