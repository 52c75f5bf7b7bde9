#pragma once

#include <QDialog>
#include <QFont>

#include <cstdint>
#include <map>
#include <string>

#include "app/CFrameworkServices.h"

class CDataExchange;

// The dialog frame under the program's windows: controls placed by dialog
// units and found by id, data exchange in both directions, captions and
// enabling by id, messages posted to the window and handled on its thread,
// and the modal run. A derived dialog builds its controls in CreateControls
// and prepares them in OnInitDialog.
//
// User-interface thread only, except that anyone may post to the window
// (CFrameworkServices::PostMessage).
class CDialogFrame : public QDialog {
    Q_OBJECT

public:
    // nWidthDu x nHeightDu is the client size in dialog units; nPointSize the
    // dialog font's size.
    CDialogFrame(CFrameworkServices& services, int nWidthDu, int nHeightDu, int nPointSize, QWidget* pParent);

    // Builds the window and its controls and runs OnInitDialog, once.
    void Create();
    // Create, then the modal run; answers how the dialog ended.
    int DoModal();

    // Control data exchange: true towards the members (reads the controls),
    // false towards the controls. False when a value was refused.
    bool UpdateData(bool bSaveAndValidate = true);
    // Reads and checks the controls without writing any member.
    bool ValidateData();

    QWidget* GetDlgItem(int nId) const;
    void SetDlgItemText(int nId, const std::string& strText);
    void EnableDlgItem(int nId, bool bEnable);

    // Dialog units to pixels, with the dialog font's base units.
    QRect MapDialogRect(int nX, int nY, int nWidth, int nHeight) const;

    CFrameworkServices& Services() const { return m_services; }

protected:
    virtual void CreateControls() = 0;
    // Answers true to put the focus on the first tab stop.
    virtual bool OnInitDialog();
    virtual void DoDataExchange(CDataExchange& dx);
    // A message posted to the window.
    virtual void OnMessage(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag);

    // Places pControl at the position in dialog units and files it under nId
    // (0: a control without id). Tab order follows the order of the calls.
    template <class T>
    T* AddControl(int nId, T* pControl, int nX, int nY, int nWidth, int nHeight)
    {
        PlaceControl(nId, pControl, nX, nY, nWidth, nHeight);
        return pControl;
    }

    bool event(QEvent* pEvent) override;

private:
    void PlaceControl(int nId, QWidget* pControl, int nX, int nY, int nWidth, int nHeight);

    CFrameworkServices& m_services;
    int m_nWidthDu;
    int m_nHeightDu;
    int m_nBaseX = 0;
    int m_nBaseY = 0;
    bool m_bCreated = false;
    std::map<int, QWidget*> m_controls;
    QWidget* m_pFirstTabStop = nullptr;
    QWidget* m_pLastTabStop = nullptr;
};
