#pragma once

#include <cstdint>
#include <string>

#include "app/CFrameworkServices.h"

class CIpAddressCtrl;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

// One transfer between a window's controls and its members, pair by pair in
// the order of the calls. Towards the members (bSaveAndValidate) each control
// is read into its member; towards the controls each member is shown. A
// number that does not convert, or lies outside its range, stops the transfer
// there: the operator is told, the control gets the focus, the later pairs
// are left alone and Failed() answers true. In validate-only mode the
// controls are read and checked but no member is written.
//
// User-interface thread only.
class CDataExchange {
public:
    CDataExchange(CFrameworkServices& services, bool bSaveAndValidate, bool bValidateOnly = false);

    void Text(QPlainTextEdit* pControl, std::string& strValue);
    void Text(CIpAddressCtrl* pControl, std::string& strValue);
    // A decimal integer from nMin to nMax.
    void Number(QLineEdit* pControl, int32_t& nValue, int32_t nMin, int32_t nMax);
    // Attaches the control to the member on the first exchange; nothing later.
    void Control(QComboBox* pControl, QComboBox*& pMember);
    // Ticked 1, not ticked 0.
    void Check(QCheckBox* pControl, int& nValue);

    bool SaveAndValidate() const { return m_bSaveAndValidate; }
    bool Failed() const { return m_bFailed; }

    // The operator's message for a text that is not a number in range.
    static std::string NumberMessage(bool bNumber, int32_t nMin, int32_t nMax);
    // The value of strText as a whole decimal number (spaces around it
    // allowed); false when it is not one or does not fit.
    static bool ParseNumber(const std::string& strText, int64_t& nValue);

private:
    bool Writes() const { return m_bSaveAndValidate && !m_bValidateOnly; }
    void Fail(QWidget* pControl, const std::string& strMessage);

    CFrameworkServices& m_services;
    bool m_bSaveAndValidate;
    bool m_bValidateOnly;
    bool m_bFailed = false;
};
