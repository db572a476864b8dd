#include "app/MainDialog.h"

#include "app/DialogTemplate.h"
#include "app/MainWindowLayout.h"
#include "app/StationIcon.h"
#include "platform/ProcessEnd.h"
#include "platform/StationPaths.h"
#include "platform/SystemLocale.h"
#include "records/PassCounters.h"
#include "records/RecordStore.h"
#include "settings/LanguageText.h"
#include "settings/StationConfig.h"
#include "settings/VersionFileReader.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

#include <future>

namespace {

const QString kVersionLabel = QStringLiteral("Vintrel_RT40K_USV1.00.00");

} // namespace

MainDialog::MainDialog(Services services)
    : m_window(&m_callContext)
    , m_services(std::move(services))
    , m_prompter(*m_services.prompter)
    , m_recordPrompter(m_prompter)
    , m_clock(*m_services.clock)
    , m_icon(StationIcon::icon())
    , m_keyFilter(this)
    , m_recordDb(m_prompter, &m_callContext)
    , m_log(StationPaths::dataDir() + QStringLiteral("logs/"))
    , m_results(*this)
    , m_lines(*this, m_prompter, m_clock, &m_callContext)
{
    m_lines.SetResultSink(&m_results);
    if (!m_services.loadEngine)
        m_services.loadEngine = [](EngineBinding& binding, LineEventHandler* handler, QObject* context) {
            return binding.Load(handler, context);
        };
    // Read once: the menu shows the record database's entry only when set.
    m_recordDbUrl = StationConfig::ReadRecordDbUrl();
    buildWindow();
    // Without a working copy the operator is asked for the record file,
    // before the window shows.
    m_records = std::make_unique<RecordStore>(
        m_recordPrompter, StationPaths::executableDir() + QStringLiteral("RecordCSV.sdi"), StationPaths::dataDir(),
        QSysInfo::machineHostName(), SystemLocale::isSimplifiedChinaChinese());
    m_records->SeedWorkingCopy();
    m_results.SetRecords(m_records.get());
    qApp->installEventFilter(&m_keyFilter);
}

MainDialog::~MainDialog()
{
    // The version reader may wait for its box: released at once.
    m_window.detach();
    qApp->removeEventFilter(&m_keyFilter);
    // Workers and the reader may wait on this window; let them finish.
    m_lines.Shutdown();
    m_versionReader.reset();
    m_recordDb.Stop();
}

void MainDialog::buildWindow()
{
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogTemplate::dialogFont(MainWindowLayout::kFontPoints));
    buildMenu();
    const DialogTemplate layout(font());
    const QPoint origin(0, m_menuBar->sizeHint().height());
    for (int line = 0; line < kLines; ++line) {
        m_rows.Attach(line, layout.createAll(MainWindowLayout::lineRow(line), this, origin));
        connect(m_rows.Button(line), &QPushButton::clicked, this, [this, line] { StartLine(line); });
    }
    layout.createAll(MainWindowLayout::otherControls(), this, origin);
    setFixedSize(layout.sizeToPixels(MainWindowLayout::kWidth, MainWindowLayout::kHeight) + QSize(0, origin.y()));
    m_menuBar->setGeometry(0, 0, width(), origin.y());

    m_versionField = findChild<QLineEdit*>(QStringLiteral("id%1").arg(MainWindowLayout::IdVersionField));
    auto connectButton = [this](int id, void (MainDialog::*handler)()) {
        connect(qobject_cast<QPushButton*>(Control(id)), &QPushButton::clicked, this, handler);
    };
    connectButton(MainWindowLayout::IdVersionButton, &MainDialog::OnVersionDirectory);
    connectButton(MainWindowLayout::IdStartAll, &MainDialog::StartAllLines);
    connectButton(MainWindowLayout::IdClear, &MainDialog::OnClearCounters);

    m_clockTimer = new QTimer(this);
    m_clockTimer->setInterval(1000);
    connect(m_clockTimer, &QTimer::timeout, this, [this] { OnTimer(kClockTimer); });
}

