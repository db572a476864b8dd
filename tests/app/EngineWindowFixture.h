#pragma once

#include "WindowFixture.h"

#include "lines/EngineBinding.h"

#include <QFile>

// The window with a real engine library from the build, copied into the
// station folder as the library the tool loads.
class EngineWindowFixture : public WindowFixture
{
protected:
    // library: the file name in the build's "engines/"; badgeWaitMs: how
    // long waitBadge waits unless told.
    EngineWindowFixture(const char* library, int badgeWaitMs)
        : m_library(library), m_badgeWaitMs(badgeWaitMs)
    {
    }

    void SetUp() override
    {
        WindowFixture::SetUp();
        const QString loaded = m_station.file(QStringLiteral("libPhoneFlashEngine.so"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(STATION_BUILD_STATION_DIR "/engines/") + QLatin1String(m_library),
                                loaded));
        EngineBinding::SetLibraryName(loaded);
    }
    void TearDown() override
    {
        WindowFixture::TearDown();
        EngineBinding::SetLibraryName(QString());
    }

    // Writes config.ini and opens the window, which waits up to 20 s for
    // the package's versions.
    bool openWithConfig(const QByteArray& config)
    {
        writeConfig(config);
        MainDialog::Services services;
        services.prompter = &m_prompter;
        services.clock = &m_clock;
        services.versionWait = std::chrono::seconds(20);
        m_window = std::make_unique<MainDialog>(services);
        return m_window->OnInitDialog();
    }
    bool waitBadge(int line, const char* word, int timeoutMs = 0)
    {
        return waitFor([&] { return badge(line) == QLatin1String(word); }, timeoutMs > 0 ? timeoutMs : m_badgeWaitMs);
    }
    QString counts() const { return label(MainWindowLayout::IdSuccessCounts)->text(); }
    // Waits until the counters show the first lines all passed, then for
    // each of them to be idle.
    void waitAllPassed(int lines, int timeoutMs)
    {
        const QString all = QStringLiteral("%1/%1").arg(lines);
        ASSERT_TRUE(waitFor([&] { return counts() == all; }, timeoutMs)) << counts().toStdString();
        for (int line = 0; line < lines; ++line)
            waitLineIdle(line);
    }

private:
    const char* m_library;
    int m_badgeWaitMs;
};
