#pragma once
// Driving the real "Kelvard IO" dialog against the simulated bus (a CSimFixture declared before
// the dialog, so it outlives it, and whose Context() the dialog is given): trace lines, the grid
// as port bytes, clicks on controls by ID, device-change delivery and the debug log; boxes and
// prompts answered as a person would; a peer for the network link.
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
    QTest::mouseClick(dlg.GetDlgItem(nId), Qt::LeftButton);
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
inline bool WaitForUpdates(CDialogUpdates& updates)
{
    return QTest::qWaitFor([&] { return updates.m_bootLoads.Running() == 0; }, 120000);
}

// A board that left (restarted, or went into its bootloader) comes back, and discovery sees it
// go and return.
inline void ComeBack(CSimFixture& sim, const std::shared_ptr<CSimBoard>& pBoard)
{
    const auto boards = sim.Bus().Boards();
    QVERIFY(std::find(boards.begin(), boards.end(), pBoard) == boards.end());
    DeliverDeviceChanges(sim);
    sim.Bus().Replug(pBoard);
    DeliverDeviceChanges(sim);
}

// Only keeps a broken build from hanging; not what the tests check.
constexpr int WAIT_MS = 10000;

inline QByteArray Bytes(std::initializer_list<std::uint8_t> bytes)
{
    return QByteArray(reinterpret_cast<const char*>(std::data(bytes)), qsizetype(bytes.size()));
}

// A 12-byte frame as the tool sends it: code, length 0x0C, the payload from byte 2, zeros;
// and the same in hex.
inline QByteArray Frame(std::uint8_t byCode, std::initializer_list<std::uint8_t> payload = {})
{
    return (Bytes({byCode, 0x0C}) + Bytes(payload)).leftJustified(NET_FRAME_SIZE, '\0');
}
inline QString FrameText(std::uint8_t byCode, std::initializer_list<std::uint8_t> payload = {})
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
inline void PressConnect(CTarvelDlg& dlg, quint16 nPort, const char* pszAddress = "127.0.0.1")
{
    qputenv("KELVARD_NET_PORT", QByteArray::number(nPort));
    dlg.m_ipAddress->SetAddress(QHostAddress(QString::fromLatin1(pszAddress)).toIPv4Address());
    ClickControl(dlg, IDC_CONNECT);
}

// Connects to the peer: true once the link is connected and the read-configuration frame has
// arrived on the peer's connection n.
inline bool ConnectTo(CTarvelDlg& dlg, CTestPeer& peer, qsizetype n)
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
inline QString StoredAddress()
{
    const QString strIni = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Tarvel.ini";
    return QSettings(strIni, QSettings::IniFormat).value("Settings/IPAddress").toString();
}
