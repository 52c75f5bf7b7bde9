#pragma once

#include <QLineEdit>

#include <string>

// A dotted-quad IPv4 address field: only digits and dots can be typed, at most
// four numbers of 0 to 255. Its text, as the data exchange reads it, is always
// a whole address: missing or blank numbers count as 0.
class CIpAddressCtrl : public QLineEdit {
    Q_OBJECT

public:
    explicit CIpAddressCtrl(QWidget* pParent = nullptr);

    // The four numbers as "a.b.c.d".
    std::string Address() const;
    void SetAddress(const std::string& strAddress);

    // strText as a whole address, blank numbers as 0.
    static std::string Normalize(const std::string& strText);
};
