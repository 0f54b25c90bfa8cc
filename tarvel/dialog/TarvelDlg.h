#pragma once
// The main dialog "Kelvard IO" (template 102): the list of attached boards with the identity of
// the selected one, and a grid of 40 check boxes, one per pin of ports A to E, in four views
// (pin levels, directions, input polarity, analog inputs), polled every 100 ms.
//
// The class is split by concern: TarvelDlg.cpp (start-up, routing, closing),
// TarvelDlgDiscovery.cpp (finding and selecting boards), TarvelDlgGrid.cpp (grid, views,
// polling), TarvelDlgExchanges.cpp (the port and configuration exchanges),
// TarvelDlgNetwork.cpp (the network link's buttons and frames), and, with the tool's other
// update parts in tarvel/bootloader, TarvelDlgUpdate.cpp (the Update button, the hand-over of
// boards to the firmware update and its progress).
#include "tarvel/dialog/TemplateDialog.h"
#include "tarvel/net/LinkOwner.h"

#include "firmware/BootLoadThread.h"
#include "protocol/net/Frames.h"

#include "protocol/DeviceWatch.h"
#include "protocol/PortTypes.h"

#include <QIcon>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CClientSocket;
class CComboBoxCtrl;
class CCheckBoxCtrl;
class CIPAddressCtrl;
class CUsbDev;
class QLabel;
class QLineEdit;
class QProgressBar;
class QProgressDialog;
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
    explicit CTarvelDlg(QWidget* pParent = nullptr);
    // A dialog destroyed without being closed still releases its boards.
    ~CTarvelDlg() override;

    // --- Dialog data ---------------------------------------------------------------------

    QPushButton* m_btnUpdate = nullptr;
    CComboBoxCtrl* m_cbDevices = nullptr;              // entries own their CUsbDev
    std::array<CCheckBoxCtrl*, BIT_BOXES> m_chkBits{}; // E7 down to E0, then D7 down to A0
    QLabel* m_stFirmware = nullptr;
    QLineEdit* m_edSerial = nullptr;
    int m_nView = -1; // checked view radio button: 0 Port Bits ... 3 Analog Inputs
    QString m_strMessage;
    std::uint8_t m_nAnalogMask = 0; // bit k: the caption of Ek shows analog channel k
    CUsbDev* m_pDevice = nullptr;   // the current board; owned by its list entry
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
    bool IsInBootloader(CUsbDev* pDevice);
    std::string ReadSerialText();
    std::uint16_t ReadVersion();
    int ReadDeviceId(CUsbDev* pDevice);
    void DropConnection() override;

    // --- Firmware update (TarvelDlgUpdate.cpp) -------------------------------------------

    // Update (1035): asks, and on Yes sends the selected board into its bootloader.
    void OnUpdateButton();
    // The bootloader branch of discovery: the serial-number prompt when the boot block holds
    // none, then a worker that updates the board and owns it from then on. The board is
    // "Device n" (its instance) while it is updated.
    void StartBootloaderUpdate(std::unique_ptr<CUsbDev> pDevice, std::uint32_t nInstance);
    // "Failed boot load", on the dialog thread, once for each update that failed.
    void OnBootLoadFailed();
    // While any update runs: which boards are being updated and how far, in the free corner
    // right of the Device group; nothing of it shows otherwise. Every 100 ms while updates run.
    void ShowUpdateProgress();
    // Closing while updates run: says which update it finishes, and ends the dialog (with
    // nResult) once the last has ended. True when that is what happens.
    bool FinishUpdatesBeforeClosing(int nResult);

    // The running updates; one board is never updated by two of them at once. Destroying it
    // waits for them, so no failure report can reach a dialog that is gone.
    CBootLoadWorkers m_bootLoads;
    // The update progress: not controls of the template, and hidden while no update runs.
    QLabel* m_stUpdating = nullptr;
    QProgressBar* m_pbUpdating = nullptr;
    // Shown while the dialog waits for the updates to end before it closes.
    QProgressDialog* m_pFinishing = nullptr;

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
    // Makes the (hidden) update progress widgets.
    void CreateUpdateProgress();

    QTimer m_tmrPoll;
    QTimer m_updateTimer;   // ShowUpdateProgress while updates run
    int m_nCloseResult = 0; // the result the dialog ends with once the updates are finished
    int m_nWatch = 0;       // registration with the driver's device-change watch
    // A rebuild is running. The serial-number prompt inside it runs a message loop that still
    // delivers device changes; they are held until the rebuild has ended, then handled.
    bool m_bRebuilding = false;
    bool m_bDeviceChangeHeld = false;
};
