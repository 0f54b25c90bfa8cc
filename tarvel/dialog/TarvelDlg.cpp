// CTarvelDlg: construction, data exchange, message routing, start-up, the Update button's
// question and closing.
#include "tarvel/dialog/TarvelDlg.h"

#include "firmware/BoardRecord.h"
#include "tarvel/dialog/AboutDlg.h"
#include "tarvel/dialog/ButtonCtrl.h"
#include "tarvel/dialog/ComboBoxCtrl.h"
#include "tarvel/dialog/IpAddressCtrl.h"
#include "tarvel/dialog/TarvelSettings.h"
#include "tarvel/res/AppIcon.h"
#include "tarvel/res/ControlIds.h"
#include "tarvel/res/StringTable.h"

#include "protocol/DebugOutput.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include <exception>
#include <utility>

namespace
{
constexpr char UPDATE_QUESTION[] = "Do you want to update the firmware at this time?";
constexpr char UPDATE_TITLE[] = "Device Firmware";
} // namespace

CTarvelDlg::CTarvelDlg(std::shared_ptr<CDriverContext> pContext, QWidget* pParent)
    : CTemplateDialog(IDD_TARVEL_DIALOG, pParent), m_hIcon(LoadAppIcon()),
      m_pContext(std::move(pContext))
{
}

void CTarvelDlg::SetBootloaderBoards(std::unique_ptr<CBootloaderBoards> pBootloaderBoards)
{
    m_pBootloaderBoards = std::move(pBootloaderBoards);
}

CTarvelDlg::~CTarvelDlg()
{
    StopDeviceWatch();
    if (m_cbDevices && m_cbDevices->GetCount() > 0)
        ReleaseDevices();
    DropConnection(); // the link too, before the widgets it reports to go
}

void CTarvelDlg::DoDataExchange(CDataExchange* pDX)
{
    CTemplateDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_UPDATE, m_btnUpdate);
    DDX_Control(pDX, IDC_DEVICES, m_cbDevices);
    int nBox = 0;
    for (int nBit = 7; nBit >= 0; --nBit)
        DDX_Control(pDX, BitBoxId(PORT_E, nBit), m_chkBits[nBox++]);
    for (int nId = IDC_BIT_D7; nId >= IDC_BIT_A0; --nId)
        DDX_Control(pDX, nId, m_chkBits[nBox++]);
    DDX_Control(pDX, IDC_FIRMWARE, m_stFirmware);
    DDX_Control(pDX, IDC_SERIAL, m_edSerial);
    DDX_Radio(pDX, IDC_PORT_BITS, m_nView);
    DDX_Text(pDX, IDC_MESSAGE, m_strMessage);
    DDX_Control(pDX, IDC_IPADDRESS, m_ipAddress);
}

// The routing of the dialog's messages and control notifications to their handlers.
void CTarvelDlg::ConnectMessageMap()
{
    auto button = [this](int nId) { return qobject_cast<QPushButton*>(GetDlgItem(nId)); };
    auto radio = [this](int nId) { return qobject_cast<QRadioButton*>(GetDlgItem(nId)); };

    connect(this, &CTemplateDialog::SysCommand, this, &CTarvelDlg::OnSysCommand);
    // WM_PAINT: paintEvent; WM_QUERYDRAGICON: OnQueryDragIcon.
    connect(&m_tmrPoll, &QTimer::timeout, this, [this] { OnTimer(m_nTimer); });
    connect(
        this, &CTarvelDlg::DeviceChange, this,
        [this](unsigned nEventType, quintptr dwData)
        {
            if (m_nWatch != 0) // a notice queued before the dialog ended is dropped
                OnDeviceChange(nEventType, dwData);
        },
        Qt::QueuedConnection);
    connect(m_cbDevices, &QComboBox::activated, this, &CTarvelDlg::OnSelectDevice);
    for (CCheckBoxCtrl* pBox : m_chkBits)
        connect(pBox, &QAbstractButton::clicked, this, &CTarvelDlg::OnBitClicked);
    connect(radio(IDC_PORT_BITS), &QAbstractButton::clicked, this, &CTarvelDlg::OnPortBits);
    connect(radio(IDC_PORT_DIRECTION), &QAbstractButton::clicked, this,
            &CTarvelDlg::OnPortDirection);
    connect(radio(IDC_INPUT_POLARITY), &QAbstractButton::clicked, this,
            &CTarvelDlg::OnInputPolarity);
    connect(radio(IDC_ANALOG_INPUTS), &QAbstractButton::clicked, this, &CTarvelDlg::OnAnalogInputs);
    for (int nPort = PORT_A; nPort < PORT_COUNT; ++nPort)
    {
        connect(button(SetButtonId(nPort)), &QPushButton::clicked, this,
                [this, nPort] { OnSetPort(nPort); });
        connect(button(ClearButtonId(nPort)), &QPushButton::clicked, this,
                [this, nPort] { OnClearPort(nPort); });
    }
    connect(m_btnUpdate, &QPushButton::clicked, this, &CTarvelDlg::OnUpdateButton);
    connect(button(IDC_CONNECT), &QPushButton::clicked, this, &CTarvelDlg::OnConnectButton);
    connect(button(IDC_CLOSE_LINK), &QPushButton::clicked, this, &CTarvelDlg::OnCloseButton);
    // 1 (OK) and Cancel: the virtual OnOK and OnCancel, routed by CTemplateDialog; Escape and
    // the close box reach OnCancel through reject().
}

