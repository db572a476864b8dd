#include "recorddb/PgConnection.h"

#include "platform/SocketWait.h"
#include "recorddb/ConnInfoText.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
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

PgConnection::PgConnection(std::function<bool()> stopRequested, HostResolver::Lookup lookup)
    : m_stopRequested(std::move(stopRequested))
    , m_resolver(std::move(lookup))
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

void PgConnection::setError(const QString& error, bool allQuoted)
{
    m_error = ConnInfoText::hidePasswords(error, m_conninfo, allQuoted);
}

void PgConnection::setErrorFromConnection()
{
    setError(m_conn ? trimmed(PQerrorMessage(m_conn)) : QStringLiteral("out of memory"));
    if (m_error.isEmpty())
        m_error = QStringLiteral("connection failed");
}

namespace {

// The value of keyword in parsed options, else of the environment variable
// that libpq would use.
QByteArray optionOrEnvironment(PQconninfoOption* options, const char* keyword, const char* variable)
{
    for (PQconninfoOption* o = options; o && o->keyword; ++o) {
        if (!std::strcmp(o->keyword, keyword) && o->val)
            return QByteArray(o->val);
    }
    return QByteArray(std::getenv(variable));
}

bool isSocketPath(const QByteArray& host)
{
    return host.startsWith('/') || host.startsWith('@');
}

} // namespace

bool PgConnection::resolveHosts(const QByteArray& conninfo, Clock::time_point deadline, QList<QByteArray>* keys,
                                QList<QByteArray>* values)
{
    PQconninfoOption* options = nullptr;
    if (ConnInfoText::isConnInfo(conninfo)) {
        char* error = nullptr;
        options = PQconninfoParse(conninfo.constData(), &error);
        if (!options) {
            // libpq quotes what it could not read, which may be the password.
            setError(QStringLiteral("the connection text cannot be read: %1")
                         .arg(error ? trimmed(error) : QStringLiteral("out of memory")),
                     true);
            PQfreemem(error);
            return false;
        }
    }
    const QByteArray hostList = optionOrEnvironment(options, "host", "PGHOST");
    const QByteArray addressList = optionOrEnvironment(options, "hostaddr", "PGHOSTADDR");
    const QByteArray portList = optionOrEnvironment(options, "port", "PGPORT");
    const QByteArray service = optionOrEnvironment(options, "service", "PGSERVICE");
    PQconninfoFree(options);
    // Given addresses, sockets and service files are libpq's to handle.
    if (hostList.isEmpty() || !addressList.isEmpty() || !service.isEmpty())
        return true;

    const QList<QByteArray> hosts = hostList.split(',');
    const QList<QByteArray> ports = portList.split(',');
    const bool portPerHost = ports.size() == hosts.size() && hosts.size() > 1;
    QList<QByteArray> newHosts, newAddresses, newPorts;
    bool anyName = false;
    QString lastFailure;
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        const QByteArray& host = hosts[i];
        const std::string name = host.toStdString();
        QList<QByteArray> addresses;
        if (host.isEmpty() || isSocketPath(host)) {
            addresses << QByteArray();
        } else if (HostResolver::isNumeric(name)) {
            addresses << host;
        } else {
            anyName = true;
            HostResolver::Answer answer;
            switch (m_resolver.resolve(name, deadline, m_stopRequested, &answer)) {
            case HostResolver::Outcome::Resolved:
                for (const std::string& a : answer.addresses)
                    addresses << QByteArray::fromStdString(a);
                break;
            case HostResolver::Outcome::Failed:
                lastFailure = QStringLiteral("could not translate host name \"%1\" to address: %2")
                                  .arg(QString::fromUtf8(host), QString::fromStdString(answer.error));
                break;
            case HostResolver::Outcome::TimedOut:
                setError(QStringLiteral("the name lookup of \"%1\" did not finish in time")
                             .arg(QString::fromUtf8(host)));
                return false;
            case HostResolver::Outcome::Stopped:
                m_error = QStringLiteral("stopped");
                return false;
            }
        }
        // One entry per address, so that libpq still tries each in turn.
        for (const QByteArray& address : addresses) {
            newHosts << host;
            newAddresses << address;
            if (portPerHost)
                newPorts << ports[i];
        }
    }
    if (!anyName)
        return true;
    if (newHosts.isEmpty()) {
        setError(lastFailure);
        return false;
    }
    *keys << "host" << "hostaddr";
    *values << newHosts.join(',') << newAddresses.join(',');
    if (portPerHost) {
        *keys << "port";
        *values << newPorts.join(',');
    }
    return true;
}

bool PgConnection::connect(const QByteArray& conninfo, std::chrono::milliseconds timeout)
{
    close();
    m_conninfo = conninfo;
    m_error.clear();
    const auto deadline = Clock::now() + timeout;
    // The first dbname is expanded as the whole connection text; what
    // follows it overrides that: the looked-up addresses, the encoding that
    // the station's texts are in, and the name that marks the station's
    // sessions on the server.
    QList<QByteArray> keys{"dbname"};
    QList<QByteArray> values{conninfo};
    if (!resolveHosts(conninfo, deadline, &keys, &values))
        return false;
    keys << "client_encoding" << "application_name";
    values << "UTF8" << "vintrel-station";
    std::vector<const char*> keyArray, valueArray;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        keyArray.push_back(keys[i].constData());
        valueArray.push_back(values[i].constData());
    }
    keyArray.push_back(nullptr);
    valueArray.push_back(nullptr);
    m_conn = PQconnectStartParams(keyArray.data(), valueArray.data(), 1);
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
        setError(failure.isEmpty() ? trimmed(PQerrorMessage(m_conn)) : failure);
        m_sqlState.clear();
        close();
        return nullptr;
    }
    if (!failure.isEmpty()) {
        setError(failure);
        return nullptr;
    }
    return last;
}

QString PgConnection::describeServer(const QByteArray& conninfo)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.constData(), &error);
    if (!options) {
        // Why is for the error; libpq's text may quote the password.
        PQfreemem(error);
        return QStringLiteral("(a connection text that cannot be read)");
    }
    QString host, port, database, user;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        // A malformed URL can put its password where a host or user belongs.
        const QString value = ConnInfoText::hidePart(QString::fromUtf8(o->val), conninfo);
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
    return ConnInfoText::hidePasswords(text, conninfo);
}
