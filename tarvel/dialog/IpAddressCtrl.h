#pragma once
// An IPv4 address entry of four fields, 0 to 255 each, shown as one sunken edit with dots
// between the fields. It gives and takes the address as a 32-bit number with the first field
// in the most significant byte, and as dotted text.
#include <QFrame>

#include <array>
#include <cstdint>

class QLineEdit;

class CIPAddressCtrl : public QFrame
{
    Q_OBJECT
public:
    explicit CIPAddressCtrl(QWidget* pParent = nullptr);

    void SetAddress(std::uint32_t dwAddress);
    // The address, blank fields counting as 0; returns how many fields are not blank.
    int GetAddress(std::uint32_t& dwAddress) const;
    void ClearAddress();
    bool IsBlank() const;
    // Dotted form, such as 192.168.1.10; blank fields show as 0.
    QString GetWindowText() const;
    QLineEdit* Field(int nField) const { return m_edFields[nField]; }

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void OnFieldEdited(int nField);

    std::array<QLineEdit*, 4> m_edFields{};
};
