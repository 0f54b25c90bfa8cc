#include "dialog/TarvelApp.h"

#include "dialog/SimulatedBoards.h"
#include "dialog/TarvelDlg.h"

#include "DebugOutput.h"

#include <QCommandLineParser>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <exception>

namespace
{
constexpr int SCREENSHOT_DELAY_MS = 2000;
} // namespace

CTarvelApp::CTarvelApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationVersion(QStringLiteral("1.0.1.0"));
    SetDialogStyle();
}

void CTarvelApp::SetDialogStyle()
{
    QApplication::setStyle(QStringLiteral("Windows"));
}

CTarvelApp::~CTarvelApp() = default;

bool CTarvelApp::InitInstance()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Kelvard IO: lists the boards and shows and sets their pins."));
    parser.addHelpOption();
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Use the simulated boards of KELVARD_SIM_BOARDS."));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the dialog after 2 s, then close."),
        QStringLiteral("path"));
    const QCommandLineOption quitAfter(QStringLiteral("quit-after"),
                                       QStringLiteral("Close the dialog after this many seconds."),
                                       QStringLiteral("seconds"));
    parser.addOptions({simulate, screenshot, quitAfter});
    const bool bParsed = parser.parse(arguments());
    if (!bParsed || !parser.positionalArguments().isEmpty())
    {
        const QString strError = bParsed ? QStringLiteral("unexpected argument %1")
                                               .arg(parser.positionalArguments().constFirst())
                                         : parser.errorText();
        std::fprintf(stderr, "tarvel: %s\n%s", qPrintable(strError), qPrintable(parser.helpText()));
        m_nExitStatus = 2;
        return false;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
    {
        std::printf("%s", qPrintable(parser.helpText()));
        return false;
    }
    bool bSecondsOk = true;
    const double dQuitAfter =
        parser.isSet(quitAfter) ? parser.value(quitAfter).toDouble(&bSecondsOk) : 0.0;
    if (!bSecondsOk || dQuitAfter < 0)
    {
        std::fprintf(stderr, "tarvel: --quit-after needs a number of seconds\n");
        m_nExitStatus = 2;
        return false;
    }

    if (parser.isSet(simulate))
        m_pSimulation = std::make_unique<CSimulatedBoards>();

    CTarvelDlg dlg;
    m_pMainWnd = &dlg;
    if (parser.isSet(screenshot))
    {
        const QString strPath = parser.value(screenshot);
        const bool bCloseAfter = !parser.isSet(quitAfter);
        QTimer::singleShot(SCREENSHOT_DELAY_MS, &dlg,
                           [this, &dlg, strPath, bCloseAfter]
                           {
                               if (dlg.grab().save(strPath))
                               {
                                   std::printf("%s\n", qPrintable(strPath));
                                   std::fflush(stdout);
                               }
                               else
                               {
                                   std::fprintf(stderr, "tarvel: cannot save %s\n",
                                                qPrintable(strPath));
                                   m_nExitStatus = 1;
                               }
                               if (bCloseAfter)
                                   dlg.close();
                           });
    }
    if (parser.isSet(quitAfter))
        QTimer::singleShot(static_cast<int>(dQuitAfter * 1000), &dlg, [&dlg] { dlg.close(); });

    dlg.DoModal();
    m_pMainWnd = nullptr;
    m_pSimulation.reset();
    return false;
}

bool CTarvelApp::notify(QObject* pReceiver, QEvent* pEvent)
{
    try
    {
        return QApplication::notify(pReceiver, pEvent);
    }
    catch (const std::exception& e)
    {
        DebugOutputFormat("Unhandled exception: %s\n", e.what());
    }
    catch (...)
    {
        DebugOutput("Unhandled exception\n");
    }
    return false;
}
