#include "framework/qt/CIpAddressCtrl.h"

#include <QValidator>

namespace {

// Digits and dots only, at most four numbers, each of up to three digits and
// at most 255. A complete address is acceptable, anything shorter is still
// being typed.
class CDottedQuadValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& strInput, int&) const override
    {
        const QStringList numbers = strInput.split(QLatin1Char('.'));
        if (numbers.size() > 4)
            return Invalid;
        bool bComplete = numbers.size() == 4;
        for (const QString& strNumber : numbers) {
            if (strNumber.size() > 3)
                return Invalid;
            for (const QChar c : strNumber) {
                if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                    return Invalid;
            }
            if (strNumber.isEmpty())
                bComplete = false;
            else if (strNumber.toInt() > 255)
                return Invalid;
        }
        return bComplete ? Acceptable : Intermediate;
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
    const QStringList numbers = QString::fromStdString(strText).split(QLatin1Char('.'));
    std::string strAddress;
    for (int i = 0; i < 4; ++i) {
        int nValue = 0;
        if (i < numbers.size()) {
            bool bOk = false;
            nValue = numbers[i].trimmed().toInt(&bOk);
            if (!bOk || nValue < 0 || nValue > 255)
                nValue = 0;
        }
        if (i > 0)
            strAddress += '.';
        strAddress += std::to_string(nValue);
    }
    return strAddress;
}