bool CTarvelDlg::OnInitDialog()
{
    CTemplateDialog::OnInitDialog();
    // Only now: a dialog kept for its network link alone, never made, starts no bus.
    if (!m_pContext)
        m_pContext = CDriverContext::Default();
    ConnectMessageMap();
    StartDeviceWatch();

    if (QMenu* pSysMenu = GetSystemMenu())
    {
        const QString strAboutMenu = QString::fromUtf8(LoadResString(IDS_ABOUTBOX));
        if (!strAboutMenu.isEmpty())
        {
            pSysMenu->addSeparator();
            pSysMenu->addAction(strAboutMenu)->setData(IDM_ABOUTBOX);
        }
    }

    setWindowIcon(m_hIcon);

    // Beside the program, unless the application chose the image before (simulated boards).
    if (m_strHexPath.isEmpty())
        m_strHexPath = QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                       QLatin1String(HEX_FILE_NAME);

    m_nTimer = 0;
    m_nView = 0;
    m_nAnalogMask = 0;

    m_stFirmware->setText(QString());
    m_btnUpdate->setEnabled(false);

    // D5 to D7 are not pins of the boards; they stay hidden and disabled.
    for (int nBit = 5; nBit < 8; ++nBit)
    {
        BitBox(PORT_D, nBit)->hide();
        BitBox(PORT_D, nBit)->setEnabled(false);
    }

    m_strMessage = QStringLiteral("When checked I/O pins are high - Inverted inputs are low");
    UpdateData(false);

    m_pLink = nullptr;

    m_ipAddress->SetAddress(ReadAddressSetting());

    RefreshDeviceList();
    return true;
}

void CTarvelDlg::OnSysCommand(unsigned nID, quintptr /*lParam*/)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX)
    {
        CAboutDlg dlgAbout(this);
        dlgAbout.DoModal();
    }
    else
    {
        DefaultSysCommand(nID);
    }
}

void CTarvelDlg::paintEvent(QPaintEvent* pEvent)
{
    Q_UNUSED(pEvent);
    OnPaint();
}

void CTarvelDlg::OnPaint()
{
    if (!isMinimized())
        return; // the controls paint themselves
    // A minimised dialog shows its icon centred in the client area.
    QPainter painter(this);
    const QSize size(32, 32);
    const int x = (width() - size.width() + 1) / 2;
    const int y = (height() - size.height() + 1) / 2;
    painter.fillRect(rect(), palette().window());
    m_hIcon.paint(&painter, QRect(QPoint(x, y), size));
}

void CTarvelDlg::OnUpdateButton()
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(UPDATE_TITLE),
                    QString::fromUtf8(UPDATE_QUESTION), QMessageBox::Yes | QMessageBox::No, this);
    if (box.exec() != QMessageBox::Yes || !m_pBootloaderBoards)
        return;
    // The box ran its own message loop: the list may have been rebuilt meanwhile, so the
    // selection is taken as it is now.
    const int nSelected = m_cbDevices->GetCurSel();
    if (nSelected < 0)
        return;
    if (auto* pDevice = static_cast<CBoardRecord*>(m_cbDevices->GetItemDataPtr(nSelected)))
        m_pBootloaderBoards->UpdateBoard(pDevice->m_lnkBoard);
}

void CTarvelDlg::OnOK()
{
    ReleaseDevices();
    StopDeviceWatch();
    if (!m_pBootloaderBoards || !m_pBootloaderBoards->FinishBeforeClosing(IDOK))
        CTemplateDialog::OnOK();
}

void CTarvelDlg::OnCancel()
{
    ReleaseDevices();
    StopDeviceWatch();
    if (!m_pBootloaderBoards || !m_pBootloaderBoards->FinishBeforeClosing(IDCANCEL))
        CTemplateDialog::OnCancel();
}

void CTarvelDlg::StartDeviceWatch()
{
    if (m_nWatch != 0)
        return;
    // Runs on the watch's thread: only queue the notices to the dialog's thread.
    m_nWatch = m_pContext->Watch().Add(
        [this](EDeviceChange change)
        {
            try
            {
                emit DeviceChange(change == EDeviceChange::Arrival ? DBT_DEVICEARRIVAL
                                                                   : DBT_DEVICEREMOVECOMPLETE,
                                  0);
                emit DeviceChange(DBT_DEVNODES_CHANGED, 0);
            }
            catch (const std::exception& e)
            {
                DebugOutputFormat("Device change not delivered: %s\n", e.what());
            }
        });
}

void CTarvelDlg::StopDeviceWatch()
{
    if (m_nWatch == 0)
        return;
    m_pContext->Watch().Remove(m_nWatch);
    m_nWatch = 0;
}
