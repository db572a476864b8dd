#include "records/PgConnection.h"

#include "platform/SocketWait.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr std::chrono::milliseconds kPollSlice{100};

QString trimmed(const char* message)
{
    return QString::fromUtf8(message).trimmed();
}

} // namespace

void PgConnection::ResultFree::operator()(pg_result* result) const
{
    PQclear(result);
}

PgConnection::PgConnection(std::function<bool()> stopRequested)
    : m_stopRequested(std::move(stopRequested))
{
}

PgConnection::~PgConnection()
{
    close();
}

void PgConnection::close()
{
    if (m_conn) {
        PQfinish(m_conn);
        m_conn = nullptr;
    }
}

void PgConnection::setErrorFromConnection()
{
    m_error = m_conn ? trimmed(PQerrorMessage(m_conn)) : QStringLiteral("out of memory");
    if (m_error.isEmpty())
        m_error = QStringLiteral("connection failed");
}

bool PgConnection::connect(const QByteArray& conninfo, std::chrono::milliseconds timeout)
{
    close();
    const auto deadline = Clock::now() + timeout;
    // The first dbname is expanded as the whole connection text; the name
    // that follows marks the station's sessions on the server.
    const char* keys[] = {"dbname", "application_name", nullptr};
    const char* values[] = {conninfo.constData(), "vintrel-station", nullptr};
    m_conn = PQconnectStartParams(keys, values, 1);
    if (!m_conn || PQstatus(m_conn) == CONNECTION_BAD) {
        setErrorFromConnection();
        close();
        return false;
    }
    // Notices ("already exists, skipping") are not for the operator's terminal.
    PQsetNoticeProcessor(m_conn, [](void*, const char*) {}, nullptr);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED) {
            setErrorFromConnection();
            close();
            return false;
        }
        if (!waitSocket(state == PGRES_POLLING_WRITING, deadline)) {
            if (m_error.isEmpty())
                m_error = QStringLiteral("the server did not answer");
            close();
            return false;
        }
        state = PQconnectPoll(m_conn);
    }
    // Sends never block either: a full socket is waited on with the deadline.
    PQsetnonblocking(m_conn, 1);
    m_error.clear();
    return true;
}

bool PgConnection::waitSocket(bool forWrite, Clock::time_point deadline)
{
    for (;;) {
        if (m_stopRequested && m_stopRequested()) {
            m_error = QStringLiteral("stopped");
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            m_error = QStringLiteral("the server did not answer in time");
            return false;
        }
        const int fd = PQsocket(m_conn);
        if (fd < 0) {
            m_error = QStringLiteral("no socket");
            return false;
        }
        switch (SocketWait::wait(fd, forWrite, std::min(left, kPollSlice), &m_error)) {
        case SocketWait::Result::Ready:
            return true;
        case SocketWait::Result::Failed:
            return false;
        case SocketWait::Result::TimedOut:
            break;
        }
    }
}

bool PgConnection::flushAll(Clock::time_point deadline)
{
    for (;;) {
        const int flushed = PQflush(m_conn);
        if (flushed == 0)
            return true;
        if (flushed < 0) {
            setErrorFromConnection();
            return false;
        }
        if (!waitSocket(true, deadline) || !PQconsumeInput(m_conn)) {
            if (m_error.isEmpty())
                setErrorFromConnection();
            return false;
        }
    }
}

PgConnection::Result PgConnection::exec(const QByteArray& sql, const QList<QByteArray>& params,
                                        std::chrono::milliseconds timeout)
{
    if (!m_conn) {
        m_error = QStringLiteral("not connected");
        return nullptr;
    }
    const auto deadline = Clock::now() + timeout;
    m_error.clear();
    m_sqlState.clear();
    std::vector<const char*> values;
    values.reserve(size_t(params.size()));
    for (const QByteArray& p : params)
        values.push_back(p.constData());
    if (!PQsendQueryParams(m_conn, sql.constData(), int(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0)
        || !flushAll(deadline)) {
        if (m_error.isEmpty())
            setErrorFromConnection();
        close();
        return nullptr;
    }

    Result last;
    QString failure;
    for (;;) {
        while (PQisBusy(m_conn)) {
            // A timed-out statement may still finish on the server; the
            // caller's statements are safe to send again.
            if (!waitSocket(false, deadline) || !PQconsumeInput(m_conn)) {
                if (m_error.isEmpty())
                    setErrorFromConnection();
                close();
                return nullptr;
            }
        }
        Result result(PQgetResult(m_conn));
        if (!result)
            break;
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            last = std::move(result);
        else if (failure.isEmpty()) {
            failure = trimmed(PQresultErrorMessage(result.get()));
            m_sqlState = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
        }
    }
    if (PQstatus(m_conn) == CONNECTION_BAD) {
        m_error = failure.isEmpty() ? trimmed(PQerrorMessage(m_conn)) : failure;
        m_sqlState.clear();
        close();
        return nullptr;
    }
    if (!failure.isEmpty()) {
        m_error = failure;
        return nullptr;
    }
    return last;
}

QString PgConnection::describeServer(const QByteArray& conninfo)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.constData(), &error);
    if (!options) {
        const QString text = error ? trimmed(error) : QStringLiteral("invalid connection text");
        PQfreemem(error);
        return text;
    }
    QString host, port, database, user;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QString value = QString::fromUtf8(o->val);
        if (!std::strcmp(o->keyword, "host") || (!std::strcmp(o->keyword, "hostaddr") && host.isEmpty()))
            host = value;
        else if (!std::strcmp(o->keyword, "port"))
            port = value;
        else if (!std::strcmp(o->keyword, "dbname"))
            database = value;
        else if (!std::strcmp(o->keyword, "user"))
            user = value;
    }
    PQconninfoFree(options);
    QString text = host.isEmpty() ? QStringLiteral("localhost") : host;
    if (!port.isEmpty())
        text += QLatin1Char(':') + port;
    if (!user.isEmpty())
        text = user + QLatin1Char('@') + text;
    if (!database.isEmpty())
        text += QLatin1Char('/') + database;
    return text;
}
