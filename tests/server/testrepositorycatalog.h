#pragma once

#include "server/repository/repositorychecks.h"
#include "server/repository/repositorysignature.h"
#include "tests/support/openpgptestkey.h"
#include "tests/support/testrepository.h"

#include <QObject>
#include <QTemporaryDir>

#include <memory>

// The catalog server's repository catalog, read from copies of one fixture repository.
class TestRepositoryCatalog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void catalogEntries_data();
    void catalogEntries();
    void icons();
    void repositoryOverHttp();
    void categoryTable_data();
    void categoryTable();
    void wrongOverrideLine_data();
    void wrongOverrideLine();
    void groupCatalogs_data();
    void groupCatalogs();
    void desktopGroups_data();
    void desktopGroups();
    void repositoryMidUpdate_data();
    void repositoryMidUpdate();
    void iconArchiveTakesRegularFilesOnly();
    void serviceConfiguration_data();
    void serviceConfiguration();
    void repositorySignature_data();
    void repositorySignature();
    void repositoryStrings_data();
    void repositoryStrings();
    void repositoryBounds_data();
    void repositoryBounds();
    void repositoryAtStart_data();
    void repositoryAtStart();
    void olderStateAfterRestart();
    void advisoriesInCatalog_data();
    void advisoriesInCatalog();
    void hostileUpdateInfo_data();
    void hostileUpdateInfo();
    void signatureWrittenLater();

private:
    // repomd.xml of repo signed, by the repository's key or by a stranger's.
    bool sign(const QString &repo, bool stranger = false) const;

    std::unique_ptr<TestRepository> m_repository;
    const OpenPgpTestKey m_key{QStringLiteral("Repository <repo@example.org>")};
    const OpenPgpTestKey m_stranger{QStringLiteral("Stranger <stranger@example.org>")};
    RepositorySignature m_signature; // checks against m_key
};
