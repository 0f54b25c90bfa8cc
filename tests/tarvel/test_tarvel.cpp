// The dialog against boards on the simulated bus. Finding, listing and selecting them: entry
// order and selection, the identity shown, the serial edit and Update rules, failed identity
// reads, boards in their bootloader, plug and unplug, and the device-change notices with their
// debug lines. The grid in its four views: marks and enabled boxes with and without a board,
// what clicks and the Set and Clear buttons send (exact bytes), the analog run of marks and
// captions, and the polling rules.
//
// The tool as a whole: the main dialog as its template describes it, the address setting, the
// IP address control, closing the dialog in its four ways, and the tarvel program itself on the
// simulated bus, whose boards drift.
//
// The firmware update as the dialog adds it: the Update question and the image check before it,
// the serial-number prompt, the board handed to a worker while polling goes on, the progress
// corner, "Failed boot load" once, device changes around an update and closing during one. The
// update's requests and their faults are the firmware tests'. Re-attaches are held (a long delay)
// and done by the test with ComeBack, so every leave and return of a board is a device change
// that discovery sees on its own.
//
// The network link over real loopback TCP against a board played by the test: a QTcpServer on
// the loopback address that records what each connection receives. Frames cut anywhere or
// several per delivery, malformed and short frames, a flood, a peer that goes away, and the link
// dropped from inside a frame's delivery; the send order when the socket refuses frames, and
// frames given while connecting. The dialog's side: Connect stores the address whatever happens
// next, Connect twice, Close, the link dropped by USB device-list rebuilds and by closing the
// dialog, the exact frames each view sends while no USB board is current, and end to end against
// `zorvane serve` in its own process.
#include "tests/support/DebugCapture.h"
#include "tests/support/HexText.h"
#include "tests/support/LoopbackClient.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TempDir.h"

#include "firmware/BoardRecord.h"
#include "protocol/net/Frames.h"
#include "tarvel/bootloader/DialogUpdates.h"
#include "tarvel/bootloader/SerialNum.h"
#include "tarvel/dialog/ButtonCtrl.h"
#include "tarvel/dialog/ComboBoxCtrl.h"
#include "tarvel/dialog/DialogBuilder.h"
#include "tarvel/dialog/IpAddressCtrl.h"
#include "tarvel/dialog/TarvelApp.h"
#include "tarvel/dialog/TarvelDlg.h"
#include "tarvel/net/ClientSocket.h"
#include "tarvel/res/ControlIds.h"
#include "tarvel/res/DialogTemplate.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

#include <sys/socket.h>

namespace
{
// Driving the real "Kelvard IO" dialog against the simulated bus (a CSimFixture declared before
// the dialog, so it outlives it, and whose Context() the dialog is given): trace lines, the grid
// as port bytes, clicks on controls by ID, device-change delivery and the debug log.

// The trace lines since the last call.
QStringList TraceOf(CSimFixture& sim)
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
QString Marks(const CTarvelDlg& dlg)
{
    return GridBytes(dlg, [](CCheckBoxCtrl* p) { return p->checkState() == Qt::Checked; });
}
QString Enabled(const CTarvelDlg& dlg)
{
    return GridBytes(dlg, [](CCheckBoxCtrl* p) { return p->isEnabled(); });
}

// The device list's entries, top down; the captions of E0 to E3.
QStringList Entries(const CTarvelDlg& dlg)
{
    QStringList entries;
    for (int i = 0; i < dlg.m_cbDevices->GetCount(); ++i)
        entries << dlg.m_cbDevices->itemText(i);
    return entries;
}
QStringList AnalogCaptions(const CTarvelDlg& dlg)
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
void ClickControl(CTarvelDlg& dlg, int nId)
{
    QTest::mouseClick(dlg.GetDlgItem(nId), Qt::LeftButton);
}

// Lets the device-change watch hand its notices to the dialog, and the dialog handle them.
void DeliverDeviceChanges(CSimFixture& sim)
{
    sim.Context()->Watch().Flush();
    QCoreApplication::processEvents();
}

// Writes a board's configuration through a link of its own, as another program would.
void ConfigureBoard(CSimFixture& sim, std::uint32_t nInstance, const ConfigBlock& config)
{
    QCOMPARE(sim.Context()->Open(nInstance).WriteConfiguration(config), EStatus::Ok);
}

const QString READ_CONFIG_REQUEST = QStringLiteral("0 > 38 00 00 00 00 00 00 00 00 00 00");
const QString READ_PORTS_REQUEST = QStringLiteral("0 > 36 00 00 00 00 00");

using namespace std::chrono_literals;

const QString QUESTION = "box Device Firmware|Do you want to update the firmware at this time?";
const QString FAILURE = QStringLiteral("box Tarvel|Failed boot load");

// Answers the boxes and prompts the dialog opens, as a person would, and notes each one:
// "box <title>|<text>" or "prompt <title>". Each answer runs from the event loop the window runs,
// so that a window opened through the event loop of an answer is answered too.
class CModalAnswers : public QObject
{
public:
    CModalAnswers() { qApp->installEventFilter(this); }

    QMessageBox::StandardButton m_answer = QMessageBox::Yes; // to the update question
    QString m_strTyped = QStringLiteral("KV000042");         // into the prompt's edit
    bool m_bPromptOk = true;                                 // Enter, else Escape
    std::function<void()> m_fnWhilePrompt;                   // before typing
    QStringList m_seen;

    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::Show && pObject->inherits("QDialog"))
            QTimer::singleShot(0, pObject, [this, pObject] { Answer(pObject); });
        return false;
    }

    void Answer(QObject* pModal)
    {
        if (auto* pBox = qobject_cast<QMessageBox*>(pModal))
        {
            m_seen << QStringLiteral("box %1|%2").arg(pBox->windowTitle(), pBox->text());
            const bool bAsked = pBox->standardButtons().testFlag(m_answer);
            QTest::mouseClick(pBox->button(bAsked ? m_answer : QMessageBox::Ok), Qt::LeftButton);
        }
        else if (auto* pPrompt = qobject_cast<SerialNum*>(pModal))
        {
            m_seen << QStringLiteral("prompt ") + pPrompt->windowTitle();
            if (auto fnWhilePrompt = std::exchange(m_fnWhilePrompt, nullptr))
                fnWhilePrompt();
            // As a scanner fills it, ending with Enter.
            QTest::keyClicks(pPrompt->GetDlgItem(IDC_SERIALNUM_EDIT), m_strTyped);
            QTest::keyClick(pPrompt->GetDlgItem(IDC_SERIALNUM_EDIT),
                            m_bPromptOk ? Qt::Key_Return : Qt::Key_Escape);
        }
    }
};

// Waiting runs the event loop: the poll timer keeps ticking meanwhile.
bool WaitForUpdates(CDialogUpdates& updates)
{
    return QTest::qWaitFor([&] { return updates.m_bootLoads.Running() == 0; }, 120000);
}

// A board that left (restarted, or went into its bootloader) comes back, and discovery sees it
// go and return.
void ComeBack(CSimFixture& sim, const std::shared_ptr<CSimBoard>& pBoard)
{
    const auto boards = sim.Bus().Boards();
    QVERIFY(std::find(boards.begin(), boards.end(), pBoard) == boards.end());
    DeliverDeviceChanges(sim);
    sim.Bus().Replug(pBoard);
    DeliverDeviceChanges(sim);
}

// Only keeps a broken build from hanging; not what the tests check.
constexpr int WAIT_MS = 10000;

QByteArray Bytes(std::initializer_list<std::uint8_t> bytes)
{
    return QByteArray(reinterpret_cast<const char*>(std::data(bytes)), qsizetype(bytes.size()));
}

// A 12-byte frame as the tool sends it: code, length 0x0C, the payload from byte 2, zeros;
// and the same in hex.
QByteArray Frame(std::uint8_t byCode, std::initializer_list<std::uint8_t> payload = {})
{
    return (Bytes({byCode, 0x0C}) + Bytes(payload)).leftJustified(NET_FRAME_SIZE, '\0');
}
QString FrameText(std::uint8_t byCode, std::initializer_list<std::uint8_t> payload = {})
{
    return QString::fromLatin1(Frame(byCode, payload).toHex(' '));
}

