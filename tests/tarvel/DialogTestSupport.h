#pragma once
// Helpers for driving the real "Kelvard IO" dialog against the simulated bus: trace lines,
// the grid's marks and enabled states as port bytes, clicks on controls by ID, and delivery
// of device-change notices.
//
//     CSimFixture sim;                       // first, so it outlives the dialog
//     auto pBoard = sim.Plug(SimBoardConfig().Id(7));
//     CTarvelDlg dlg;
//     OpenDialog(dlg);
//     ClickBit(dlg, PORT_B, 1);
//     QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 ..."}));
#include "HexText.h"
#include "SimFixture.h"

#include "dialog/ButtonCtrl.h"
#include "dialog/ComboBoxCtrl.h"
#include "dialog/TarvelApp.h"
#include "dialog/TarvelDlg.h"
#include "res/ControlIds.h"

#include "DeviceLink.h"
#include "DeviceWatch.h"

#include <QApplication>
#include <QStringList>
#include <QTest>

#include <initializer_list>
#include <vector>

// One trace line whose bytes are the given ones followed by zeros up to nLength.
inline QString Line(const char* pszPrefix, std::initializer_list<std::uint8_t> bytes,
                    std::size_t nLength)
{
    std::vector<std::uint8_t> all(bytes);
    all.resize(nLength, 0);
    return QString::fromLatin1(pszPrefix) + QLatin1Char(' ') +
           QString::fromStdString(HexText(all.data(), all.size()));
}

// The trace lines since the last call.
inline QStringList TraceOf(CSimFixture& sim)
{
    QStringList lines;
    for (const std::string& strLine : sim.Trace())
        lines << QString::fromStdString(strLine);
    return lines;
}

inline QString Hex(const PortBytes& byPorts)
{
    return QString::fromStdString(HexText(byPorts.data(), byPorts.size()));
}

// Bit b of byte p is 1 when the box of port p, bit b is checked (not indeterminate).
inline QString Marks(const CTarvelDlg& dlg)
{
    PortBytes byPorts{};
    for (int p = PORT_A; p < PORT_COUNT; ++p)
        for (int b = 0; b < 8; ++b)
            if (dlg.BitBox(p, b)->checkState() == Qt::Checked)
                byPorts[p] |= static_cast<std::uint8_t>(1u << b);
    return Hex(byPorts);
}

// Bit b of byte p is 1 when the box of port p, bit b is enabled.
inline QString Enabled(const CTarvelDlg& dlg)
{
    PortBytes byPorts{};
    for (int p = PORT_A; p < PORT_COUNT; ++p)
        for (int b = 0; b < 8; ++b)
            if (dlg.BitBox(p, b)->isEnabled())
                byPorts[p] |= static_cast<std::uint8_t>(1u << b);
    return Hex(byPorts);
}

inline QStringList AnalogCaptions(const CTarvelDlg& dlg)
{
    QStringList captions;
    for (int b = 0; b < 4; ++b)
        captions << dlg.BitBox(PORT_E, b)->text();
    return captions;
}

// Makes the dialog, runs OnInitDialog and shows it (offscreen), as DoModal would before its loop.
inline void OpenDialog(CTarvelDlg& dlg)
{
    CTarvelApp::SetDialogStyle();
    dlg.Create();
    dlg.show();
}

// A mouse click in the middle of a control, as a user makes it.
inline void ClickControl(CTarvelDlg& dlg, int nId)
{
    QWidget* pControl = dlg.GetDlgItem(nId);
    QVERIFY2(pControl, qPrintable(QStringLiteral("no control %1").arg(nId)));
    QTest::mouseClick(pControl, Qt::LeftButton);
}

inline void ClickBit(CTarvelDlg& dlg, int nPort, int nBit)
{
    ClickControl(dlg, BitBoxId(nPort, nBit));
}

// Lets the device-change watch hand its notices to the dialog, and the dialog handle them.
inline void DeliverDeviceChanges()
{
    CDeviceWatch::Flush();
    QCoreApplication::processEvents();
}

// Configures a board through its own link, as another program would, before or while the
// dialog runs.
inline void ConfigureBoard(std::uint32_t nInstance, const ConfigBlock& config)
{
    CTestLink link(nInstance);
    QVERIFY(link.IsOpen());
    QVERIFY(UsbWriteConfiguration(link.Write(), config));
}

inline ConfigBlock BoardConfig(std::uint32_t nInstance)
{
    CTestLink link(nInstance);
    ConfigBlock config;
    UsbReadConfiguration(link.Read(), link.Write(), config);
    return config;
}

// The configuration block as it travels: read-configuration request and reply, write request.
inline const QString kReadConfigRequest = QStringLiteral("0 > 38 00 00 00 00 00 00 00 00 00 00");
inline const QString kReadPortsRequest = QStringLiteral("0 > 36 00 00 00 00 00");
