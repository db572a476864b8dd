#include "app/MainDialog.h"

#include "app/BadgeImages.h"
#include "app/DialogTemplate.h"
#include "app/MainWindowLayout.h"
#include "app/StationIcon.h"
#include "lines/LineVerifier.h"
#include "lines/WindowThreadCall.h"
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
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

namespace {

const QString kVersionLabel = QStringLiteral("Vintrel_RT40K_USV1.00.00");

// Texts that the info labels colour, compared whole.
bool isSuccessText(const QString& text)
{
    return text == QStringLiteral("升级成功") || text == QStringLiteral("Download succeed");
}

bool isFailureText(const QString& text)
{
    return text == QStringLiteral("版本不匹配") || text == QStringLiteral("升级失败")
        || text == QStringLiteral("不支持该版本升级");
}

} // namespace

MainDialog::MainDialog(Services services)
    : m_services(std::move(services))
    , m_prompter(*m_services.prompter)
    , m_clock(*m_services.clock)
    , m_icon(StationIcon::icon())
{
    if (!m_services.loadEngine)
        m_services.loadEngine = [](EngineBinding& binding, LineEventHandler* handler, QObject* context) {
            return binding.Load(handler, context);
        };
    buildWindow();
    // The record store may ask for the record file before the window shows.
    m_records = std::make_unique<RecordStore>(m_prompter, StationPaths::executableDir() + QStringLiteral("RecordCSV.sdi"),
                                              StationPaths::dataDir(), QSysInfo::machineHostName(),
                                              SystemLocale::isSimplifiedChinaChinese());
    qApp->installEventFilter(this);
}

MainDialog::~MainDialog()
{
    m_closing = true;
    qApp->removeEventFilter(this);
    // Workers and the reader may wait on this window; let them finish.
    while (m_liveWorkers.load() > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    m_engine.Release();
    m_versionReader.reset();
}

void MainDialog::buildWindow()
{
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogTemplate::dialogFont(MainWindowLayout::kFontPoints));
    buildMenu();
    const DialogTemplate layout(font());
    const QPoint origin(0, m_menuBar->sizeHint().height());
    for (int line = 0; line < kLines; ++line)
        setupLineRow(line, layout.createAll(MainWindowLayout::lineRow(line), this, origin));
    layout.createAll(MainWindowLayout::otherControls(), this, origin);
    setFixedSize(layout.sizeToPixels(MainWindowLayout::kWidth, MainWindowLayout::kHeight) + QSize(0, origin.y()));
    m_menuBar->setGeometry(0, 0, width(), origin.y());

    m_versionField = findChild<QLineEdit*>(QStringLiteral("id%1").arg(MainWindowLayout::IdVersionField));
    auto connectButton = [this](int id, void (MainDialog::*handler)()) {
        connect(qobject_cast<QPushButton*>(control(id)), &QPushButton::clicked, this, handler);
    };
    connectButton(MainWindowLayout::IdVersionButton, &MainDialog::OnVersionDirectory);
    connectButton(MainWindowLayout::IdStartAll, &MainDialog::StartAllLines);
    connectButton(MainWindowLayout::IdClear, &MainDialog::OnClearCounters);

    for (int line = 0; line < kLines; ++line) {
        m_lineTimers[size_t(line)] = new QTimer(this);
        m_lineTimers[size_t(line)]->setInterval(1000);
        connect(m_lineTimers[size_t(line)], &QTimer::timeout, this, [this, line] { OnTimer(line); });
    }
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
    QMenu* help = m_menuBar->addMenu(QStringLiteral("帮助"));
    addCommand(help, QStringLiteral("帮助"), MainWindowLayout::CmdHelp, &MainDialog::OnHelp);
    addCommand(help, QStringLiteral("关于"), MainWindowLayout::CmdAbout, &MainDialog::OnAbout);
}

void MainDialog::setupLineRow(int line, const std::vector<QWidget*>& widgets)
{
    // Order as in MainWindowLayout::lineRow.
    LineRow& row = m_rows[size_t(line)];
    row.button = qobject_cast<QPushButton*>(widgets[1]);
    row.port = qobject_cast<QLabel*>(widgets[2]);
    row.elapsed = qobject_cast<QLabel*>(widgets[3]);
    row.info = qobject_cast<QLabel*>(widgets[4]);
    row.badge = qobject_cast<QLabel*>(widgets[5]);
    row.progress = qobject_cast<QProgressBar*>(widgets[6]);
    row.percent = qobject_cast<QLabel*>(widgets[7]);
    row.imei = qobject_cast<QLabel*>(widgets[8]);
    row.version = qobject_cast<QLabel*>(widgets[9]);
    row.badge->setPixmap(BadgeImages::picture(BADGE_OPEN));
    row.badge->setAccessibleName(BadgeImages::word(BADGE_OPEN));
    connect(row.button, &QPushButton::clicked, this, [this, line] { StartLine(line); });
}