// The board's side: accepts every connection on 127.0.0.1 and a free port, and keeps what each
// one receives.
class CTestPeer : public QObject
{
public:
    CTestPeer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this,
                [this]
                {
                    while (QTcpSocket* pSocket = m_server.nextPendingConnection())
                    {
                        m_sockets << pSocket;
                        m_received << QByteArray();
                        connect(pSocket, &QIODevice::readyRead, this,
                                [this, n = m_sockets.size() - 1]
                                { m_received[n] += m_sockets[n]->readAll(); });
                    }
                });
    }

    quint16 Port() const { return m_server.serverPort(); }
    QTcpSocket* Socket(qsizetype n = 0) const { return m_sockets.value(n); }
    bool IsClosed(qsizetype n = 0) const
    {
        return Socket(n) && Socket(n)->state() == QAbstractSocket::UnconnectedState;
    }
    // What connection n received, cut into the tool's 12-byte frames.
    QStringList Frames(qsizetype n = 0) const
    {
        QStringList frames;
        for (qsizetype i = 0; i < m_received.value(n).size(); i += NET_FRAME_SIZE)
            frames << QString::fromLatin1(m_received[n].mid(i, NET_FRAME_SIZE).toHex(' '));
        return frames;
    }
    void Send(const QByteArray& data, qsizetype n = 0) { Socket(n)->write(data); }

private:
    // Outlive m_server, whose sockets (its children) may still report as they go.
    QList<QTcpSocket*> m_sockets;
    QList<QByteArray> m_received;
    QTcpServer m_server;
};

// Points the dialog at the port and address and presses Connect; nothing is waited for.
void PressConnect(CTarvelDlg& dlg, quint16 nPort, const char* pszAddress = "127.0.0.1")
{
    qputenv("KELVARD_NET_PORT", QByteArray::number(nPort));
    dlg.m_ipAddress->SetAddress(QHostAddress(QString::fromLatin1(pszAddress)).toIPv4Address());
    ClickControl(dlg, IDC_CONNECT);
}

// Connects to the peer: true once the link is connected and the read-configuration frame has
// arrived on the peer's connection n.
bool ConnectTo(CTarvelDlg& dlg, CTestPeer& peer, qsizetype n)
{
    PressConnect(dlg, peer.Port());
    return QTest::qWaitFor([&] { return peer.Frames(n).value(0) == FrameText(0x38); }, WAIT_MS) &&
           dlg.m_pLink && dlg.m_pLink->State() == QAbstractSocket::ConnectedState;
}

// An opened dialog that records every frame its link hands over, then handles it as usual,
// and then drops the link if asked to.
class CRecordingDlg : public COpenDlg
{
public:
    using COpenDlg::COpenDlg;
    void OnSocketFrame(const std::uint8_t* pFrame, int nLength, CClientSocket* pLink) override
    {
        m_vecFrames << QByteArray(reinterpret_cast<const char*>(pFrame), nLength);
        CTarvelDlg::OnSocketFrame(pFrame, nLength, pLink);
        if (m_bDropOnFrame)
            DropConnection();
    }
    QList<QByteArray> m_vecFrames;
    bool m_bDropOnFrame = false;
};

// Read from where the file must be, not from where the tool says it is.
QString StoredAddress()
{
    const QString strIni = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Tarvel.ini";
    return QSettings(strIni, QSettings::IniFormat).value("Settings/IPAddress").toString();
}
} // namespace

class TestTarvel : public QObject
{
    Q_OBJECT

private slots:
    // Instances 2 and 10 run their application, the others wait in their bootloader, asked
    // nothing after query-mode; entries are sorted as text, the first selected.
    void listsBoardsAsSortedTextSkipsBootloaderBoardsAndRescansOnlyOnANewCount()
    {
        CSimFixture sim;
        for (int i = 0; i <= 10; ++i)
            sim.Plug(
                SimBoardConfig().Id(static_cast<std::uint8_t>(20 + i)).Boot(i != 2 && i != 10));
        COpenDlg dlg(sim); // with no update part to hand bootloader boards to
        QCOMPARE(Entries(dlg), (QStringList{"Device 10", "Device 2"}));
        QCOMPARE(dlg.m_stFirmware->text(), "FirmVer. 1.03  Dev ID - 30");
        QVERIFY(TraceOf(sim).filter(QRegularExpression("^[013-9] > (?!08)")).isEmpty());

        // The count has not changed: nothing is opened or read again.
        const auto* pDevice = dlg.m_pDevice;
        dlg.OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
        QVERIFY(TraceOf(sim).isEmpty() && dlg.m_pDevice == pDevice);

        // An arrival notice alone only logs; the rescan comes with the node change and selects
        // the first entry.
        sim.Plug(SimBoardConfig().Id(31));
        dlg.OnDeviceChange(DBT_DEVICEARRIVAL, 0);
        QCOMPARE(TraceOf(sim), QStringList());
        dlg.OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
        QCOMPARE(Entries(dlg), (QStringList{"Device 10", "Device 11", "Device 2"}));
        QCOMPARE(dlg.m_pDevice, dlg.m_cbDevices->GetItemDataPtr(0));
    }