void MainDialog::buildMenu()
{
    m_menuBar = new QMenuBar(this);
    m_menuBar->setNativeMenuBar(false);
    auto addCommand = [this](QMenu* menu, const QString& caption, int id, void (MainDialog::*handler)()) {
        QAction* action = menu->addAction(caption);
        const QString name = QStringLiteral("id%1").arg(id);
        action->setObjectName(name);
        action->setData(id);
        connect(action, &QAction::triggered, this, handler);
    };
    QMenu* records = m_menuBar->addMenu(QStringLiteral("导出下载记录"));
    addCommand(records, QStringLiteral("PORT"), MainWindowLayout::CmdPortConfig, &MainDialog::OnPortConfig);
    addCommand(records, QStringLiteral("S"), MainWindowLayout::CmdExport, &MainDialog::OnExportRecords);
    if (!m_recordDbUrl.isEmpty())
        addCommand(records, QStringLiteral("DB"), MainWindowLayout::CmdDbStatus, &MainDialog::OnDbStatus);
    QMenu* help = m_menuBar->addMenu(QStringLiteral("帮助"));
    addCommand(help, QStringLiteral("帮助"), MainWindowLayout::CmdHelp, &MainDialog::OnHelp);
    addCommand(help, QStringLiteral("关于"), MainWindowLayout::CmdAbout, &MainDialog::OnAbout);
}

QWidget* MainDialog::Control(int id) const
{
    return findChild<QWidget*>(QStringLiteral("id%1").arg(id));
}

QLabel* MainDialog::label(int id) const
{
    return qobject_cast<QLabel*>(Control(id));
}

QAction* MainDialog::MenuCommand(int id) const
{
    return m_menuBar->findChild<QAction*>(QStringLiteral("id%1").arg(id));
}

bool MainDialog::OnInitDialog()
{
    // The data exchange of the template empties these three.
    m_rows.Imei(0)->clear();
    m_rows.Version(0)->clear();
    label(MainWindowLayout::IdClock)->clear();

    setWindowIcon(m_icon);
    m_countersFilePath = StationPaths::dataDir() + kVersionLabel + QStringLiteral(".ini");
    m_executableDir = StationPaths::executableDir();

    m_instance = std::make_unique<SingleInstance>(kVersionLabel);
    if (m_instance->alreadyRunning()) {
        runSecondInstancePath();
        return false;
    }
    m_records->RemoveStaleTemporaries();
    m_log.Start();
    m_lines.SetLog(&m_log);
    startRecordDb();
    m_clockTimer->start();
    m_lines.ResetLines();
    loadCounters();
    InitControls();
    startVersionReader();
    if (!m_services.loadEngine(m_lines.Binding(), &m_lines, &m_callContext)) {
        m_prompter.warn(QStringLiteral("Load dll failed!"));
        return false;
    }
    RefreshPorts(1);
    return true;
}

void MainDialog::runSecondInstancePath()
{
    if (!StationConfig::ReadRunFlag()) {
        StationConfig::WriteRunFlag(true);
        m_prompter.warn(localText("IDC_EXE_INFO_EXERUNNING"));
        StationConfig::WriteRunFlag(false);
    }
    m_instance.reset();
    ProcessEnd::endProcess(0);
}

void MainDialog::loadCounters()
{
    m_counters = std::make_unique<PassCounters>(m_countersFilePath);
    m_counters->LoadCounters(ClockText());
    m_results.SetCounters(m_counters.get());
    ShowCounters();
}

void MainDialog::ShowCounters()
{
    label(MainWindowLayout::IdTotalCounts)->setText(m_counters->CumulativeDisplay());
    label(MainWindowLayout::IdSuccessCounts)->setText(m_counters->CurrentDisplay());
    label(MainWindowLayout::IdClearTime)->setText(m_counters->ClearTimeDisplay());
}

QString MainDialog::ClockText() const
{
    return label(MainWindowLayout::IdClock)->text();
}

void MainDialog::InitControls()
{
    const QString directory = StationConfig::ReadVersionPath();
    m_versionField->setText(directory);
    m_versionReader = std::make_unique<VersionFileReader>();
    m_versionReader->setDirectory(directory);
    setWindowTitle(kVersionLabel);
    if (StationConfig::ReadDLMode() != 0)
        m_skipVerification = true;
    m_lines.SetDuplicateImeiCheck(StationConfig::ReadDupImeiCheck());
    m_lines.SetAutoStart(StationConfig::ReadAutoStart(),
                         std::chrono::milliseconds(StationConfig::ReadAutoStartDelayMs()));
    // A line that starts by itself while a dialog is open would change what
    // the dialog was allowed to change only while no line runs.
    m_lines.SetAutoStartGate([this] {
        const QWidget* modal = QApplication::activeModalWidget();
        return modal == nullptr || modal == this;
    });
    applyLocalisedTexts();
    m_lines.BindPorts(ParsePorts(StationConfig::ReadPortsText()));
    StationConfig::WriteNvFilePath();
}

