#pragma once
// The main dialog "Kelvard IO" (template 102): the list of attached boards with the identity of
// the selected one, and a grid of 40 check boxes, one per pin of ports A to E, in four views
// (pin levels, directions, input polarity, analog inputs), polled every 100 ms.
//
// The class is split by concern: TarvelDlg.cpp (start-up, routing, Update's question, closing),
// TarvelDlgDiscovery.cpp (finding and selecting boards), TarvelDlgGrid.cpp (grid, views,
// polling), TarvelDlgExchanges.cpp (the port and configuration exchanges),
// TarvelDlgNetwork.cpp (the network link's buttons and frames). The firmware update lives a
// layer above, behind CBootloaderBoards.
#include "tarvel/dialog/BootloaderBoards.h"
#include "tarvel/dialog/TemplateDialog.h"
#include "tarvel/net/LinkOwner.h"

#include "protocol/net/Frames.h"

#include "protocol/DriverContext.h"
#include "protocol/PortTypes.h"

#include <QIcon>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CBoardRecord;
class CClientSocket;
class CComboBoxCtrl;
class CCheckBoxCtrl;
class CIPAddressCtrl;
class QLabel;
class QLineEdit;
class QPushButton;

// The poll timer: identifier and period.
inline constexpr int TIMER_POLL = 100;
inline constexpr int POLL_PERIOD_MS = 100;

// The firmware image that Update writes, beside the program.
inline constexpr char HEX_FILE_NAME[] = "KelvardUSB.hex";

// Number of bit boxes: eight for each of the ports A to E.
inline constexpr int BIT_BOXES = 40;

class CTarvelDlg : public CTemplateDialog, public CLinkOwner
{
    Q_OBJECT
public:
    // Boards come from pContext; none: the default driver context, once the dialog is made.
    explicit CTarvelDlg(std::shared_ptr<CDriverContext> pContext = nullptr,
                        QWidget* pParent = nullptr);
    // A dialog destroyed without being closed still releases its boards.
    ~CTarvelDlg() override;

    // The firmware update part (the program gives it before the dialog is made). An earlier
    // one goes, once its updates have ended.
    void SetBootloaderBoards(std::unique_ptr<CBootloaderBoards> pBootloaderBoards);

    // --- Dialog data ---------------------------------------------------------------------

    QPushButton* m_btnUpdate = nullptr;
    CComboBoxCtrl* m_cbDevices = nullptr;              // entries own their CBoardRecord
    std::array<CCheckBoxCtrl*, BIT_BOXES> m_chkBits{}; // E7 down to E0, then D7 down to A0
    QLabel* m_stFirmware = nullptr;
    QLineEdit* m_edSerial = nullptr;
    int m_nView = -1; // checked view radio button: 0 Port Bits ... 3 Analog Inputs
    QString m_strMessage;
    std::uint8_t m_nAnalogMask = 0;    // bit k: the caption of Ek shows analog channel k
    CBoardRecord* m_pDevice = nullptr; // the current board; owned by its list entry
    QIcon m_hIcon;
    CClientSocket* m_pLink = nullptr; // the network link, owned; none when not connected
    int m_nTimer = 0;                 // TIMER_POLL while polling, else 0
    QString m_strHexPath;
    int m_nDeviceCount = 0; // device count seen by the last enumeration
    CIPAddressCtrl* m_ipAddress = nullptr;

    // --- Start-up, routing and closing (TarvelDlg.cpp) -----------------------------------

    bool OnInitDialog() override;
    void OnSysCommand(unsigned nID, quintptr lParam);
    void OnPaint();
    QIcon OnQueryDragIcon() const { return m_hIcon; }
    void OnOK() override;
    void OnCancel() override;

    // --- Discovery and selection (TarvelDlgDiscovery.cpp) --------------------------------

