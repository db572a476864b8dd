#include "records/RecordCipher.h"

#include "platform/AtomicFile.h"
#include "core/FileOps.h"
#include "platform/FileState.h"
#include "records/RecordPrompts.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>

namespace {
// Memory use stays bounded whatever the size of the log.
constexpr qint64 kChunk = 64 * 1024;
// Longer values are refused rather than cut.
constexpr qsizetype kMaxPassPhrase = 99;

// A conversion that failed leaves no empty file where there was none.
void dropPlaceholder(const QString& path, bool placeholder)
{
    if (placeholder)
        FileOps::unlink(QFile::encodeName(path).constData());
}
} // namespace

RecordCipher::RecordCipher(RecordPrompts& prompts)
    : m_prompts(prompts)
{
}

QByteArray RecordCipher::KeyFor(const QByteArray& passPhrase)
{
    return QCryptographicHash::hash(passPhrase, QCryptographicHash::Md5);
}

bool RecordCipher::acceptable(const QString& path, const QByteArray& passPhrase)
{
    return path.toLocal8Bit().size() < PATH_MAX && passPhrase.size() <= kMaxPassPhrase;
}

bool RecordCipher::EncryptFile(const QString& plainPath, const QString& encryptedPath,
                               const QByteArray& passPhrase, Rc4* endState)
{
    if (!acceptable(plainPath, passPhrase) || !acceptable(encryptedPath, passPhrase))
        return false;
    return convert(plainPath, encryptedPath, passPhrase, endState, Texts::Encrypt);
}

bool RecordCipher::DecryptFile(const QString& encryptedPath, const QString& plainPath,
                               const QByteArray& passPhrase, Rc4* endState)
{
    if (encryptedPath.isEmpty() || plainPath.isEmpty())
        return false;
    if (!acceptable(plainPath, passPhrase) || !acceptable(encryptedPath, passPhrase))
        return false;
    return convert(encryptedPath, plainPath, passPhrase, endState, Texts::Decrypt);
}

bool RecordCipher::DecryptToScratch(const QString& plainPath, const QString& encryptedPath,
                                    const QByteArray& passPhrase, Rc4* endState)
{
    if (!QFileInfo::exists(encryptedPath))
        return false;
    // The old plain file is replaced by the rename, never deleted first.
    return DecryptFile(encryptedPath, plainPath, passPhrase, endState);
}

bool RecordCipher::EncryptFromScratch(const QString& plainPath, const QString& encryptedPath,
                                      const QByteArray& passPhrase, Rc4* endState)
{
    if (!QFileInfo::exists(plainPath))
        return false;
    // Deleting the old working copy first would lose the log on a crash.
    return EncryptFile(plainPath, encryptedPath, passPhrase, endState);
}

bool RecordCipher::convert(const QString& sourcePath, const QString& targetPath,
                           const QByteArray& passPhrase, Rc4* endState, Texts texts)
{
    const bool encrypt = texts == Texts::Encrypt;
    m_writeError = 0;

    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        FatalError(encrypt ? QStringLiteral("Error opening source plaintext file!")
                           : QStringLiteral("Error opening ciphertext file!"));
        return false;
    }
    // The plain log is for the station user only. The replacement keeps the
    // permission bits of the file it replaces, so that file is made private
    // (or created private) before any plain byte is written.
    const bool placeholder = !encrypt && !FileState::makePrivate(targetPath);
    AtomicFile target(targetPath);
    if (!target.open()) {
        FatalError(encrypt ? QStringLiteral("Error opening destination ciphertext file!")
                           : QStringLiteral("Error opening plaintext file!"));
        return false;
    }

    Rc4 rc4(KeyFor(passPhrase));
    QByteArray buffer(kChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 count = source.read(buffer.data(), kChunk);
        if (count < 0) {
            FatalError(encrypt ? QStringLiteral("Error reading plaintext!\n")
                               : QStringLiteral("Error reading ciphertext!"));
            return false;
        }
        if (count == 0)
            break;
        rc4.apply(buffer.data(), count);
        // A full disk loses this conversion, not the old file: not fatal.
        if (!target.append(buffer.constData(), count)) {
            m_writeError = target.error();
            dropPlaceholder(targetPath, placeholder);
            return false;
        }
    }
    if (!target.commit()) {
        m_writeError = target.error();
        if (QFileInfo(targetPath).size() == 0)
            dropPlaceholder(targetPath, placeholder);
        return false;
    }
    if (endState)
        *endState = rc4;
    return true;
}

void RecordCipher::FatalError(const QString& message)
{
    // The code of the failure itself, read before anything else can change it.
    const int code = errno;
    m_prompts.FatalError(message, code);
}
