#pragma once
// Every phrase the window shows: the status line's texts, the notice of files left part-way, and why
// a chosen file is refused. The design pads some status phrases with blanks or dots so that each
// covers the one before it on the line; Padded does that for all of them.

#include "engine/recovery.h"

#include <QString>

#include <vector>

namespace veltrane {

// `text` followed by `fill` up to `width` characters.
inline QString Padded(const char* text, qsizetype width, char fill = ' ') {
    return QString::fromUtf8(text).leftJustified(width, QLatin1Char(fill));
}

// Shown until the first phrase of a run replaces it.
inline const QString WelcomeText =
    QStringLiteral("Welcome to Veltrane!\n"
                   "If any part of this window confuses you, rest the mouse pointer on it and after a moment a help "
                   "text will pop up.\n"
                   "For detailed help, choose Readme from the menu.");
inline const QString EncryptingPhrase = Padded("Encrypting...", 74);
inline const QString EncryptionCompletePhrase = Padded("Encryption Complete!", 54);
inline const QString DecryptingPhrase = Padded("Decrypting", 52, '.');
inline const QString DecryptionCompletePhrase = Padded("Decryption Complete!", 54);
inline const QString KeysPhrase = QStringLiteral("Keys were not the same or left blank");
inline const QString NoFilePhrase = QStringLiteral("No File Chosen");
inline const QString AlreadyEncryptedPhrase =
    QStringLiteral("One or more files had already been encrypted and was skipped");
inline const QString NotEncryptedPhrase =
    QStringLiteral("One or more files was not a Veltrane encrypted file and was skipped");
inline const QString InvalidKeyPhrase = QStringLiteral("One or more files had an invalid key and was skipped");
inline const QString CannotOpenPhrase = QStringLiteral("One or more files could not be opened and was skipped");
// Shown when a failure ends a run, while the error display says what went wrong.
inline const QString EncryptionStoppedPhrase = QStringLiteral("Encryption Stopped!");
inline const QString DecryptionStoppedPhrase = QStringLiteral("Decryption Stopped!");

// Shown for a file's outcome other than done: skipped, and why; none for Encrypted and Decrypted.
const QString* OutcomePhrase(FileOutcome outcome);
// Shown after a file's outcome when the command first finished or undid an earlier command on the
// file that was interrupted part-way (a kill, a crash); none for Recovery::None.
const QString* RecoveryPhrase(Recovery recovery);

// The status-line text naming the files left part-way (the first few by name and folder, the home
// folder written "~"), or an empty text when there are none.
QString InterruptedNotice(const std::vector<InterruptedFile>& files);

// Why a file or folder the user named cannot be loaded, told under its name by RefusalText.
inline const QString NoSuchFolderReason =
    QStringLiteral("Path does not exist.\nPlease verify the correct path was given.");
inline const QString NoSuchFileReason =
    QStringLiteral("File not found.\nPlease verify the correct file name was given.");
inline const QString NotOrdinaryFileReason = QStringLiteral("This is not an ordinary file.\nChoose another file.");
inline const QString ReadOnlyReason =
    QStringLiteral("This file is read-only or lies in a write-protected folder.\nChoose another file.");
inline const QString AmbiguousNameReason =
    QStringLiteral("More than one file reads as this name.\nChoose it in the list.");
inline QString RefusalText(const QString& shown, const QString& reason) {
    return shown + QLatin1Char('\n') + reason;
}

} // namespace veltrane
