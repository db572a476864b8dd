#pragma once

#include "recorddb/HostResolver.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

struct pg_conn;
struct pg_result;

// One connection to a PostgreSQL server. Every wait has a deadline and
// checks a stop request, so a server that accepts and never answers cannot
// hold the caller: connect and exec give up and report instead.
class PgConnection final
{
public:
    struct ResultFree
    {
        void operator()(pg_result* result) const;
    };
    using Result = std::unique_ptr<pg_result, ResultFree>;

    explicit PgConnection(std::function<bool()> stopRequested = {}, HostResolver::Lookup lookup = {});
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // conninfo: a libpq connection string or URI. Passwords come from
    // libpq's own sources (PGPASSFILE, ~/.pgpass). Host names are looked up
    // within the same deadline; the session's text is UTF-8.
    bool connect(const QByteArray& conninfo, std::chrono::milliseconds timeout);
    // One statement with text parameters. Null on failure: error() says
    // why, and isOpen() is false when the link itself was lost.
    Result exec(const QByteArray& sql, const QList<QByteArray>& params,
                std::chrono::milliseconds timeout);
    Result exec(const QByteArray& sql, std::chrono::milliseconds timeout) { return exec(sql, {}, timeout); }
    bool isOpen() const { return m_conn != nullptr; }
    void close();
    // Never holds a password of the connection text.
    const QString& error() const { return m_error; }
    // SQLSTATE of the last failed statement; empty when the link failed.
    const QByteArray& sqlState() const { return m_sqlState; }

    // "user@host:port/database" of a connection text, never a password;
    // why it cannot be read, for a malformed one.
    static QString describeServer(const QByteArray& conninfo);

private:
    using Clock = std::chrono::steady_clock;
    bool waitSocket(bool forWrite, Clock::time_point deadline);
    bool flushAll(Clock::time_point deadline);
    void setErrorFromConnection();
    void setError(const QString& error, bool allQuoted = false);
    // Adds the addresses of the host names of conninfo to keys and values,
    // looked up within the deadline; false when that failed.
    bool resolveHosts(const QByteArray& conninfo, Clock::time_point deadline, QList<QByteArray>* keys,
                      QList<QByteArray>* values);

    std::function<bool()> m_stopRequested;
    HostResolver m_resolver;
    QByteArray m_conninfo;
    pg_conn* m_conn = nullptr;
    QString m_error;
    QByteArray m_sqlState;
};
