#pragma once
// Driving the real "Kelvard IO" dialog against the simulated bus (a CSimFixture declared before
// the dialog, so it outlives it, and whose Context() the dialog is given): trace lines, the grid
// as port bytes, clicks on controls by ID, device-change delivery and the debug log.
#include "tests/support/DebugCapture.h"
#include "tests/support/HexText.h"
#include "tests/support/SimFixture.h"

#include "tarvel/bootloader/DialogUpdates.h"
#include "tarvel/dialog/ButtonCtrl.h"
#include "tarvel/dialog/ComboBoxCtrl.h"
#include "tarvel/dialog/TarvelApp.h"
#include "tarvel/dialog/TarvelDlg.h"
#include "tarvel/res/ControlIds.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The trace lines since the last call.
inline QStringList TraceOf(CSimFixture& sim)
{
    QStringList lines;
    for (const std::string& strLine : sim.Trace())
        lines << QString::fromStdString(strLine);
    return lines;
}

// The grid as five port bytes in hex: bit b of byte p set where box (p, b) passes the test.
template <typename F> QString GridBytes(const CTarvelDlg& dlg, F&& test)
{
    PortBytes byPorts{};
    for (int p = PORT_A; p < PORT_COUNT; ++p)
        for (int b = 0; b < 8; ++b)
            if (test(dlg.BitBox(p, b)))
                byPorts[p] |= static_cast<std::uint8_t>(1u << b);
    return QString::fromStdString(HexText(byPorts.data(), byPorts.size()));
}
// Checked (not indeterminate) boxes, and enabled boxes.
inline QString Marks(const CTarvelDlg& dlg)
{
    return GridBytes(dlg, [](CCheckBoxCtrl* p) { return p->checkState() == Qt::Checked; });
}
inline QString Enabled(const CTarvelDlg& dlg)
{
    return GridBytes(dlg, [](CCheckBoxCtrl* p) { return p->isEnabled(); });
}

// The device list's entries, top down; the captions of E0 to E3.
inline QStringList Entries(const CTarvelDlg& dlg)
{
    QStringList entries;
    for (int i = 0; i < dlg.m_cbDevices->GetCount(); ++i)
        entries << dlg.m_cbDevices->itemText(i);
    return entries;
}
inline QStringList AnalogCaptions(const CTarvelDlg& dlg)
{
    return {dlg.BitBox(PORT_E, 0)->text(), dlg.BitBox(PORT_E, 1)->text(),
            dlg.BitBox(PORT_E, 2)->text(), dlg.BitBox(PORT_E, 3)->text()};
}

// The dialog on the fixture's bus, opened at once as DoModal would before its loop: OnInitDialog
// runs and it shows (offscreen).
class COpenDlg : public CTarvelDlg
{
public:
    explicit COpenDlg(CSimFixture& sim) : CTarvelDlg(sim.Context())
    {
        CTarvelApp::SetDialogStyle();
        Create();
        show();
    }
};

// A mouse click in the middle of a control, as a user makes it.
inline void ClickControl(CTarvelDlg& dlg, int nId)
{
    QWidget* pControl = dlg.GetDlgItem(nId);
    QVERIFY2(pControl, qPrintable(QStringLiteral("no control %1").arg(nId)));
    QTest::mouseClick(pControl, Qt::LeftButton);
}

// The firmware update part attached to the dialog, as the program wires it.
inline CDialogUpdates& AttachUpdates(CTarvelDlg& dlg)
{
    auto* pUpdates = new CDialogUpdates(dlg);
    dlg.SetBootloaderBoards(std::unique_ptr<CBootloaderBoards>(pUpdates));
    return *pUpdates;
}

// Lets the device-change watch hand its notices to the dialog, and the dialog handle them.
inline void DeliverDeviceChanges(CSimFixture& sim)
{
    sim.Context()->Watch().Flush();
    QCoreApplication::processEvents();
}

// Writes a board's configuration through a link of its own, as another program would.
inline void ConfigureBoard(CSimFixture& sim, std::uint32_t nInstance, const ConfigBlock& config)
{
    CBoardLink link = sim.Context()->Open(nInstance);
    QCOMPARE(link.WriteConfiguration(config), EStatus::Ok);
}

inline const QString READ_CONFIG_REQUEST = QStringLiteral("0 > 38 00 00 00 00 00 00 00 00 00 00");
inline const QString READ_PORTS_REQUEST = QStringLiteral("0 > 36 00 00 00 00 00");