void MainDialog::applyLocalisedTexts()
{
    using namespace MainWindowLayout;
    const std::pair<const char*, int> captions[] = {
        {"IDC_EXE_BTN_FILE", IdVersionButton},       {"IDC_EXE_STARTALL", IdStartAll},
        {"IDC_EXE_CLEAN", IdClear},                  {"IDC_EXE_TXT_SUCCESS", IdSuccessCaption},
        {"IDC_EXE_TXT_SUCCESSALL", IdTotalCaption},  {"IDC_EXE_TXT_LASTCLEANTIME", IdClearTimeCaption},
        {"IDC_EXE_TXT_TIMENOW", IdClockCaption},
    };
    for (const auto& [key, id] : captions) {
        QWidget* widget = Control(id);
        const QString text = localText(key);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            button->setText(text);
        else if (auto* caption = qobject_cast<QLabel*>(widget))
            caption->setText(text);
    }
    const QString start = localText("IDC_EXE_TXT_BTN_START");
    for (int line = 0; line < kLines; ++line)
        m_rows.Button(line)->setText(start);
    // Drop-downs first, then their entries; each keeps its command.
    const QList<QAction*> menus = m_menuBar->actions();
    menus[0]->setText(localText("IDC_EXE_MENU"));
    menus[1]->setText(localText("IDC_EXE_HELP"));
    MenuCommand(CmdPortConfig)->setText(localText("IDC_EXE_PORT"));
    MenuCommand(CmdExport)->setText(localText("IDC_EXE_EXCEL_EXPORT"));
    MenuCommand(CmdHelp)->setText(localText("IDC_EXE_HELP"));
    MenuCommand(CmdAbout)->setText(localText("IDC_EXE_ABOUT"));
    if (QAction* status = MenuCommand(CmdDbStatus))
        status->setText(localText("IDC_EXE_DB_STATUS"));
}

void MainDialog::SetLineItem(int kind, int line, const QString& text)
{
    if (QThread::currentThread() != thread())
        m_window.call([this, kind, line, text] { m_rows.SetLineItem(kind, line, text); });
    else
        m_rows.SetLineItem(kind, line, text);
}

void MainDialog::SetLineProgress(int percent, int line)
{
    if (QThread::currentThread() != thread())
        m_window.call([this, percent, line] { m_rows.SetLineProgress(percent, line); });
    else
        m_rows.SetLineProgress(percent, line);
}

void MainDialog::OnTimer(int id)
{
    if (id != kClockTimer) {
        m_lines.OnLineTimer(id);
        return;
    }
    const QDateTime now = m_clock.now();
    const QDate d = now.date();
    const QTime t = now.time();
    label(MainWindowLayout::IdClock)
        ->setText(QString::asprintf("%02d/%02d/%04d %02d:%02d:%02d", d.month(), d.day(), d.year(), t.hour(),
                                    t.minute(), t.second()));
}

QString MainDialog::localText(const char* key)
{
    return LanguageText::Instance().Lookup(key);
}

void MainDialog::closeEvent(QCloseEvent* event)
{
    event->ignore();
    RequestClose();
}

void MainDialog::RequestClose()
{
    if (refusedWhileBusy())
        return;
    if (StationConfig::ReadRunFlag()) {
        m_prompter.warn(QStringLiteral("The tool is running ..."));
        return;
    }
    // The log's last lines, as far as the disk takes them at once.
    m_log.Flush(std::chrono::seconds(1));
    m_instance.reset();
    ProcessEnd::endProcess(0);
}

void MainDialog::startVersionReader()
{
    m_versionReader->setOpenFailureHandler([this] { showVersionFileError(); });
    m_versionReader->start();
    m_lines.SetVersionReader(m_versionReader.get(), m_skipVerification, m_services.versionWait);
}

// Called on the reader's thread: the box is shown by the window thread, and
// the reader waits until it has been dismissed (or the window goes away).
void MainDialog::showVersionFileError()
{
    // Released unshown when the window closes first.
    m_window.call([this] {
        Prompter::Message box;
        box.caption = QStringLiteral("Error");
        box.text = QStringLiteral("can't open version file!");
        box.ownedByWindow = false;
        m_prompter.message(box);
    });
}

// The station's one instance sends its records to the database, when a
// URL is set; without one nothing of this runs.
void MainDialog::startRecordDb()
{
    m_results.SetRecordDb(m_recordDb.Start(m_recordDbUrl, QSysInfo::machineHostName(), kVersionLabel, m_records.get()));
}
