#include "framework/qt/CIpAddressCtrl.h"

#include <QValidator>

#include "text/CDottedQuad.h"

namespace {

// A complete address is acceptable, anything shorter that can still become
// one is being typed.
class CDottedQuadValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& strInput, int&) const override
    {
        const std::string strText = strInput.toStdString();
        if (CDottedQuad::IsComplete(strText))
            return Acceptable;
        return CDottedQuad::IsPrefix(strText) ? Intermediate : Invalid;
    }
};

}  // namespace

CIpAddressCtrl::CIpAddressCtrl(QWidget* pParent) : QLineEdit(pParent)
{
    setValidator(new CDottedQuadValidator(this));
}

std::string CIpAddressCtrl::Address() const
{
    return Normalize(text().toStdString());
}

void CIpAddressCtrl::SetAddress(const std::string& strAddress)
{
    const QString strText = QString::fromStdString(strAddress);
    if (text() != strText)
        setText(strText);
}

std::string CIpAddressCtrl::Normalize(const std::string& strText)
{
    return CDottedQuad::Normalized(strText);
}