QWidget* MainDialog::control(int id) const
{
    return findChild<QWidget*>(QStringLiteral("id%1").arg(id));
}

QLabel* MainDialog::label(int id) const
{
    return qobject_cast<QLabel*>(control(id));
}

QAction* MainDialog::menuCommand(int id) const
{
    return m_menuBar->findChild<QAction*>(QStringLiteral("id%1").arg(id));
}

bool MainDialog::OnInitDialog()
{
    // The data exchange of the template empties these three.
    m_rows[0].imei->clear();
    m_rows[0].version->clear();
    label(MainWindowLayout::IdClock)->clear();

    setWindowIcon(m_icon);
    m_countersFilePath = StationPaths::dataDir() + kVersionLabel + QStringLiteral(".ini");
    m_executableDir = StationPaths::executableDir();

    m_instance = std::make_unique<SingleInstance>(kVersionLabel);
    if (m_instance->alreadyRunning()) {
        RunSecondInstancePath();
        return false;
    }
    m_records->RemoveStaleTemporaries();
    m_clockTimer->start();
    ResetLines();
    LoadCounters();
    InitControls();
    StartVersionReader();
    if (!m_services.loadEngine(m_engine, this, &m_callContext)) {
        m_prompter.warn(QStringLiteral("Load dll failed!"));
        return false;
    }
    RefreshPorts(1);
    return true;
}

void MainDialog::RunSecondInstancePath()
{
    if (!StationConfig::ReadRunFlag()) {
        StationConfig::WriteRunFlag(true);
        m_prompter.warn(Text("IDC_EXE_INFO_EXERUNNING"));
        StationConfig::WriteRunFlag(false);
    }
    m_instance.reset();
    ProcessEnd::endProcess(0);
}

void MainDialog::ResetLines()
{
    for (int line = 0; line < kLines; ++line) {
        LineState& state = m_lines[size_t(line)];
        state.running = 0;
        state.enabled = 0;
        state.devicePresent = 0;
        state.elapsedSeconds = 0;
        state.port.number = 0;
        SetLineProgress(0, line);
        SetLineItem(LINE_ITEM_BUTTON, line, QStringLiteral("0"));
        SetLineItem(LINE_ITEM_INFO, line, QString());
        SetLineItem(LINE_ITEM_VERSION, line, QString());
        SetLineItem(LINE_ITEM_IMEI, line, QString());
        SetLineItem(LINE_ITEM_BADGE, line, QStringLiteral("0"));
    }
}

void MainDialog::LoadCounters()
{
    m_counters = std::make_unique<PassCounters>(m_countersFilePath);
    m_counters->LoadCounters(clockText());
    ShowCounters();
}

void MainDialog::ShowCounters()
{
    label(MainWindowLayout::IdTotalCounts)->setText(m_counters->cumulativeDisplay());
    label(MainWindowLayout::IdSuccessCounts)->setText(m_counters->currentDisplay());
    label(MainWindowLayout::IdClearTime)->setText(m_counters->clearTimeDisplay());
}

QString MainDialog::clockText() const
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
    ApplyLocalisedTexts();
    BindPorts();
    StationConfig::WriteNvFilePath();
}

void MainDialog::ApplyLocalisedTexts()
{
    using namespace MainWindowLayout;
    const std::pair<const char*, int> captions[] = {
        {"IDC_EXE_BTN_FILE", IdVersionButton},       {"IDC_EXE_STARTALL", IdStartAll},
        {"IDC_EXE_CLEAN", IdClear},                  {"IDC_EXE_TXT_SUCCESS", IdSuccessCaption},
        {"IDC_EXE_TXT_SUCCESSALL", IdTotalCaption},  {"IDC_EXE_TXT_LASTCLEANTIME", IdClearTimeCaption},
        {"IDC_EXE_TXT_TIMENOW", IdClockCaption},
    };
    for (const auto& [key, id] : captions) {
        QWidget* widget = control(id);
        const QString text = Text(key);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            button->setText(text);
        else if (auto* caption = qobject_cast<QLabel*>(widget))
            caption->setText(text);
    }
    const QString start = Text("IDC_EXE_TXT_BTN_START");
    for (LineRow& row : m_rows)
        row.button->setText(start);
    // Drop-downs first, then their entries; each keeps its command.
    const QList<QAction*> menus = m_menuBar->actions();
    menus[0]->setText(Text("IDC_EXE_MENU"));
    menus[1]->setText(Text("IDC_EXE_HELP"));
    menuCommand(CmdPortConfig)->setText(Text("IDC_EXE_PORT"));
    menuCommand(CmdExport)->setText(Text("IDC_EXE_EXCEL_EXPORT"));
    menuCommand(CmdHelp)->setText(Text("IDC_EXE_HELP"));
    menuCommand(CmdAbout)->setText(Text("IDC_EXE_ABOUT"));
}

