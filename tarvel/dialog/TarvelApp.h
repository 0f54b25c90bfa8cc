#pragma once
// The application object: runs the main dialog modally and ends when it closes. Options:
//   --simulate           boards on the simulated bus (KELVARD_SIM_BOARDS) with drifting inputs
//                        (exit status 1 when the simulated bus is not installed)
//   --screenshot PATH    save a picture of the dialog after 2 s, print PATH, then close
//   --quit-after SECONDS close the dialog after that many seconds
//   --version            print the version
#include "tarvel/dialog/BootloaderBoards.h"

#include <QApplication>
#include <QString>

class CTarvelDlg;

// What the command line asks for.
struct STarvelOptions
{
    bool bSimulate = false;
    QString strScreenshot; // empty: no picture
    bool bQuitAfter = false;
    double dQuitAfter = 0.0; // seconds
};

class CTarvelApp : public QApplication
{
    Q_OBJECT
public:
    // Reads the command line before any application object exists, so that help and a wrong
    // command line need no display. Qt's own options (-platform, -style, ...) pass through to
    // the application object. True when the dialog is to run; otherwise the help or the
    // complaint has been printed and nExitStatus is the process's status (0, or 2).
    static bool ParseCommandLine(int argc, char** argv, STarvelOptions& options, int& nExitStatus);

    // fnBootloaderBoards makes the dialog's firmware update part; none: boards in their
    // bootloader are left alone.
    CTarvelApp(int& argc, char** argv, STarvelOptions options = {},
               BootloaderBoardsFactory fnBootloaderBoards = {});
    ~CTarvelApp() override;

    // Runs the dialog; returns false, so that the program ends when the dialog closes.
    bool InitInstance();
    // The process's exit status: 0, or 2 for a wrong command line, 1 for a failed screenshot or
    // a simulated bus that is not installed.
    int ExitStatus() const { return m_nExitStatus; }

    // The image Update writes into simulated boards: a demonstration, not firmware for real
    // boards. Beside the program, where the build puts it; else where the packages install it
    // (share/tarvel beside bin/), if it is there.
    static QString SimulatedBoardsImage(const QString& strProgramDir);

    // The classic look of the platform the dialog comes from, where Qt offers it.
    static void SetDialogStyle();

    // Handlers never let an exception into the event loop.
    bool notify(QObject* pReceiver, QEvent* pEvent) override;

    CTarvelDlg* m_pMainWnd = nullptr;

private:
    STarvelOptions m_optsCommand;
    BootloaderBoardsFactory m_fnBootloaderBoards;
    int m_nExitStatus = 0;
};
