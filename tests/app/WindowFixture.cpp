#include "WindowFixture.h"

#include "platform/ProcessEnd.h"
#include "platform/StationPaths.h"
#include "platform/SystemLocale.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

int WindowFixture::s_exitStatus = -1;
int WindowFixture::s_exitCalls = 0;

namespace {
QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

void WindowFixture::SetUp()
{
    StationPaths::overrideExecutableDir(m_station.path());
    StationPaths::overrideDataDir(m_data.path());
    StationPaths::overrideRuntimeDir(m_runtime.path());
    SystemLocale::overrideLocale("en_US"); // the store's own messages follow the locale
    const QString res = QStringLiteral(STATION_TEST_DATA "/../../res/");
    m_station.write(QStringLiteral("lang/LAN_ENG.ini"), readFile(res + QStringLiteral("lang/LAN_ENG.ini")));
    m_station.write(QStringLiteral("lang/LAN_CHN.ini"), readFile(res + QStringLiteral("lang/LAN_CHN.ini")));
    m_station.write(QStringLiteral("RecordCSV.sdi"),
                    readFile(QStringLiteral(STATION_BUILD_STATION_DIR "/RecordCSV.sdi")));
    m_text = std::make_unique<LanguageText>(m_station.path());
    LanguageText::SetInstance(m_text.get());
    s_exitStatus = -1;
    s_exitCalls = 0;
    ProcessEnd::setHandler([](int status) {
        s_exitStatus = status;
        ++s_exitCalls;
    });
}

void WindowFixture::TearDown()
{
    m_window.reset();
    ProcessEnd::setHandler(nullptr);
    StationPaths::overrideExecutableDir(QString());
    StationPaths::overrideDataDir(QString());
    StationPaths::overrideRuntimeDir(QString());
    SystemLocale::overrideLocale("");
    LanguageText::SetInstance(nullptr);
}

bool WindowFixture::open()
{
    MainDialog::Services services;
    services.prompter = &m_prompter;
    services.clock = &m_clock;
    services.versionWait = m_versionWait;
    services.loadEngine = [this](EngineBinding& binding, LineEventHandler* handler, QObject* context) {
        return m_engineLoads && binding.Adopt(&m_engine, handler, context);
    };
    m_window = std::make_unique<MainDialog>(services);
    return m_window->OnInitDialog();
}

void WindowFixture::writeConfig(const QByteArray& content)
{
    m_station.write(QStringLiteral("config.ini"), content);
}

QByteArray WindowFixture::config() const
{
    return m_station.read(QStringLiteral("config.ini"));
}

QLabel* WindowFixture::label(int id) const
{
    return qobject_cast<QLabel*>(m_window->Control(id));
}

QPushButton* WindowFixture::button(int id) const
{
    return qobject_cast<QPushButton*>(m_window->Control(id));
}

QProgressBar* WindowFixture::bar(int id) const
{
    return qobject_cast<QProgressBar*>(m_window->Control(id));
}

void WindowFixture::plug(int port, const QByteArray& info)
{
    m_engine.setDevice(port, 0, info);
}

bool WindowFixture::openWithPorts(const QByteArray& ports)
{
    writeConfig("[GET_DLL_Setting]\nPORTS=" + ports + "\n");
    return open();
}

QString WindowFixture::makePackage(const QByteArray& display, const QByteArray& internal)
{
    const QString name = QStringLiteral("pkg-") + QString::fromUtf8(display);
    m_station.write(name + QStringLiteral("/system.img"),
                    QByteArray(2048, 'x') + "\nro.build.display.id=" + display + "\n" + QByteArray(3000, 'y')
                        + "\nro.build.sw_internal_version=" + internal + "\n" + QByteArray(1024, 'z'));
    return m_station.path() + name;
}

void WindowFixture::waitLineIdle(int line)
{
    ASSERT_TRUE(waitFor([&] { return !m_window->LineStateOf(line).running && m_window->LiveWorkers() == 0; }));
}