    // Selecting shows a board's identity and what may be done with it; reads that failed while
    // it was found show neutral values.
    void selectionShowsEachBoardWithItsSerialAndUpdateRules()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(5).Serial("AB12CD34").Version(0x0103));
        sim.Plug(SimBoardConfig().Id(6).Serial("A{CDEFGH").Version(0x0102)); // not A to Z
        sim.Plug(SimBoardConfig().Id(7).Serial("SN000001").Version(0x0105))
            ->InjectFault(ESimFault::Fail, 8); // read-device-id
        auto pBoard = sim.Plug(SimBoardConfig().Id(8).Serial("SN000001").Version(0x0105));
        for (int n : {2, 4, 6}) // query-mode, serial number, version
            pBoard->InjectFault(ESimFault::Fail, n);
        ConfigureBoard(sim, 0, ConfigBlock{{0x0F, 0, 0, 0, 0}, {}, 2});
        COpenDlg dlg(sim);
        QCOMPARE(dlg.m_edSerial->text(), "AB12CD34");
        QVERIFY(!dlg.m_edSerial->isEnabled() && dlg.m_btnUpdate->isEnabled());
        TraceOf(sim);
        QTest::keyClick(dlg.m_cbDevices, Qt::Key_Down);
        QCOMPARE(dlg.m_stFirmware->text() + '|' + dlg.m_edSerial->text(),
                 "FirmVer. 1.02  Dev ID - 6|");
        QVERIFY(dlg.m_edSerial->isEnabled() && !dlg.m_btnUpdate->isEnabled()); // older than 1.03
        QCOMPARE(dlg.m_nAnalogMask, 0x03);                                     // not reloaded
        // Only the view is read again, on instance 1.
        QCOMPARE(TraceOf(sim).filter(" > "),
                 (QStringList{"1 > 36 00 00 00 00 00", "1 > 38 00 00 00 00 00 00 00 00 00 00"}));
        for (const char* pszShown :
             {"FirmVer. 1.05  Dev ID - 0|SN000001", "FirmVer. 0.00  Dev ID - 8|"})
        {
            QTest::keyClick(dlg.m_cbDevices, Qt::Key_Down);
            QCOMPARE(dlg.m_stFirmware->text() + '|' + dlg.m_edSerial->text(), pszShown);
        }
    }

    // Port Bits: levels shown, only outputs clickable, what clicks and Set and Clear send. The
    // configuration views: each write reads the block first and changes only its own masks.
    void eachViewWritesItsOwnBytes()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(7));
        // Port A's low nibble input (A0 inverted) and D7 input, everything else output; E0 and
        // E1 analog channels.
        ConfigureBoard(sim, 0, ConfigBlock{{0x0F, 0, 0, 0x80, 0}, {0x01, 0, 0, 0x08}, 2});
        pBoard->SetInputs(PORT_A, 0x05); // A0 reads low (inverted), A2 high
        pBoard->SetInputs(PORT_D, 0x80); // D7 high: its hidden box is marked by the read
        COpenDlg dlg(sim);
        QCOMPARE(Marks(dlg) + '|' + Enabled(dlg), "04 00 00 80 00|f0 ff ff 1f ff");
        TraceOf(sim);

        // An output sends all five bytes, the inputs as they are marked; an input is disabled.
        ClickControl(dlg, BitBoxId(PORT_B, 1));
        ClickControl(dlg, BitBoxId(PORT_A, 2));
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 00 80 00"}));
        // A click anywhere in the box's rectangle acts, far to the right of its caption too.
        CCheckBoxCtrl* pC0 = dlg.BitBox(PORT_C, 0);
        QTest::mouseClick(pC0, Qt::LeftButton, {}, QPoint(pC0->width() - 2, pC0->height() / 2));
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 01 80 00"}));
        // E0 cycles checked, indeterminate, unchecked; indeterminate is sent as 0.
        for (Qt::CheckState state : {Qt::Checked, Qt::PartiallyChecked, Qt::Unchecked})
        {
            ClickControl(dlg, BitBoxId(PORT_E, 0));
            QCOMPARE(dlg.BitBox(PORT_E, 0)->checkState(), state);
        }
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 01 80 01", "0 > 37 04 02 01 80 00",
                                            "0 > 37 04 02 01 80 00"}));
        // Set and Clear mark whole ports, disabled boxes included.
        ClickControl(dlg, SetButtonId(PORT_D)); // D0 to D4 only; D5 to D7 keep their marks
        ClickControl(dlg, ClearButtonId(PORT_D));
        ClickControl(dlg, SetButtonId(PORT_A)); // the inputs A0 to A3 are marked too
        ClickControl(dlg, SetButtonId(PORT_E));
        ClickControl(dlg, ClearButtonId(PORT_A));
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 01 9f 00", "0 > 37 04 02 01 80 00",
                                            "0 > 37 ff 02 01 80 00", "0 > 37 ff 02 01 80 ff",
                                            "0 > 37 00 02 01 80 ff"}));

        ClickControl(dlg, IDC_PORT_DIRECTION);
        QCOMPARE(TraceOf(sim),
                 (QStringList{READ_CONFIG_REQUEST, "0 < 38 0f 01 00 00 00 00 80 08 00 02"}));
        // The marks and enabled boxes: E0 and E1 are analog channels.
        QCOMPARE(Marks(dlg) + '|' + Enabled(dlg), "0f 00 00 80 00|ff ff ff 1f fc");
        ClickControl(dlg, BitBoxId(PORT_C, 2));
        QCOMPARE(TraceOf(sim).last(), "0 > 39 0f 01 00 00 04 00 80 08 00 02");
        // Inversion masks at bytes 2, 4, 6, 8, port D's too; byte 10, the analog input count,
        // stays 2.
        ClickControl(dlg, IDC_INPUT_POLARITY);
        // Row E clear, not the count, and disabled.
        QCOMPARE(Marks(dlg) + '|' + Enabled(dlg), "01 00 00 08 00|ff ff ff 1f 00");
        ClickControl(dlg, BitBoxId(PORT_B, 0));
        ClickControl(dlg, BitBoxId(PORT_D, 4));
        QCOMPARE(TraceOf(sim).filter(" > 39"),
                 (QStringList{"0 > 39 0f 01 00 01 04 00 80 08 00 02",
                              "0 > 39 0f 01 00 01 04 00 80 18 00 02"}));
        QCOMPARE(dlg.m_nAnalogMask, 0x03);
    }

    // The channels are a run from E0 whose readings each tick shows, as many as the board
    // announces.
    void analogInputsAreARunOfMarksFromE0()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(7));
        const ConfigBlock config{{0xFF, 0, 0, 0, 0xFF}, {0x01, 0, 0, 0}, 0};
        ConfigureBoard(sim, 0, config);
        for (int k = 0; k < 4; ++k)
            pBoard->SetAnalog(k, static_cast<std::uint16_t>(0x3FF - k));
        COpenDlg dlg(sim);
        ClickControl(dlg, IDC_ANALOG_INPUTS);
        QCOMPARE(Marks(dlg) + '|' + Enabled(dlg), "00 00 00 00 00|00 00 00 00 0f");
        TraceOf(sim);

        // Checking E2 alone selects E0 to E2; the direction of port E goes to 0. Clearing E1
        // inside the run leaves the run as it was.
        ClickControl(dlg, BitBoxId(PORT_E, 2));
        QCOMPARE(TraceOf(sim),
                 (QStringList{READ_CONFIG_REQUEST, "0 < 38 ff 01 00 00 00 00 00 00 ff 00",
                              "0 > 39 ff 01 00 00 00 00 00 00 00 03"}));
        ClickControl(dlg, BitBoxId(PORT_E, 1));
        QCOMPARE(Marks(dlg), "00 00 00 00 07");
        ClickControl(dlg, BitBoxId(PORT_E, 3));
        QCOMPARE(Marks(dlg), "00 00 00 00 0f");
        QCOMPARE(TraceOf(sim).last(), "0 > 39 ff 01 00 00 00 00 00 00 00 04");
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"03ff", "03fe", "03fd", "03fc"}));

        // Another program leaves two channels on: E0 and E1 change, printed as signed values,
        // and a failed read changes none.
        ConfigureBoard(sim, 0, ConfigBlock{config.byDir, config.byInv, 2});
        pBoard->SetAnalog(1, 0x002);
        TraceOf(sim);
        pBoard->InjectFault(ESimFault::Corrupt, 2, 3); // high byte of channel 0: 03 -> fc
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 3d", "0 < 3d 02 ff fc 02 00 00 00 00 00"}));
        pBoard->InjectFault(ESimFault::Fail, 2);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"fffffcff", "0002", "03fd", "03fc"}));

        // Back to three channels: E3 gets its caption back; down to none: every caption back,
        // the mask 0, and the timer still running.
        ClickControl(dlg, BitBoxId(PORT_E, 3));
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"fffffcff", "0002", "03fd", "E3"}));
        ClickControl(dlg, ClearButtonId(PORT_E));
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"E0", "E1", "E2", "E3"}));
        QCOMPARE(TraceOf(sim).last(), "0 > 39 ff 01 00 00 00 00 00 00 00 00");
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
    }

    // Polling runs while any pin is an input or analog, reads levels in Port Bits only, and a
    // failed read keeps the marks.
    void pollingFollowsTheDirectionsWrittenOrRead()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(7));
        ConfigureBoard(sim, 0, ConfigBlock{{0x01, 0, 0, 0, 0}, {}, 2}); // A0 the only input
        COpenDlg dlg(sim);
        TraceOf(sim);
        pBoard->SetInputs(PORT_A, 0x01);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(TraceOf(sim).mid(0, 3),
                 (QStringList{READ_PORTS_REQUEST, "0 < 36 01 00 00 00 00", "0 > 3d"}));
        QCOMPARE(Marks(dlg), "01 00 00 00 00");
        pBoard->SetInputs(PORT_A, 0x00);
        pBoard->InjectFault(ESimFault::Fail, 2);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(Marks(dlg), "01 00 00 00 00");
        QStringList seen; // the real timer's
        QTRY_VERIFY_WITH_TIMEOUT((seen << TraceOf(sim)).contains(READ_PORTS_REQUEST), 2000);
        ClickControl(dlg, IDC_PORT_DIRECTION);
        TraceOf(sim);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 3d", "0 < 3d 02 00 00 00 00 00 00 00 00"}));

        // A0 back to output: all five masks 0 stop the timer before the write is sent, so
        // even a failed write leaves it stopped.
        pBoard->InjectFault(ESimFault::Fail, 3);
        ClickControl(dlg, BitBoxId(PORT_A, 0));
        QCOMPARE(TraceOf(sim).last(), "0 >! 39 00 00 00 00 00 00 00 00 00 02");
        QCOMPARE(dlg.m_nTimer, 0);
        // A failed read-configuration writes nothing and applies no rule.
        pBoard->InjectFault(ESimFault::Fail, 2);
        ClickControl(dlg, BitBoxId(PORT_A, 1));
        QVERIFY(TraceOf(sim) == (QStringList{READ_CONFIG_REQUEST, "0 <!"}) && dlg.m_nTimer == 0);
        // Any non-zero mask starts it again.
        ClickControl(dlg, BitBoxId(PORT_E, 7));
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
        QCOMPARE(TraceOf(sim).last(), "0 > 39 02 00 00 00 00 00 00 00 80 02");

        // Reading all-output directions on entering a view stops it too, analog channels or
        // not; switching analog channels on starts it.
        ConfigureBoard(sim, 0, ConfigBlock{{0, 0, 0, 0, 0}, {}, 2});
        ClickControl(dlg, IDC_PORT_BITS);
        QCOMPARE(dlg.m_nTimer, 0);
        ClickControl(dlg, IDC_ANALOG_INPUTS);
        ClickControl(dlg, BitBoxId(PORT_E, 2));
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
    }

    // The main dialog as its template describes it (its size, 280 x 258 dialog units of DejaVu
    // Sans 8 pt, is the screenshot's): each control with its ID and caption, in template order,
    // none overlapping; the about box from the context menu; the IP address control as typed
    // into. Without a board the dialog is as initialised, and each view only changes the marks
    // and says what a mark means; a board that arrives is shown, and when the last board goes
    // everything that needs one is disabled.
    void withoutABoardThenPlugAndUnplugFollowTheWatch()
    {
        CDebugCapture log;
        CSimFixture sim;
        COpenDlg dlg(sim);
        QCOMPARE(dlg.windowTitle(), "Kelvard IO");
        const auto items = FindDialogTemplate(IDD_TARVEL_DIALOG)->arrItems;
        QCOMPARE(dlg.GetControls().size(), items.size());
        std::vector<QRect> placed;
        for (std::size_t i = 0; i < items.size(); ++i)
        {
            QWidget* pControl = dlg.GetControls()[i];
            const DialogItem& item = items[i];
            QCOMPARE(CDialogBuilder::GetDlgCtrlID(pControl), item.nId);
            if (auto* pButton = qobject_cast<QAbstractButton*>(pControl))
                QCOMPARE(pButton->text(), item.pszCaption);
            // Only a group box, a frame, lets clicks through.
            QCOMPARE(pControl->testAttribute(Qt::WA_TransparentForMouseEvents),
                     item.eKind == EControlKind::GroupBox);
            if (item.eKind == EControlKind::GroupBox)
                continue;
            for (const QRect& rcEarlier : placed)
                QVERIFY(!rcEarlier.intersects(pControl->geometry()));
            placed.push_back(pControl->geometry());
        }
        QVERIFY(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->isDefault());
        QCOMPARE(dlg.m_hIcon.availableSizes(), (QList<QSize>{QSize(32, 32), QSize(16, 16)}));

        QAction* pAbout = dlg.GetSystemMenu()->actions().value(2);
        QVERIFY(pAbout && pAbout->text() == "&About Tarvel...");
        QString strTitle;
        QTimer::singleShot(0, &dlg, [&] { strTitle = qApp->activeModalWidget()->windowTitle(); });
        QTimer::singleShot(0, &dlg,
                           [] { QTest::keyClick(qApp->activeModalWidget(), Qt::Key_Escape); });
        pAbout->trigger(); // returns when the about box has closed
        QVERIFY(strTitle == "About Tarvel" && dlg.isVisible()); // Escape closed only the box

        CIPAddressCtrl ctrl;
        ctrl.show();
        ctrl.Field(0)->setFocus();
        QTest::keyClicks(ctrl.Field(0), QStringLiteral("10."));
        QCOMPARE(ctrl.focusWidget(), ctrl.Field(1));
        QTest::keyClicks(ctrl.Field(1), QStringLiteral("255")); // full: moves on by itself
        QCOMPARE(ctrl.focusWidget(), ctrl.Field(2));
        QTest::keyClicks(ctrl.Field(2), QStringLiteral("300.")); // 300 is not an octet: 30
        QTest::keyClicks(ctrl.Field(3), QStringLiteral("7"));
        QCOMPARE(ctrl.GetWindowText(), "10.255.30.7");

        const auto Empty = [&]
        {
            QVERIFY(dlg.m_cbDevices->GetCount() == 0 && !dlg.m_pDevice &&
                    !dlg.m_btnUpdate->isEnabled() && dlg.m_nTimer == 0);
            QCOMPARE(dlg.m_stFirmware->text() + dlg.m_edSerial->text(), "");
        };
        Empty();
        QVERIFY(dlg.m_edSerial->isEnabled() &&
                qobject_cast<QRadioButton*>(dlg.GetDlgItem(IDC_PORT_BITS))->isChecked());
        for (unsigned nEvent : {0x8000u, 0x8001u, 0x8004u, 0xFFFFu, 0x0018u, 0x0007u})
            QCOMPARE(dlg.OnDeviceChange(nEvent, 0), false);
        QCOMPARE(QString::fromStdString(log.Text()), "Device Arrival\nDevice query remove\nDevice "
                                                     "remove complete\nUser defined\nDevice Node "
                                                     "changed\n");
        ClickControl(dlg, BitBoxId(PORT_A, 1));
        ClickControl(dlg, BitBoxId(PORT_E, 0));
        const std::tuple<int, const char*, const char*> VIEWS[] = {
            {IDC_INPUT_POLARITY, "ff ff ff 1f 00", "When checked input is inverted"},
            {IDC_PORT_BITS, "ff ff ff 1f 00",
             "When checked I/O pins are high - Inverted inputs are low"},
            {IDC_PORT_DIRECTION, "ff ff ff 1f ff", "When checked I/O pin is an input"},
            {IDC_ANALOG_INPUTS, "ff ff ff 1f ff", "When checked I/O pin is analog input"}};
        for (auto [nView, pszEnabled, pszMessage] : VIEWS)
        {
            ClickControl(dlg, nView);
            QCOMPARE(Enabled(dlg), pszEnabled);
            QCOMPARE(Marks(dlg), "02 00 00 00 01");
            QCOMPARE(qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_MESSAGE))->text(), pszMessage);
        }
        QVERIFY(TraceOf(sim).isEmpty() && dlg.m_nTimer == 0);

        // A board arrives, configured with four analog channels.
        auto pBoard = sim.Plug(SimBoardConfig().Id(9).Serial("SN000009"));
        ConfigureBoard(sim, 0, ConfigBlock{{0xFF, 0, 0, 0, 0}, {}, 4});
        pBoard->SetAnalog(0, 0x123);
        DeliverDeviceChanges(sim);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg)[0], "0123");
        // The last board goes: the list empties and everything that needs a board is disabled.
        sim.Bus().Unplug(pBoard);
        DeliverDeviceChanges(sim);
        Empty();
        QCOMPARE(Enabled(dlg) + '|' + Marks(dlg), "00 00 00 00 00|00 00 00 00 00");
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"E0", "E1", "E2", "E3"}));
        QVERIFY(!dlg.m_edSerial->isEnabled() && dlg.m_nAnalogMask == 0);
        // It comes back: listed and shown again.
        sim.Bus().Replug(pBoard);
        DeliverDeviceChanges(sim);
        QCOMPARE(dlg.m_stFirmware->text(), "FirmVer. 1.03  Dev ID - 9");
    }

    // The address setting as another program or an older version may have stored it; reading
    // it creates nothing. Closing by the Close button, Escape, the close box and the context
    // menu's Close releases the boards.
    void storedAddressIsReadAndClosingReleasesTheBoards()
    {
        const std::tuple<const char*, const char*, std::function<void(CTarvelDlg&)>, int> CASES[] =
            {{nullptr, "0.0.0.0", [](CTarvelDlg& dlg) { ClickControl(dlg, IDOK); }, IDOK},
             {"-1062731510", "192.168.1.10",
              [](CTarvelDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); }, IDCANCEL},
             {"4294967295", "255.255.255.255", [](CTarvelDlg& dlg) { dlg.close(); }, IDCANCEL},
             {"abc", "0.0.0.0",
              [](CTarvelDlg& dlg) { dlg.GetSystemMenu()->actions()[0]->trigger(); }, IDCANCEL},
             {"16909060xyz", "1.2.3.4", [](CTarvelDlg& dlg) { ClickControl(dlg, IDOK); }, IDOK}};
        QVERIFY(QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME")));
        for (const auto& [pszStored, pszShown, fnClose, nResult] : CASES)
        {
            QFile file(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Tarvel.ini");
            QVERIFY(file.remove() || !file.exists());
            QVERIFY(!pszStored ||
                    (file.open(QIODevice::WriteOnly) &&
                     file.write(QByteArray("[Settings]\nIPAddress=") + pszStored) > 0));
            file.close();
            CSimFixture sim;
            sim.Plug(SimBoardConfig().Id(1).Serial("SIM00001"));
            sim.Plug(SimBoardConfig().Id(2));
            COpenDlg dlg(sim);
            QCOMPARE(dlg.m_ipAddress->GetWindowText(), pszShown);
            QCOMPARE(file.exists(), pszStored != nullptr);
            std::vector<CBoardLink::STag> links;
            for (int i = 0; i < 2; ++i)
                links.push_back(static_cast<CBoardRecord*>(dlg.m_cbDevices->GetItemDataPtr(i))
                                    ->m_lnkBoard.Tag());
            fnClose(dlg);
            QVERIFY(!dlg.isVisible() && dlg.result() == nResult);
            QVERIFY(dlg.m_cbDevices->GetCount() == 0 && !dlg.m_pDevice && dlg.m_nTimer == 0);
            for (const CBoardLink::STag& tag : links) // a closed link is no board's any more
                QVERIFY(!CBoardLink::SameDevice(tag, tag));
            // Nothing is opened again once the dialog has ended.
            sim.Plug(SimBoardConfig().Id(3));
            DeliverDeviceChanges(sim);
            QCOMPARE(dlg.m_cbDevices->GetCount(), 0);
        }
    }

    // The program on the simulated bus, whose boards drift; the image for its boards beside it in
    // the build tree, in a data folder in the packages; its command line read before it needs a
    // display.
    void programShowsTheSimulatedBoardsAndReadsItsCommandLine()
    {
        QTemporaryDir dir;
        const QString strShot = dir.filePath(QStringLiteral("tarvel.png"));
        const QString strTrace = dir.filePath(QStringLiteral("trace.txt"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("KELVARD_SIM_BOARDS")); // the default two boards
        env.remove(QStringLiteral("KELVARD_USB"));
        env.insert(QStringLiteral("KELVARD_SIM_TRACE"), strTrace);
        QProcess tarvel; // run to its end: true if it exited normally
        const auto Run = [&](const QStringList& args)
        {
            tarvel.setProcessEnvironment(env);
            tarvel.start(QStringLiteral(TARVEL_PROGRAM), args);
            return tarvel.waitForFinished(30000) && tarvel.exitStatus() == QProcess::NormalExit;
        };
        QVERIFY(Run({"--simulate", "--screenshot", strShot}));
        QCOMPARE(QString::number(tarvel.exitCode()) + ' ' + tarvel.readAllStandardOutput(),
                 "0 " + strShot + '\n');
        QCOMPARE(QImage(strShot).size(), QSize(490, 419));

        QFile file(strTrace);
        const QByteArray trace = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
        // Both boards are asked who they are; the first, with two analog inputs, is polled.
        QVERIFY(trace.contains("\n0 > 3c 00\n0 < 3c 01\n") &&
                trace.contains("\n1 > 3c 00\n1 < 3c 02\n"));
        QVERIFY(trace.count("0 > 36 00 00 00 00 00\n") >= 5);
        QVERIFY(trace.contains("\n0 > 3d\n0 < 3d 02 "));
        // The simulated bus drifts the inputs: the polls see them change.
        const QStringList polls = QString::fromLatin1(trace).split('\n').filter("0 < 36");
        QVERIFY(polls.count(polls.value(0)) < polls.size());

        QTemporaryDir prefix;
        const QString strBin = prefix.filePath("bin");
        QVERIFY(QDir().mkpath(strBin) && QDir().mkpath(prefix.filePath("share/tarvel")));
        QCOMPARE(CTarvelApp::SimulatedBoardsImage(strBin), strBin + "/KelvardUSB.hex"); // neither
        for (const QString& strFile : {prefix.filePath("share/tarvel/KelvardUSB.hex"),
                                       strBin + "/KelvardUSB.hex"}) // installed, then both
        {
            QFile image(strFile);
            QVERIFY(image.open(QIODevice::WriteOnly));
            QCOMPARE(CTarvelApp::SimulatedBoardsImage(strBin), strFile);
        }

        for (const char* pszName : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(pszName));
        QVERIFY(Run({"--help"}) && tarvel.exitCode() == 0);
        const QByteArray help = tarvel.readAllStandardOutput();
        QVERIFY(help.startsWith("Usage: tarvel [options]\n") && help.contains("--simulate") &&
                help.contains("--screenshot <path>"));
        QVERIFY(Run({"--quit-after", "soon"}) && tarvel.exitCode() == 2 &&
                tarvel.readAllStandardError().startsWith("tarvel: "));
    }

    void wholeCycle_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("prompt OK") << true;
        QTest::newRow("prompt Cancel") << false;
    }

    // The question (Yes without the update part, No, then Yes for the board picked); the board
    // back in its bootloader: the prompt, while which device changes are held, then the update
    // on a worker that later rebuilds leave alone while the current board is polled, the
    // progress corner, and the board back with version 1.04 and the serial number typed on OK.
    void wholeCycle()
    {
        QFETCH(bool, ok);
        CDebugCapture log;
        CSimFixture sim;
        sim.Bus().SetReattachDelay(std::chrono::hours(1)); // back when the test replugs it
        sim.Plug(SimBoardConfig().Id(2).Serial("SN000002"));
        auto pA = sim.Plug(SimBoardConfig().Id(1)); // instance 1: no serial number, version 1.03
        CModalAnswers answers;
        answers.m_bPromptOk = ok;
        COpenDlg dlg(sim);
        ClickControl(dlg, IDC_UPDATE); // Yes, but the dialog has no update part to hand over to
        answers.m_answer = QMessageBox::No;
        CDialogUpdates& updates = *new CDialogUpdates(dlg); // attached as the program does
        dlg.SetBootloaderBoards(std::unique_ptr<CBootloaderBoards>(&updates));
        ClickControl(dlg, IDC_UPDATE);
        // Yes for the board picked: enter-bootloader, one byte and no reply read, to it alone.
        answers.m_answer = QMessageBox::Yes;
        QTest::keyClick(dlg.m_cbDevices, Qt::Key_Down);
        ClickControl(dlg, IDC_UPDATE);
        QCOMPARE(TraceOf(sim).filter(" > 32"), (QStringList{"1 > 32"}));

        // Two more boards arrive through the prompt's message loop: nothing on the wire and no
        // rebuild until it has closed, only the notices; then the list is rebuilt without
        // waiting for the update, and again when one of them goes, both times leaving the
        // board alone (no query-mode): its requests are the worker's, the only one.
        QStringList during;
        std::shared_ptr<CSimBoard> pC;
        answers.m_fnWhilePrompt = [&]
        {
            log.Take();
            TraceOf(sim);
            pC = sim.Plug(SimBoardConfig().Id(3).Serial("SN000003"));
            sim.Plug(SimBoardConfig().Id(4).Serial("SN000004"));
            DeliverDeviceChanges(sim);
            during << TraceOf(sim) << Entries(dlg) << QString::fromStdString(log.Text());
        };
        pA->SetLatency(1ms); // each transfer a millisecond: the update lasts seconds
        ComeBack(sim, pA);
        QCOMPARE(answers.m_seen,
                 (QStringList{QUESTION, QUESTION, QUESTION, "prompt Serial Number"}));
        QCOMPARE(during, (QStringList{"Device 0", "Device Arrival\nDevice Node changed\n"
                                                  "Device Arrival\nDevice Node changed\n"}));
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 2", "Device 3"}));
        sim.Bus().Unplug(pC);
        DeliverDeviceChanges(sim);
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 2"}));
        // The dialog's thread is free meanwhile: the current board is polled.
        QStringList trace = TraceOf(sim);
        const qsizetype nReads = trace.count(READ_PORTS_REQUEST); // the rebuilds'
        QVERIFY(QTest::qWaitFor(
            [&] { return (trace << TraceOf(sim)).count(READ_PORTS_REQUEST) >= nReads + 2; }));
        QCOMPARE(updates.m_bootLoads.Running(), std::size_t(1));
        QVERIFY(trace.filter(QRegularExpression("^1 > 08")).isEmpty() &&
                !trace.filter(QRegularExpression("^1 > ")).isEmpty());

        // The free corner says which board and how far, covering no control, until the end.
        QVERIFY(QTest::qWaitFor([&] { return updates.m_pbUpdating->value() > 5; }));
        QVERIFY(updates.m_stUpdating->isVisible() && updates.m_pbUpdating->isVisible());
        QCOMPARE(updates.m_stUpdating->text(), "Updating Device 1");
        const QRect corner =
            updates.m_stUpdating->geometry().united(updates.m_pbUpdating->geometry());
        for (const QWidget* pControl : dlg.GetControls())
            QVERIFY(!pControl->isVisible() || !pControl->geometry().intersects(corner));
        QVERIFY(WaitForUpdates(updates));
        QCOMPARE(updates.m_bootLoads.TakeResults(), std::vector{EStatus::Ok});
        QVERIFY(QTest::qWaitFor(
            [&] { return updates.m_stUpdating->isHidden() && updates.m_pbUpdating->isHidden(); }));

        // Restarted with its new application, and with the serial number typed on OK.
        sim.Bus().Replug(pA);
        CBoardLink link = sim.Context()->Open(1);
        QCOMPARE(QString::number(link.ReadVersion(), 16) +
                     QString::fromStdString(link.ReadSerialNumber()),
                 "104" + (ok ? answers.m_strTyped : QString()));
        QCOMPARE(answers.m_seen.size(), 4);
    }

    // An image that cannot be written: a box says why, and the board is not sent into its
    // bootloader. A failed update (an exchange fails while erasing): "Failed boot load" once,
    // the board left in its bootloader, and the next discovery, for another board's arrival,
    // updates it. Closing meanwhile: the dialog says which update it finishes, stays until it
    // has, then ends as it was told to.
    void unusableImageAndFailedUpdateThenClosingDuringTheNext()
    {
        CTempDir dir;
        CSimFixture sim;
        sim.Bus().SetReattachDelay(std::chrono::hours(1)); // back when the test replugs it
        auto pA = sim.Plug(SimBoardConfig().Id(1).Serial("SN000001")); // no prompt
        CModalAnswers answers;
        COpenDlg dlg(sim);
        CDialogUpdates& updates = *new CDialogUpdates(dlg); // attached as the program does
        dlg.SetBootloaderBoards(std::unique_ptr<CBootloaderBoards>(&updates));
        const QString strImage = dlg.m_strHexPath;
        dlg.m_strHexPath = QString::fromStdString(dir.Write(":0100000011EE\n:00000001FF\n"));
        ClickControl(dlg, IDC_UPDATE);
        QCOMPARE(answers.m_seen.last(), "box Device Firmware|The firmware cannot be updated:\n" +
                                            dlg.m_strHexPath +
                                            ": fits no board: it has no program "
                                            "data from the application start 0x0800 on");
        QVERIFY(TraceOf(sim).filter(" > 32").isEmpty() && !pA->IsBootMode());

        dlg.m_strHexPath = strImage;
        answers.m_seen.clear();
        ClickControl(dlg, IDC_UPDATE);
        // Transfer 100 is the reply to the 47th erase (after query-mode, ReadSerNo, identify).
        pA->InjectFault(ESimFault::Fail, 100);
        ComeBack(sim, pA);
        QVERIFY(WaitForUpdates(updates));
        QCOMPARE(updates.m_bootLoads.TakeResults(), std::vector{EStatus::Usb});
        QVERIFY(QTest::qWaitFor([&] { return answers.m_seen.count(FAILURE) == 1; }));
        QVERIFY(sim.Bus().Board(0) == pA && pA->IsBootMode());

        pA->SetLatency(1ms);
        sim.Plug(SimBoardConfig().Id(3).Serial("SN000003"));
        DeliverDeviceChanges(sim);
        QCOMPARE(updates.m_bootLoads.Running(), std::size_t(1));
        dlg.reject();
        auto* pFinishing = dlg.findChild<QProgressDialog*>();
        QVERIFY(pFinishing && pFinishing->isVisible() && dlg.isVisible());
        QCOMPARE(pFinishing->labelText(), "Finishing the update of Device 0...");
        QVERIFY(WaitForUpdates(updates));
        QCOMPARE(updates.m_bootLoads.TakeResults(), std::vector{EStatus::Ok});
        QVERIFY(QTest::qWaitFor([&] { return !dlg.isVisible(); }));
        QVERIFY(dlg.result() == IDCANCEL && !dlg.findChild<QProgressDialog*>());
        QCOMPARE(pA->FirmwareVersion(), 0x0104);
        QCOMPARE(answers.m_seen, (QStringList{QUESTION, FAILURE}));
    }

    // Frames given while connecting are dropped and refused ones wait in order; then, on a new
    // link, frames are reassembled, malformed ones change nothing, a flood is bounded and the
    // link ends as the peer or the dialog ends it.
    void framesOnTheLink()
    {
        CSimFixture sim;
        CDebugCapture log;
        CTestPeer peer;
        CRecordingDlg dlg(sim);
        PressConnect(dlg, peer.Port());
        QVERIFY(dlg.m_pLink->State() != QAbstractSocket::ConnectedState);
        CClientSocket* pLink = dlg.m_pLink;
        // Frames numbered n in ports A and B; SendFrame writes the length byte itself.
        const auto Send = [pLink](std::size_t n)
        {
            NetFrame frame = BuildWritePortsFrame({std::uint8_t(n), std::uint8_t(n >> 8), 0, 0, 0});
            frame[1] = 0;
            return pLink->SendFrame(frame.data(), NET_FRAME_SIZE);
        };
        ClickControl(dlg, BitBoxId(PORT_A, 0));
        QCOMPARE(Send(0x55), SOCKET_NOT_CONNECTED);
        const QString strNotConnected = QStringLiteral("Socket not connected\n").repeated(2);
        QCOMPARE(QString::fromStdString(log.Text()), strNotConnected);

        // Once connected: the read-configuration frame, then what is sent from then on.
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 1, WAIT_MS);
        ClickControl(dlg, BitBoxId(PORT_B, 1));
        QTRY_COMPARE_WITH_TIMEOUT(
            peer.Frames(), (QStringList{FrameText(0x38), FrameText(0x37, {0x01, 0x02})}), WAIT_MS);

        // Refused frames wait and leave in the order given.
        pLink->SetSendLimit(1); // any backlog at all makes the socket refuse the next frame
        QCOMPARE(Send(1), 0);
        QCOMPARE(Send(2), SOCKET_WOULD_BLOCK);
        QCOMPARE(Send(3), 0);                   // behind the refused one
        ClickControl(dlg, BitBoxId(PORT_E, 7)); // the dialog's too
        QCOMPARE(pLink->QueuedFrames(), std::size_t(3));
        QTRY_COMPARE_WITH_TIMEOUT(
            peer.Frames().mid(2),
            (QStringList{FrameText(0x37, {0x01}), FrameText(0x37, {0x02}), FrameText(0x37, {0x03}),
                         FrameText(0x37, {0x01, 0x02, 0, 0, 0x80})}),
            WAIT_MS);

        // A full queue drops the newest frames.
        for (std::size_t n = 0; n < 1 + LINK_QUEUE_MAX + 3; ++n)
            Send(n);
        QCOMPARE(pLink->QueuedFrames(), LINK_QUEUE_MAX);
        QCOMPARE(QString::fromStdString(log.Text()),
                 strNotConnected + QStringLiteral("Send queue full\n").repeated(3));
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 6 + 1 + int(LINK_QUEUE_MAX), WAIT_MS);
        QCOMPARE(peer.Frames().last(),
                 FrameText(0x37, {LINK_QUEUE_MAX & 0xFF, LINK_QUEUE_MAX >> 8}));

        QVERIFY(ConnectTo(dlg, peer, 1));
        // In pieces of 1, 5 and 6 bytes, each waited for so that TCP cannot join them.
        const QByteArray reply = Frame(0x36, {0x01, 0x02, 0x03, 0x04, 0x05});
        peer.Send(reply.left(1), 1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_pLink->Receiver().Received(), 1, WAIT_MS);
        peer.Send(reply.mid(1, 5), 1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_pLink->Receiver().Received(), 6, WAIT_MS);
        QVERIFY(dlg.m_vecFrames.isEmpty());
        peer.Send(reply.mid(6), 1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames, QList<QByteArray>{reply}, WAIT_MS);
        QCOMPARE(Marks(dlg), "01 02 03 04 05");
        QVERIFY(dlg.m_pLink->Receiver().IsBetweenFrames());

        // Several frames in one delivery come in order, a 2-byte frame among them. Length
        // bytes 0 and 1 are discarded; read-ports one byte short of port E, read-configuration
        // one byte short of E's direction and an unknown code draw nothing.
        const QList<QByteArray> frames{
            Frame(0x36, {0x11, 0x22, 0x33, 0x44, 0x55}),
            Bytes({0x38, 0x0C, 0xA0, 0xEE, 0xB0, 0xEE, 0xC0, 0xEE, 0x1F, 0xEE, 0xE0, 0x03}),
            Bytes({0x3C, 0x02}),
            Bytes({0x36, 0x06, 0xAA, 0xBB, 0xCC, 0xDD}),
            Bytes({0x38, 0x0A, 0xAA, 0x00, 0xBB, 0x00, 0xCC, 0x00, 0xDD, 0x00}),
            Bytes({0x3C, 0x0C, 7, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE})};
        peer.Send(frames[0] + frames[1] + frames[2] + Bytes({0x36, 0x00, 0x38, 0x01}) + frames[3] +
                      frames[4] + frames[5],
                  1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames.mid(1), frames, WAIT_MS);
        QCOMPARE(dlg.m_pLink->Receiver().DiscardedHeaders(), 2u);
        // The configuration drew last: direction masks, inversion bytes ignored.
        QCOMPARE(Marks(dlg), "a0 b0 c0 1f e0");
        // A 2-byte frame alone is handed over without waiting for more.
        peer.Send(Bytes({0x40, 0x02}), 1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames.last(), Bytes({0x40, 0x02}), WAIT_MS);

        // The shortest complete replies are drawn.
        peer.Send(Bytes({0x36, 0x07, 0x10, 0x20, 0x30, 0x40, 0x50}), 1);
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "10 20 30 40 50", WAIT_MS);
        peer.Send(Bytes({0x38, 0x0B, 0x0A, 0x00, 0x0B, 0x00, 0x0C, 0x00, 0x0D, 0x00, 0x0E}), 1);
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "0a 0b 0c 0d 0e", WAIT_MS);

        // About 4 MB of good and bad bytes in one write, frames of 2 to 255 bytes across the
        // link's reads, then a reply to draw: every frame comes in order, never more waiting in
        // the socket than its bounded buffer, and the link goes on.
        const QByteArray big = Bytes({0x40, 0xFF}) + QByteArray(253, '\xEE');
        const QByteArray mix =
            Bytes({0x36, 0x01}) + Bytes({0x3C, 0x02}) + big + Frame(0x36, {1, 2, 3, 4, 5});
        QList<QByteArray> expected;
        for (int i = 0; i < 4 * 1024 * 1024 / mix.size(); ++i)
            expected << Bytes({0x3C, 0x02}) << big << Frame(0x36, {1, 2, 3, 4, 5});
        expected << Frame(0x36, {0xC3, 0x3C, 0x99, 0x11, 0x7E});
        const qsizetype nBefore = dlg.m_vecFrames.size();
        peer.Send(mix.repeated(4 * 1024 * 1024 / mix.size()) + expected.last(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames.size() - nBefore, expected.size(), 120000);
        QCOMPARE(dlg.m_vecFrames.mid(nBefore), expected);
        QCOMPARE(Marks(dlg), "c3 3c 99 11 7e");
        QVERIFY(dlg.m_pLink->LargestBacklog() > 0 &&
                dlg.m_pLink->LargestBacklog() <= LINK_READ_BUFFER);
        ClickControl(dlg, BitBoxId(PORT_A, 0));
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames(1).value(1),
                                  FrameText(0x37, {0xC2, 0x3C, 0x99, 0x11, 0x7E}), WAIT_MS);

        // The peer closing or resetting ends the link, the frame under way with it.
        const qsizetype nFrames = dlg.m_vecFrames.size();
        for (int n : {2, 3}) // an orderly close, then a reset
        {
            QVERIFY(ConnectTo(dlg, peer, n));
            QPointer<CClientSocket> pEnded = dlg.m_pLink;
            peer.Send(Frame(0x36, {1, 2, 3, 4, 5}).left(7), n); // half a frame, then the end
            QTRY_COMPARE_WITH_TIMEOUT(pEnded->Receiver().Received(), 7, WAIT_MS);
            const linger noLinger{n - 2, 0}; // on: a reset rather than an orderly close
            ::setsockopt(static_cast<int>(peer.Socket(n)->socketDescriptor()), SOL_SOCKET,
                         SO_LINGER, &noLinger, sizeof noLinger);
            peer.Socket(n)->abort();
            QTRY_VERIFY_WITH_TIMEOUT(pEnded.isNull(), WAIT_MS);
            QVERIFY(!dlg.m_pLink && dlg.findChildren<CClientSocket*>().isEmpty());
        }
        QCOMPARE(dlg.m_vecFrames.size(), nFrames); // the half frames went with the links

        // The dialog dropping the link while it handles a frame: the next one is not delivered.
        QVERIFY(ConnectTo(dlg, peer, 4));
        QPointer<CClientSocket> pDropped = dlg.m_pLink;
        dlg.m_bDropOnFrame = true;
        peer.Send(Frame(0x36, {1, 2, 3, 4, 5}) + Frame(0x36, {6, 7, 8, 9, 10}), 4);
        QTRY_VERIFY_WITH_TIMEOUT(pDropped.isNull() && peer.IsClosed(4), WAIT_MS);
        QVERIFY(!dlg.m_pLink && dlg.m_vecFrames.size() == nFrames + 1);
        QCOMPARE(Marks(dlg), "01 02 03 04 05");
    }

    // Connect stores the address, whether or not anything listens there; a refused link stays
    // without a word until Close, Connect or a rebuild. Connect twice leaves one link; Close, a
    // USB board plugged or unplugged, closing the dialog and destroying it end it. The exact
    // frames each view sends while no USB board is current.
    void connectStoresTheAddressAndTheLinkLastsUntilEnded()
    {
        CSimFixture sim;
        CTestPeer peer;
        auto pDlg = std::make_unique<COpenDlg>(sim);
        COpenDlg& dlg = *pDlg;
        ClickControl(dlg, IDC_CLOSE_LINK); // without a link: nothing
        // Stored as a signed number. The limited broadcast address is refused before anything
        // is sent.
        PressConnect(dlg, peer.Port(), "255.255.255.255");
        QCOMPARE(StoredAddress(), "-1");
        PressConnect(dlg, CTestPeer().Port()); // nothing listens there any more
        QCOMPARE(StoredAddress(), "2130706433");
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_pLink->State(), QAbstractSocket::UnconnectedState, WAIT_MS);

        QVERIFY(ConnectTo(dlg, peer, 0));
        QPointer<CClientSocket> pFirst = dlg.m_pLink;
        QVERIFY(ConnectTo(dlg, peer, 1));
        QVERIFY(pFirst.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(0), WAIT_MS);
        ClickControl(dlg, BitBoxId(PORT_A, 7));
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames(1),
                                  (QStringList{FrameText(0x38), FrameText(0x37, {0x80})}), WAIT_MS);
        QCOMPARE(peer.Frames(0), QStringList{FrameText(0x38)});
        ClickControl(dlg, IDC_CLOSE_LINK);
        QVERIFY(!dlg.m_pLink && dlg.findChildren<CClientSocket*>().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(1), WAIT_MS);
        ClickControl(dlg, BitBoxId(PORT_A, 0)); // changes only the marks now
        QCOMPARE(Marks(dlg), "81 00 00 00 00");
        QCOMPARE(peer.Frames(1).size(), 2);

        // Again, the exact frames each view sends while no USB board is current.
        QVERIFY(ConnectTo(dlg, peer, 2));
        QStringList expected{FrameText(0x38)}; // all the frames sent, compared at the end

        // A write-ports, then Port Direction: a read-configuration; the marks wait for its reply.
        ClickControl(dlg, BitBoxId(PORT_E, 7));
        ClickControl(dlg, IDC_PORT_DIRECTION);
        QCOMPARE(Marks(dlg), "81 00 00 00 80");
        ClickControl(dlg, BitBoxId(PORT_C, 2));
        expected << FrameText(0x37, {0x81, 0, 0, 0, 0x80}) << FrameText(0x38)
                 << FrameText(0x39, {0x81, 0, 0x00, 0, 0x04, 0, 0x00, 0, 0x80, 0});

        // Input Polarity: byte 11 carries row E as the grid has it.
        ClickControl(dlg, IDC_INPUT_POLARITY);
        ClickControl(dlg, BitBoxId(PORT_D, 4));
        ClickControl(dlg, SetButtonId(PORT_B));
        expected << FrameText(0x38)
                 << FrameText(0x39, {0, 0x81, 0, 0x00, 0, 0x04, 0, 0x10, 0, 0x80})
                 << FrameText(0x39, {0, 0x81, 0, 0xFF, 0, 0x04, 0, 0x10, 0, 0x80});

        // Port Bits: read-ports, then read-configuration; a poll reads the ports.
        ClickControl(dlg, IDC_PORT_BITS);
        dlg.OnTimer(TIMER_POLL);
        expected << FrameText(0x36) << FrameText(0x38) << FrameText(0x36);
        // The reply draws the directions; the polling rule is for USB boards only.
        peer.Send(Bytes({0x38, 0x0C, 0xF0, 0x01, 0x0F, 0x02, 0xAA, 0x03, 0x55, 0x04, 0x00, 0x02}),
                  2);
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "f0 0f aa 55 00", WAIT_MS);
        QCOMPARE(dlg.m_nTimer, 0);

        // Analog Inputs (entered from Port Direction, where row E can be clicked): the view's
        // read, then nothing for the clicks, as the next view's read shows.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        ClickControl(dlg, IDC_ANALOG_INPUTS);
        ClickControl(dlg, BitBoxId(PORT_E, 1));
        ClickControl(dlg, BitBoxId(PORT_E, 3));
        QCOMPARE(Marks(dlg), "00 00 00 00 0f");
        ClickControl(dlg, IDC_PORT_DIRECTION);
        expected << FrameText(0x38) << FrameText(0x38) << FrameText(0x38);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames(2).size(), expected.size(), WAIT_MS);
        QCOMPARE(peer.Frames(2), expected);

        // With a USB board current the exchanges go to it, even with a link again.
        auto pBoard = sim.Plug(SimBoardConfig().Id(3));
        DeliverDeviceChanges(sim);
        QVERIFY(dlg.m_pDevice && !dlg.m_pLink);
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(2), WAIT_MS);
        QVERIFY(ConnectTo(dlg, peer, 3));
        TraceOf(sim);
        ClickControl(dlg, IDC_INPUT_POLARITY);
        ClickControl(dlg, BitBoxId(PORT_A, 0));
        QCOMPARE(TraceOf(sim).size(), 5); // read-configuration twice, the write between
        QCOMPARE(peer.Frames(3), QStringList{FrameText(0x38)});
        sim.Bus().Unplug(pBoard);
        DeliverDeviceChanges(sim);
        QVERIFY(!dlg.m_pDevice && !dlg.m_pLink);
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(3), WAIT_MS);
        QVERIFY(ConnectTo(dlg, peer, 4));
        ClickControl(dlg, IDOK);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_pLink && peer.IsClosed(4), WAIT_MS);
        QVERIFY(ConnectTo(dlg, peer, 5));
        pDlg.reset();
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(5), WAIT_MS);
    }

    // End to end: 'zorvane serve' in its own process, before a USB board on that process's
    // simulated bus, whose trace shows the USB request every frame became.
    void theDialogDrivesAUsbBoardThroughTheBridge()
    {
        CSimFixture sim; // the dialog's bus: no board
        QTemporaryDir dir;
        QFile trace(dir.filePath("trace"));
        qputenv("KELVARD_SIM_BOARDS", "id=7"); // the bridge's bus
        qputenv("KELVARD_SIM_TRACE", trace.fileName().toLocal8Bit());
        QProcess bridge;
        bridge.start(ZORVANE_TOOL,
                     {"serve", "7", "--listen", "127.0.0.1:0", "--allow", "127.0.0.0/8"});
        QVERIFY(bridge.waitForReadyRead(WAIT_MS));
        const QString strServing = QString::fromLatin1(bridge.readLine()).trimmed();
        QCOMPARE(strServing.section(':', 0, -2), "serving board 7 (sim:0) on 127.0.0.1");
        const quint16 nPort = strServing.section(':', -1).toUShort();
        // Found through the driver layer alone: query-mode first (the library asks read-device-id).
        QVERIFY(trace.open(QIODevice::ReadOnly) && trace.readLine().startsWith("0 > 08 "));
        QByteArray traced;
        const auto Traced = [&](const char* pszLine)
        { return (traced += trace.readAll()).contains(QByteArray("\n") + pszLine + "\n"); };

        // Another client makes port B outputs; the dialog's Connect takes the board over.
        CLoopbackClient other(nPort);
        const NetFrame directions = BuildWriteDirectionsFrame({0xFF, 0x00, 0xFF, 0xFF, 0xFF});
        QVERIFY(other.Send(HexText(directions.data(), directions.size())));
        QTRY_VERIFY_WITH_TIMEOUT(Traced("0 > 39 ff 00 00 00 ff 00 ff 00 ff 00"), WAIT_MS);
        COpenDlg dlg(sim);
        PressConnect(dlg, nPort);
        QCOMPARE(other.Receive(1), std::string("closed"));
        // Port B all outputs: B1 set, a poll shows its pins, B driving its new latch and the
        // inputs low. Then the bridge stops as Ctrl-C stops it: it ends well, the link closes.
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "ff 00 ff ff ff", WAIT_MS);
        ClickControl(dlg, BitBoxId(PORT_B, 1));
        dlg.OnTimer(TIMER_POLL);
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "00 02 00 00 00", WAIT_MS);
        bridge.terminate();
        QVERIFY(bridge.waitForFinished(WAIT_MS) && bridge.exitCode() == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_pLink, WAIT_MS);
        QVERIFY(Traced("0 > 37 ff 02 ff ff ff")); // the USB request the click became
    }
};

QTEST_MAIN(TestTarvel)
#include "test_tarvel.moc"
