#include "recorddb/PgTestServer.h"

#include "recorddb/PgConnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");
constexpr uid_t kServerUid = 65534; // nobody
constexpr gid_t kServerGid = 65534;
constexpr std::chrono::seconds kTimeout{30};

std::unique_ptr<PgTestServer>& instance()
{
    static std::unique_ptr<PgTestServer> server;
    return server;
}

} // namespace

QString PgTestServer::skipReason()
{
    if (!QFileInfo(kBin + QStringLiteral("initdb")).isExecutable()
        || !QFileInfo(kBin + QStringLiteral("pg_ctl")).isExecutable())
        return QStringLiteral("PostgreSQL server programs not found in %1 (Debian package postgresql)").arg(kBin);
    if (::geteuid() == 0 && !QFileInfo(QStringLiteral("/usr/bin/setpriv")).isExecutable())
        return QStringLiteral("running as root without setpriv to start the server as another user");
    return {};
}

PgTestServer* PgTestServer::shared()
{
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (!skipReason().isEmpty())
            return nullptr;
        instance().reset(new PgTestServer);
        if (!instance()->setUp())
            qWarning("private PostgreSQL server: %s", qPrintable(instance()->m_error));
    }
    return instance().get();
}

// A plain fork and exec rather than QProcess: QProcess starts its child in
// the parent's memory, which ThreadSanitizer cannot follow, and the upload
// tests also run under it.
bool PgTestServer::runAsServerUser(const QString& program, const QStringList& args)
{
    QList<QByteArray> argv;
    if (m_dropPrivileges)
        argv << "/usr/bin/setpriv" << "--reuid=" + QByteArray::number(kServerUid)
             << "--regid=" + QByteArray::number(kServerGid) << "--clear-groups" << "--";
    argv << QFile::encodeName(program);
    for (const QString& a : args)
        argv << a.toLocal8Bit();
    QList<QByteArray> env = {"LC_ALL=C", "HOME=" + QFile::encodeName(m_dir), "PATH=/usr/bin:/bin"};
    const QByteArray output = QFile::encodeName(m_dir + QStringLiteral("/command.log"));

    std::vector<char*> argp;
    for (QByteArray& a : argv)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    std::vector<char*> envp;
    for (QByteArray& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        const int log = ::open(output.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
        }
        if (::chdir(QFile::encodeName(m_dir).constData()) != 0)
            ::_exit(126);
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        QFile log(QFile::decodeName(output));
        log.open(QIODevice::ReadOnly);
        m_error = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(log.readAll()));
        return false;
    }
    return true;
}

bool PgTestServer::setUp()
{
    QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/station-pg-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        m_error = QStringLiteral("cannot make a temporary folder");
        return false;
    }
    m_dir = QString::fromLocal8Bit(pattern);
    m_dropPrivileges = ::geteuid() == 0;
    if (m_dropPrivileges && ::chown(pattern.constData(), kServerUid, kServerGid) != 0) {
        m_error = QStringLiteral("cannot hand %1 to the server user").arg(m_dir);
        return false;
    }
    if (!runAsServerUser(kBin + QStringLiteral("initdb"),
                         {QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-U"),
                          QStringLiteral("postgres"), QStringLiteral("--auth=trust"), QStringLiteral("-E"),
                          QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync")}))
        return false;
    // One role logs in by password, to test refused logins and the password
    // file; everyone else is trusted on this private socket.
    QFile hba(m_dir + QStringLiteral("/data/pg_hba.conf"));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || hba.write("local all pwuser scram-sha-256\nlocal all all trust\n") < 0) {
        m_error = QStringLiteral("cannot write pg_hba.conf");
        return false;
    }
    hba.close();
    if (m_dropPrivileges && ::chown(QFile::encodeName(hba.fileName()).constData(), kServerUid, kServerGid) != 0) {
        m_error = QStringLiteral("cannot hand pg_hba.conf to the server user");
        return false;
    }
    if (!start())
        return false;
    return execute(conninfo("postgres"), "CREATE ROLE pwuser LOGIN PASSWORD 'right-password'");
}

bool PgTestServer::start()
{
    const QString options = QStringLiteral("-k %1 -c listen_addresses='' -c fsync=off -c synchronous_commit=off "
                                           "-c full_page_writes=off -c max_connections=40")
                                .arg(m_dir);
    m_running = runAsServerUser(kBin + QStringLiteral("pg_ctl"),
                                {QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-l"),
                                 m_dir + QStringLiteral("/server.log"), QStringLiteral("-w"), QStringLiteral("-t"),
                                 QStringLiteral("30"), QStringLiteral("-o"), options, QStringLiteral("start")});
    return m_running;
}

bool PgTestServer::stop(const char* mode)
{
    const bool stopped = runAsServerUser(kBin + QStringLiteral("pg_ctl"),
                                         {QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-w"),
                                          QStringLiteral("-m"), QString::fromLatin1(mode), QStringLiteral("stop")});
    if (stopped)
        m_running = false;
    return stopped;
}

PgTestServer::~PgTestServer()
{
    if (m_running)
        stop("immediate");
    if (!m_dir.isEmpty())
        QDir(m_dir).removeRecursively();
}

QByteArray PgTestServer::conninfo(const QByteArray& database, const QByteArray& user) const
{
    return "host=" + QFile::encodeName(m_dir) + " port=5432 user=" + user + " dbname=" + database;
}

QByteArray PgTestServer::createDatabase(const QByteArray& encoding)
{
    const QByteArray name = "records_" + QByteArray::number(::getpid()) + "_" + QByteArray::number(++m_databases);
    const QByteArray options = encoding.isEmpty()
        ? QByteArray()
        : " ENCODING '" + encoding + "' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0";
    if (!execute(conninfo("postgres"), "CREATE DATABASE " + name + options)
        || !execute(conninfo("postgres"), "GRANT ALL ON DATABASE " + name + " TO pwuser")
        || !execute(conninfo(name), "GRANT ALL ON SCHEMA public TO pwuser"))
        return {};
    return conninfo(name);
}

QList<QStringList> PgTestServer::query(const QByteArray& conninfo, const QByteArray& sql)
{
    QList<QStringList> rows;
    PgConnection conn;
    if (!conn.connect(conninfo, kTimeout))
        return rows;
    PgConnection::Result result = conn.exec(sql, kTimeout);
    if (!result) {
        return rows;
    }
    for (int r = 0; r < PQntuples(result.get()); ++r) {
        QStringList row;
        for (int c = 0; c < PQnfields(result.get()); ++c)
            row << QString::fromUtf8(PQgetvalue(result.get(), r, c));
        rows << row;
    }
    return rows;
}

bool PgTestServer::execute(const QByteArray& conninfo, const QByteArray& sql)
{
    PgConnection conn;
    if (!conn.connect(conninfo, kTimeout) || !conn.exec(sql, kTimeout)) {
        qWarning("statement failed: %s", qPrintable(conn.error()));
        return false;
    }
    return true;
}
