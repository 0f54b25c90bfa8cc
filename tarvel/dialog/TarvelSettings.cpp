#include "tarvel/dialog/TarvelSettings.h"

#include <QSettings>
#include <QStandardPaths>

namespace
{
constexpr char FILE_NAME[] = "Tarvel.ini";
constexpr char ADDRESS_KEY[] = "Settings/IPAddress";
} // namespace

QString SettingsFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QLatin1String(FILE_NAME);
}

std::uint32_t ReadAddressSetting()
{
    const QSettings settings(SettingsFilePath(), QSettings::IniFormat);
    const QVariant value = settings.value(QLatin1String(ADDRESS_KEY));
    if (!value.isValid())
        return 0;
    return static_cast<std::uint32_t>(ParseProfileInt(value.toString()));
}

void WriteAddressSetting(std::uint32_t dwAddress)
{
    QSettings settings(SettingsFilePath(), QSettings::IniFormat);
    settings.setValue(QLatin1String(ADDRESS_KEY),
                      QString::number(static_cast<std::int32_t>(dwAddress)));
}

std::int32_t ParseProfileInt(const QString& strValue)
{
    const QString strText = strValue.trimmed();
    qsizetype i = 0;
    const bool bNegative = i < strText.size() && strText[i] == QLatin1Char('-');
    if (bNegative || (i < strText.size() && strText[i] == QLatin1Char('+')))
        ++i;
    // Wraps like the 32-bit integer the value is, so -2147483648 and 4294967295 both fit.
    std::uint32_t dwValue = 0;
    for (; i < strText.size() && strText[i].isDigit(); ++i)
        dwValue = dwValue * 10 + static_cast<std::uint32_t>(strText[i].digitValue());
    return static_cast<std::int32_t>(bNegative ? 0u - dwValue : dwValue);
}
