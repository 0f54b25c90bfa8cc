#include "tarvel/dialog/TarvelApp.h"

#include "tarvel/dialog/SimulatedBoards.h"
#include "tarvel/dialog/TarvelDlg.h"

#include "protocol/DebugOutput.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <string>
#include <utility>

namespace
{
constexpr int SCREENSHOT_DELAY_MS = 2000;

// Qt's own options, which the application object takes out of the command line: accepted
// here and left for it.
struct SQtOption
{
    const char* pszName;
    bool bValue;
};
constexpr SQtOption QT_OPTIONS[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"display", true},         {"style", true},
    {"stylesheet", true},      {"geometry", true},
    {"qwindowgeometry", true}, {"qwindowtitle", true},
    {"qwindowicon", true},     {"reverse", false},
    {"nograb", false},         {"dograb", false},
    {"sync", false},
};
} // namespace

bool CTarvelApp::ParseCommandLine(int argc, char** argv, STarvelOptions& options, int& nExitStatus)
{
    nExitStatus = 0;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    // Qt's options are single-dash words (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Kelvard IO: lists the boards and shows and sets their pins."));
    // Qt's own help option would offer --help-all, whose Qt part needs an application object.
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
        QStringLiteral("Displays help on commandline options."));
    QCommandLineOption helpAll(QStringLiteral("help-all"));
    helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
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
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOptions({help, helpAll, version, simulate, screenshot, quitAfter});
    for (const SQtOption& qtOption : QT_OPTIONS)
    {
        QCommandLineOption option(QString::fromLatin1(qtOption.pszName));
        if (qtOption.bValue)
            option.setValueName(QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    // Without an application object the usage line cannot name the program by itself.
    const QString strProgram = arguments.isEmpty() ? QStringLiteral("tarvel")
                                                   : QFileInfo(arguments.constFirst()).fileName();
    auto helpText = [&]
    { return parser.helpText().replace(QStringLiteral("<executable_name>"), strProgram); };

    const bool bParsed = parser.parse(arguments);
    if (!bParsed || !parser.positionalArguments().isEmpty())
    {
        const QString strError = bParsed ? QStringLiteral("unexpected argument %1")
                                               .arg(parser.positionalArguments().constFirst())
                                         : parser.errorText();
        std::fprintf(stderr, "tarvel: %s\n%s", qPrintable(strError), qPrintable(helpText()));
        nExitStatus = 2;
        return false;
    }
    if (parser.isSet(help) || parser.isSet(helpAll))
    {
        std::printf("%s", qPrintable(helpText()));
        return false;
    }
    if (parser.isSet(version))
    {
        std::printf("tarvel %s\n", KELVARD_VERSION);
        return false;
    }
    bool bSecondsOk = true;
    options.bQuitAfter = parser.isSet(quitAfter);
    options.dQuitAfter = options.bQuitAfter ? parser.value(quitAfter).toDouble(&bSecondsOk) : 0.0;
    if (!bSecondsOk || options.dQuitAfter < 0)
    {
        std::fprintf(stderr, "tarvel: --quit-after needs a number of seconds\n");
        nExitStatus = 2;
        return false;
    }
    options.bSimulate = parser.isSet(simulate);
    options.strScreenshot = parser.isSet(screenshot) ? parser.value(screenshot) : QString();
    return true;
}

CTarvelApp::CTarvelApp(int& argc, char** argv, STarvelOptions options,
                       BootloaderBoardsFactory fnBootloaderBoards)
    : QApplication(argc, argv), m_optsCommand(std::move(options)),
      m_fnBootloaderBoards(std::move(fnBootloaderBoards))
{
    setApplicationVersion(QStringLiteral(KELVARD_VERSION ".0"));
    SetDialogStyle();
}

void CTarvelApp::SetDialogStyle()
{
    QApplication::setStyle(QStringLiteral("Windows"));
}

CTarvelApp::~CTarvelApp() = default;

QString CTarvelApp::SimulatedBoardsImage(const QString& strProgramDir)
{
    const QDir programDir(strProgramDir);
    const QString strBeside = programDir.filePath(QLatin1String(HEX_FILE_NAME));
    const QString strInstalled = QDir::cleanPath(programDir.filePath(
        QStringLiteral(TARVEL_DATA_FROM_BIN "/") + QLatin1String(HEX_FILE_NAME)));
    return QFileInfo::exists(strBeside) || !QFileInfo::exists(strInstalled) ? strBeside
                                                                            : strInstalled;
}

bool CTarvelApp::InitInstance()
{
    std::shared_ptr<CDriverContext> pContext; // none: the default context
    if (m_optsCommand.bSimulate)
    {
        std::string strError;
        pContext = CreateSimulatedBoards(strError);
        if (!pContext)
        {
            std::fprintf(stderr, "tarvel: --simulate: %s\n", strError.c_str());
            m_nExitStatus = 1;
            return false;
        }
        // Anything else in the process that reaches for the default finds the same bus.
        CDriverContext::SetDefault(pContext);
    }

    CTarvelDlg dlg(pContext);
    if (m_fnBootloaderBoards)
        dlg.SetBootloaderBoards(m_fnBootloaderBoards(dlg));
    m_pMainWnd = &dlg;
    if (m_optsCommand.bSimulate)
        dlg.m_strHexPath = SimulatedBoardsImage(QCoreApplication::applicationDirPath());
    if (!m_optsCommand.strScreenshot.isEmpty())
    {
        const QString strPath = m_optsCommand.strScreenshot;
        const bool bCloseAfter = !m_optsCommand.bQuitAfter;
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
    if (m_optsCommand.bQuitAfter)
        QTimer::singleShot(static_cast<int>(m_optsCommand.dQuitAfter * 1000), &dlg,
                           [&dlg] { dlg.close(); });

    dlg.DoModal();
    m_pMainWnd = nullptr;
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
