#pragma once

#include "records/Rc4.h"

#include <QByteArray>
#include <QString>

class RecordPrompts;

// Whole-file cipher of the record log: RC4 keyed with the MD5 digest of a
// pass phrase, no header, the encrypted file as long as the plain one.
//
// Every written file is replaced atomically (AtomicFile): when a write, sync
// or rename fails, the old file stays whole and the conversion returns false
// without a box. Failures to open or read a source, and an unusable
// destination folder, are fatal: RecordPrompts::FatalError.
class RecordCipher final
{
public:
    explicit RecordCipher(RecordPrompts& prompts);

    // The 16-byte RC4 key of a pass phrase.
    static QByteArray KeyFor(const QByteArray& passPhrase);

    // endState, when given, receives the keystream after the file's last
    // byte, so that the caller can append to the encrypted file in place.
    bool EncryptFile(const QString& plainPath, const QString& encryptedPath,
                     const QByteArray& passPhrase, Rc4* endState = nullptr);
    // False, touching nothing, when a path is empty.
    bool DecryptFile(const QString& encryptedPath, const QString& plainPath,
                     const QByteArray& passPhrase, Rc4* endState = nullptr);

    // The record store's two steps; false when the source file is missing.
    // The source is never deleted and the target is only ever replaced whole.
    bool DecryptToScratch(const QString& plainPath, const QString& encryptedPath,
                          const QByteArray& passPhrase, Rc4* endState = nullptr);
    bool EncryptFromScratch(const QString& plainPath, const QString& encryptedPath,
                            const QByteArray& passPhrase, Rc4* endState = nullptr);

    // Hands the failure to RecordPrompts::FatalError, which tells the
    // operator and ends the process; returns only where a test has replaced
    // the process end.
    void FatalError(const QString& message);

    // errno of the last failed write, sync or rename (0 when none).
    int LastWriteError() const { return m_writeError; }

private:
    enum class Texts { Encrypt, Decrypt };
    bool convert(const QString& sourcePath, const QString& targetPath,
                 const QByteArray& passPhrase, Rc4* endState, Texts texts);
    static bool acceptable(const QString& path, const QByteArray& passPhrase);

    RecordPrompts& m_prompts;
    int m_writeError = 0;
};