    void RefreshDeviceList();
    void ReleaseDevices();
    void OnSelectDevice();
    void ShowSelectedDevice();
    bool OnDeviceChange(unsigned nEventType, quintptr dwData);
    bool IsInBootloader(CBoardRecord* pDevice);
    std::string ReadSerialText();
    std::uint16_t ReadVersion();
    int ReadDeviceId(CBoardRecord* pDevice);
    void DropConnection() override;
    // Update (1035): asks, and on Yes hands the selected board to the firmware update.
    void OnUpdateButton();

    // --- Grid, views and polling (TarvelDlgGrid.cpp) -------------------------------------

    void OnPortBits();
    void OnPortDirection();
    void OnInputPolarity();
    void OnAnalogInputs();
    void RefreshView();
    void OnBitClicked();
    void OnSetPort(int nPort);
    void OnClearPort(int nPort);
    void OnTimer(int nIDEvent);
    void SetGrid(const PortBytes& byPorts);
    void EnableGrid(const PortBytes& byDisabled);
    void LoadAnalogMask();
    // The bit box of a port (PORT_A ... PORT_E) and bit.
    CCheckBoxCtrl* BitBox(int nPort, int nBit) const;

    // --- Port and configuration exchanges (TarvelDlgExchanges.cpp) -----------------------

    bool ReadPorts(PortBytes& byPorts, bool bRefresh);
    bool WritePorts(const PortBytes& byPorts);
    bool ReadDirections(PortBytes& byPorts, bool bRefresh);
    bool WriteDirections(const PortBytes& byPorts);
    bool ReadInversions(PortBytes& byPorts, bool bRefresh);
    bool WriteInversions(const PortBytes& byPorts);
    bool WriteAnalogCount(int nCount);
    // The number of valid channels the board announced (0 on failure); fills at most four.
    int ReadAnalog(std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings);

    // --- Network link (TarvelDlgNetwork.cpp) ---------------------------------------------

    // Opens a new link to the address in the IP address control (the old one goes first) and
    // stores that address as the "IPAddress" setting, whether or not the connection succeeds.
    void OnConnectButton();
    // Ends the link; without one it does nothing.
    void OnCloseButton();
    // Sends read-configuration once the link's connection is made (error code 0).
    void RequestConfiguration(int nErrorCode) override;
    // A complete frame from the link: read-ports and read-configuration replies draw the
    // grid; anything else, or a reply too short for its positions, changes nothing.
    void OnSocketFrame(const std::uint8_t* pFrame, int nLength, CClientSocket* pLink) override;

signals:
    // A device-change notice, queued from the driver's watch thread to the dialog's.
    void DeviceChange(unsigned nEventType, quintptr dwData);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void ConnectMessageMap();
    void StartDeviceWatch();
    void StopDeviceWatch();
    int SetTimer(int nIDEvent, int nElapse);
    void KillTimer(int nIDEvent);
    // Starts polling when any direction byte is non-zero, stops it when all are zero.
    void ApplyPollingRule(const PortBytes& byDirections);
    void SwitchView(int nView);
    PortBytes GridToBytes() const;
    // Gives E(nFirst) to E3 back their plain captions.
    void ResetAnalogCaptions(int nFirst);
    // Reads the current board's configuration block, lets fnChange change its fields and
    // writes it back; false when either exchange failed (nothing is written after a failed
    // read).
    bool ChangeConfiguration(const std::function<void(ConfigBlock&)>& fnChange);
    // The network form of an exchange: the frame goes over the link, if there is one.
    void SendLinkFrame(NetFrame frame);

    // One pass of RefreshDeviceList; RefreshDeviceList keeps passes from nesting.
    void RebuildDeviceList();

    std::shared_ptr<CDriverContext> m_pContext;
    // Goes before the widgets its progress shows in, waiting for the running updates.
    std::unique_ptr<CBootloaderBoards> m_pBootloaderBoards;
    QTimer m_tmrPoll;
    int m_nWatch = 0; // registration with the context's device-change watch
    // A rebuild is running. The serial-number prompt inside it runs a message loop that still
    // delivers device changes; they are held until the rebuild has ended, then handled.
    bool m_bRebuilding = false;
    bool m_bDeviceChangeHeld = false;
};