void MainDialog::BindPorts()
{
    const QList<LinePort> bound = ParsePorts(StationConfig::ReadPortsText());
    for (int line = 0; line < bound.size() && line < kLines; ++line) {
        m_lines[size_t(line)].port = bound[line];
        SetLineItem(LINE_ITEM_PORT, line, bound[line].name);
    }
}

void MainDialog::SetLineItem(int kind, int line, const QString& text)
{
    if (line < 0 || line >= kLines)
        return;
    if (QThread::currentThread() != thread()) {
        RunOnWindowThread(&m_callContext, [this, kind, line, text] { SetLineItem(kind, line, text); });
        return;
    }
    const LineRow& row = m_rows[size_t(line)];
    switch (kind) {
    case LINE_ITEM_ELAPSED: row.elapsed->setText(text); break;
    case LINE_ITEM_INFO:
        row.info->setText(text);
        colourInfo(row.info);
        break;
    case LINE_ITEM_PROGRESS: row.progress->setValue(std::clamp(LeadingInt(text.toUtf8()), 0, 100)); break;
    case LINE_ITEM_PERCENT: row.percent->setText(text); break;
    case LINE_ITEM_BUTTON: row.button->setEnabled(text == QStringLiteral("1")); break;
    case LINE_ITEM_IMEI: row.imei->setText(text); break;
    case LINE_ITEM_VERSION: row.version->setText(text); break;
    case LINE_ITEM_BADGE: {
        const int badge = LeadingInt(text.toUtf8());
        row.badge->setPixmap(BadgeImages::picture(badge));
        row.badge->setAccessibleName(BadgeImages::word(badge));
        break;
    }
    case LINE_ITEM_PORT: row.port->setText(text); break;
    default: break;
    }
}

void MainDialog::colourInfo(QLabel* info)
{
    QPalette palette = this->palette();
    const QString text = info->text();
    if (isSuccessText(text))
        palette.setColor(QPalette::WindowText, QColor(0, 255, 0));
    else if (isFailureText(text))
        palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    info->setPalette(palette);
}

void MainDialog::SetLineProgress(int percent, int line)
{
    if (percent == 0) {
        m_rows[size_t(line)].progress->setRange(0, 100);
        SetLineItem(LINE_ITEM_PROGRESS, line, QStringLiteral("0"));
        SetLineItem(LINE_ITEM_PERCENT, line, QStringLiteral("0/100"));
    } else {
        SetLineItem(LINE_ITEM_PROGRESS, line, QString::number(percent));
        SetLineItem(LINE_ITEM_PERCENT, line, QStringLiteral("%1/100").arg(percent));
    }
    m_rows[size_t(line)].percent->update();
}

bool MainDialog::AnyLineBusy() const
{
    for (const LineState& state : m_lines)
        if (state.running)
            return true;
    return false;
}

bool MainDialog::RefusedWhileBusy()
{
    if (!AnyLineBusy())
        return false;
    m_prompter.warn(Text("IDC_EXE_INFO_RUNNING"));
    return true;
}

QString MainDialog::Text(const char* key)
{
    return LanguageText::instance().Lookup(key);
}

bool MainDialog::lineTimerActive(int line) const
{
    return m_lineTimers[size_t(line)]->isActive();
}

void MainDialog::closeEvent(QCloseEvent* event)
{
    event->ignore();
    RequestClose();
}

void MainDialog::RequestClose()
{
    if (RefusedWhileBusy())
        return;
    if (StationConfig::ReadRunFlag()) {
        m_prompter.warn(QStringLiteral("The tool is running ..."));
        return;
    }
    m_instance.reset();
    ProcessEnd::endProcess(0);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event)
{
    // The window is worked with the mouse only: keys bound for it or its
    // controls are dropped. Alt combinations stay with the system.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || (widget != this && !isAncestorOf(widget)))
        return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & Qt::AltModifier)
        return false;
    return true;
}
