#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// A private PostgreSQL server for the tests of one executable: initdb into
// a temporary folder, a Unix socket in that folder, no TCP. Run as an
// unprivileged user when the tests run as root (CI), since the server
// refuses to run as root. Started on first use, stopped at exit.
class PgTestServer final
{
public:
    // The shared server, or null when the server programs are missing
    // (skipReason() says why) or it could not be started (the test fails).
    static PgTestServer* shared();
    static QString skipReason();

    ~PgTestServer();

    // A fresh, empty database; returns its connection text. encoding: the
    // server encoding of the new database (locale C), else the cluster's UTF8.
    QByteArray createDatabase(const QByteArray& encoding = {});
    QByteArray conninfo(const QByteArray& database, const QByteArray& user = "postgres") const;
    const QString& socketDir() const { return m_dir; }

    // "immediate" drops the server at once, as a crash or a cut cable would.
    bool stop(const char* mode = "immediate");
    bool start();
    bool running() const { return m_running; }

    // Rows of a query, each column as text; an empty list on error.
    static QList<QStringList> query(const QByteArray& conninfo, const QByteArray& sql);
    // Runs a statement; false on error.
    static bool execute(const QByteArray& conninfo, const QByteArray& sql);

    const QString& setupError() const { return m_error; }

private:
    PgTestServer() = default;
    bool setUp();
    bool runAsServerUser(const QString& program, const QStringList& args);

    QString m_dir;
    QString m_error;
    bool m_running = false;
    bool m_dropPrivileges = false;
    int m_databases = 0;
};
