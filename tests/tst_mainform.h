#pragma once
// Tests of the main window, driving a real TMainForm under the application object. The layout,
// loading and keyboard cases live in tst_mainform.cpp, the Encrypt and Decrypt runs in
// tst_mainform_runs.cpp.

#include "app/tapplication.h"
#include "gauge/tgauge.h"
#include "main/mainform.h"
#include "main/topendialog.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"
#include "tests/support/windowchecks.h"
#include "tests/support/windowtexts.h"

#include <QAccessible>
#include <QByteArray>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace veltrane::testsupport;

class TestMainForm : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // tst_mainform.cpp
    void layoutAtStart_data();
    void layoutAtStart();
    void layoutAfterEnlarging_data();
    void layoutAfterEnlarging();
    void captionsAndColours_data();
    void captionsAndColours();
    void stateAtStart();
    void keyBoxesShowStars_data();
    void keyBoxesShowStars();
    void menu();
    void tabOrder();
    void focusVisible_data();
    void focusVisible();
    void accelerators_data();
    void accelerators();
    void loading_data();
    void loading();
    void loadingPrefillsFirstFileOfPreviousChoice();
    void chooserTypedNames_data();
    void chooserTypedNames();
    void readOnlyFileRefused();
    void chooserStartAndPlaces_data();
    void chooserStartAndPlaces();
    void portalAddresses_data();
    void portalAddresses();
    void droppingFiles_data();
    void droppingFiles();
    void startFiles_data();
    void startFiles();
    void accessibleNamesAndRoles_data();
    void accessibleNamesAndRoles();
    void picturesActAsButtons_data();
    void picturesActAsButtons();

    // tst_mainform_runs.cpp
    void keyCheck_data();
    void keyCheck();
    void noFilesLoaded();
    void singleFileOutcome_data();
    void singleFileOutcome();
    void mixedBatch();
    void earlyStopAndTheRunAfter();
    void loadingAfterEarlyStopReplacesLeftovers();
    void roundTrip_data();
    void roundTrip();
    void immediateRepaints_data();
    void immediateRepaints();
    void queueVisibleDuringPass();
    void gaugeDuringAndAfterPass();
    void engineFailureReachesErrorDisplay();
    void windowSystemDuringRun_data();
    void windowSystemDuringRun();

public:
    // Helpers shared by both source files.
    template <typename T> T* Find(const char* name) const {
        T* found = Form->findChild<T*>(QLatin1String(name));
        if (found == nullptr)
            qFatal("no control named %s", name);
        return found;
    }
    QString Path(const QString& name) const { return Dir->filePath(name); }
    QString MakeFile(const QString& name, const QByteArray& bytes) const;
    void Load(const QStringList& paths);
    void SetKeys(const QString& key, const QString& verify);
    QString Status() const { return Find<QLabel>("StatusText")->text(); }
    QStringList Entries() const;
    // Encrypts a file outside the window, as an earlier session of the program would have.
    static void EncryptOutside(const QString& path, const QByteArray& key);

    std::unique_ptr<veltrane::TMainForm> Form;
    std::unique_ptr<QTemporaryDir> Dir;
    QStringList ErrorDisplayTexts;
};

