#pragma once
// The dialog's firmware update. A board found in its bootloader gets the serial-number prompt
// when its boot block holds none, then a worker that updates it and owns it from then on; Update
// checks the image before it sends the selected board into its bootloader. While updates run,
// which boards and how far shows in the free corner right of the Device group, and closing
// waits for them. One board is never updated by two workers at once.
#include "tarvel/dialog/BootloaderBoards.h"

#include "firmware/BootLoadThread.h"

#include <QObject>
#include <QTimer>

#include <string>

class CTarvelDlg;
class QLabel;
class QProgressBar;
class QProgressDialog;

class CDialogUpdates : public QObject, public CBootloaderBoards
{
    Q_OBJECT
public:
    // Its progress widgets become (hidden) children of dlg, which must outlive this object.
    explicit CDialogUpdates(CTarvelDlg& dlg);
    // Waits for the running updates (m_bootLoads), so no failure report reaches a dialog that
    // is gone.
    ~CDialogUpdates() override = default;

    bool IsUpdating(const CBoardLink& link) const override;
    // The board is "Device n" (its instance) while it is updated.
    void TakeBoard(CBoardLink link, std::uint32_t nInstance) override;
    void UpdateBoard(CBoardLink& link) override;
    bool FinishBeforeClosing(int nResult) override;

    // "Failed boot load", on the dialog thread, once for each update that failed.
    void OnBootLoadFailed();
    // Every 100 ms while updates run; nothing of it shows otherwise.
    void ShowUpdateProgress();

    CBootLoadWorkers m_bootLoads;
    // Not controls of the template, and hidden while no update runs.
    QLabel* m_stUpdating = nullptr;
    QProgressBar* m_pbUpdating = nullptr;
    // Shown while the dialog waits for the updates to end before it closes.
    QProgressDialog* m_pFinishing = nullptr;

private:
    // The image the dialog updates boards with.
    std::string HexPath() const;

    CTarvelDlg* m_pDlg;
    QTimer m_tmrProgress;   // ShowUpdateProgress while updates run
    int m_nCloseResult = 0; // the result the dialog ends with once the updates are finished
};
