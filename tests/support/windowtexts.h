#pragma once
// The main window's status texts as the design gives them, written down once for the window's
// tests and independently of the window's source, so that a slip in either shows up.

#include <QString>

namespace veltrane::testsupport {

inline const QString WelcomeText =
    QStringLiteral("Welcome to Veltrane!\n"
                   "If any part of this window confuses you, rest the mouse pointer on it and after a moment a help "
                   "text will pop up.\n"
                   "For detailed help, choose Readme from the menu.");

inline const QString EncryptingPhrase = QStringLiteral("Encrypting...") + QString(61, QLatin1Char(' '));
inline const QString EncryptedPhrase = QStringLiteral("Encryption Complete!") + QString(34, QLatin1Char(' '));
inline const QString DecryptingPhrase = QStringLiteral("Decrypting") + QString(42, QLatin1Char('.'));
inline const QString DecryptedPhrase = QStringLiteral("Decryption Complete!") + QString(34, QLatin1Char(' '));
inline const QString KeysPhrase = QStringLiteral("Keys were not the same or left blank");
inline const QString NoFilePhrase = QStringLiteral("No File Chosen");
inline const QString AlreadyPhrase = QStringLiteral("One or more files had already been encrypted and was skipped");
inline const QString NotEncryptedPhrase =
    QStringLiteral("One or more files was not a Veltrane encrypted file and was skipped");
inline const QString InvalidKeyPhrase = QStringLiteral("One or more files had an invalid key and was skipped");
inline const QString CannotOpenPhrase = QStringLiteral("One or more files could not be opened and was skipped");
// After a file's outcome, when its command first finished or undid an interrupted one.
inline const QString FinishedEncryptionPhrase =
    QStringLiteral("Interrupted Encryption Completed!") + QString(21, QLatin1Char(' '));
inline const QString UndidEncryptionPhrase =
    QStringLiteral("Interrupted Encryption Undone!") + QString(24, QLatin1Char(' '));
inline const QString FinishedDecryptionPhrase =
    QStringLiteral("Interrupted Decryption Completed!") + QString(21, QLatin1Char(' '));
inline const QString UndidDecryptionPhrase =
    QStringLiteral("Interrupted Decryption Undone!") + QString(24, QLatin1Char(' '));
// When a failure ends a run.
inline const QString EncryptionStoppedPhrase = QStringLiteral("Encryption Stopped!");
inline const QString DecryptionStoppedPhrase = QStringLiteral("Decryption Stopped!");

} // namespace veltrane::testsupport
