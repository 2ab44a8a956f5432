// SPDX-License-Identifier: GPL-3.0-or-later
#include "courseinstaller.h"

#include "coursecatalogue.h"
#include "coursescanner.h"
#include "filedownloader.h"
#include "kestlog.h"
#include "kestpaths.h"
#include "kestprogress.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QProgressBar>
#include <QSaveFile>
#include <QSet>
#include <QTextStream>
#include <QUrl>

#include <algorithm>

namespace {

const QString VariablesFileName = QStringLiteral("variables_win.txt");

QString localCataloguePath(const QString &userFolder)
{
    return userFolder + QStringLiteral("tavelo.xml");
}

// Every part address of every course of a catalogue, in document order.
QList<QDomElement> allParts(const QDomDocument &catalogue)
{
    QList<QDomElement> found;
    const QDomElement root = catalogue.documentElement();
    for (QDomElement course = root.firstChildElement(QStringLiteral("project")); !course.isNull();
         course = course.nextSiblingElement(QStringLiteral("project")))
        found << kestCatalogue::parts(course);
    return found;
}

QString percentText(double overall)
{
    return QString::number(int(overall)) + QStringLiteral(" Percent.");
}

// The canonical form of an existing folder is inside the canonical user folder: a course
// folder that is a link to elsewhere is neither written through nor emptied.
bool reallyInside(const QString &folder, const QString &userFolder)
{
    const QFileInfo info(folder);
    if (!info.exists())
        return true;
    const QString base = QFileInfo(userFolder).canonicalFilePath();
    const QString real = info.canonicalFilePath();
    return !base.isEmpty() && real.startsWith(base + QLatin1Char('/')) && !info.isSymLink();
}

} // namespace

CourseInstaller::CourseInstaller(
    const QString &userFolder, const QString &serverHost, const QString &credentials, QObject *parent)
    : QObject(parent)
    , m_userFolder(userFolder)
    , m_serverHost(serverHost)
    , m_credentials(credentials)
{ }

CourseInstaller::~CourseInstaller() = default;

QString CourseInstaller::catalogueAddress() const
{
    return QStringLiteral("http://") + m_credentials + QLatin1Char('@') + m_serverHost
        + QStringLiteral("/tavelo/tavelo.xml");
}

QString CourseInstaller::fetchAddress(const QString &partAddress) const
{
    return partAddress.left(7) + m_credentials + QLatin1Char('@') + partAddress.mid(7);
}

bool CourseInstaller::readCatalogues(bool online)
{
    m_online = online;
    const QString local = localCataloguePath(m_userFolder);
    const QString temporary = m_userFolder + QStringLiteral("temp_tavelo.xml");
    bool ok = true;
    if (online && QFileInfo::exists(local))
        m_downloadList = findChangedParts(local, temporary, catalogueAddress(), &ok);
    else if (online)
        m_downloadList = downloadCatalogue(temporary, catalogueAddress(), true, &ok);
    if (!ok)
        return false;

    if (online) {
        m_catalogue = kestCatalogue::read(temporary);
        QFile::remove(temporary);
    } else {
        m_catalogue = kestCatalogue::read(local);
    }
    m_offeredTitles = kestCatalogue::offeredTitles(m_catalogue);
    m_localCatalogue = kestCatalogue::read(local);
    return true;
}

void CourseInstaller::installAndMerge(const QString &title, KestProgress *progress)
{
    m_progress = progress;
    const QDomDocument &source = m_offeredTitles.contains(title) ? m_catalogue : m_localCatalogue;
    m_writableCatalogue = kestCatalogue::read(localCataloguePath(m_userFolder));
    const QDomElement course = kestCatalogue::findCourse(source, title);
    if (!course.isNull())
        installCourse(course);
    merge();
}

QStringList CourseInstaller::downloadCatalogue(
    const QString &target, const QString &address, bool collectParts, bool *ok)
{
    // Whether the file exists afterwards is the test of success, so a copy left by an earlier
    // run must not pass for a fresh one.
    QFile::remove(target);
    auto *downloader = new FileDownloader(target, this);
    connect(downloader, &FileDownloader::error, this, &CourseInstaller::warning);
    connect(downloader, &FileDownloader::ausgabe, this, &CourseInstaller::warning);
    QEventLoop loop;
    connect(downloader, &FileDownloader::downloaded, &loop, &QEventLoop::quit);
    downloader->download(QUrl(address));
    loop.exec();

    *ok = QFileInfo::exists(target);
    QStringList parts;
    if (*ok && collectParts) {
        for (const QDomElement &part : allParts(kestCatalogue::read(target)))
            parts << part.attribute(QStringLiteral("Url"));
    }
    return parts;
}

QStringList CourseInstaller::findChangedParts(
    const QString &local, const QString &temporary, const QString &address, bool *ok)
{
    downloadCatalogue(temporary, address, false, ok);
    if (!*ok)
        return {};
    QHash<QString, QString> localVersions;
    for (const QDomElement &part : allParts(kestCatalogue::read(local)))
        localVersions.insert(part.attribute(QStringLiteral("Url")), part.attribute(QStringLiteral("version")));

    qCDebug(lcApp).noquote() << QStringLiteral("open fileServer: ") + temporary;
    QStringList changed;
    for (const QDomElement &part : allParts(kestCatalogue::read(temporary))) {
        const QString url = part.attribute(QStringLiteral("Url"));
        const auto known = localVersions.constFind(url);
        if (known == localVersions.constEnd() || *known != part.attribute(QStringLiteral("version")))
            changed << url;
    }
    return changed;
}

bool CourseInstaller::removeStaleCourse(const QString &folderName)
{
    bool stale = false;
    for (const QString &address : qAsConst(m_downloadList))
        stale = stale || address.split(QLatin1Char('/')).contains(folderName);
    if (!stale || !QFileInfo(m_courseFolder).isDir())
        return false;
    // The course folder was checked to lie strictly inside the user folder; a link is not followed.
    if (!reallyInside(m_courseFolder, m_userFolder))
        return false;
    qCDebug(lcApp).noquote() << QStringLiteral("Removing the outdated course folder ") + m_courseFolder;
    QDir(m_courseFolder).removeRecursively();
    QDomElement root = m_writableCatalogue.documentElement();
    for (QDomElement entry = root.firstChildElement(); !entry.isNull(); entry = entry.nextSiblingElement()) {
        if (entry.attribute(QStringLiteral("Folder")).contains(folderName)) {
            root.removeChild(entry);
            break;
        }
    }
    return true;
}

void CourseInstaller::installCourse(const QDomElement &course)
{
    m_installedCopy = course.cloneNode(true).toElement();
    const QString folderName = course.attribute(QStringLiteral("Folder"));
    const QString folder = kestCoursePath::inside(m_userFolder, folderName);
    if (folder.isEmpty() || !reallyInside(folder, m_userFolder)) {
        qCWarning(lcApp).noquote() << QStringLiteral("Course not installed, its folder is not inside the user folder: ")
                + folderName;
        return;
    }
    m_courseInstalled = true;
    m_courseFolder = folder + QLatin1Char('/');
    emit courseFolderChosen(m_courseFolder);

    removeStaleCourse(folderName);
    QDir().mkpath(m_courseFolder);

    double overall = 0;
    if (m_progress)
        m_progress->overallBar()->setMinimum(0);
    const QList<QDomElement> parts = kestCatalogue::parts(course);
    const double partShare = parts.isEmpty() ? 0 : 100.0 / parts.size();
    CourseScanner scanner([this](const QString &courseFolder, const QString &name, const QString &partAddress) {
        return downloadFile(courseFolder, name, partAddress);
    });

    for (const QDomElement &part : parts) {
        const QString address = part.attribute(QStringLiteral("Url"));
        const QString partFile = kestCoursePath::inside(m_courseFolder, kestCatalogue::partFileName(address));
        if (partFile.isEmpty()) {
            qCWarning(lcApp).noquote() << QStringLiteral("Refused a part whose file name leaves the course folder: ")
                    + address;
            continue;
        }
        if (part.attribute(QStringLiteral("main")) == QLatin1String("True"))
            m_mainProjectFile = partFile;
        if (!m_online || (QFileInfo::exists(partFile) && !m_downloadList.contains(address)))
            continue;

        m_downloaded = true;
        const QString fetch = fetchAddress(address);
        fetchAndWait(partFile, fetch);
        m_variablesFilePath = m_courseFolder + VariablesFileName;
        fetchAndWait(m_variablesFilePath, fetch.left(fetch.lastIndexOf(QLatin1Char('/')) + 1) + VariablesFileName);

        QStringList files;
        scanner.collectVariableFileReferences(m_variablesFilePath, QLatin1Char('/') + VariablesFileName, files, fetch);
        QStringList named = scanner.collectProjectReferences({}, partFile, m_courseFolder, fetch);
        named.erase(
            std::remove_if(named.begin(), named.end(),
                [this](const QString &name) { return QFileInfo::exists(kestPaths::joinPath(m_courseFolder, name)); }),
            named.end());
        for (QString name : qAsConst(named)) {
            name.replace(QLatin1String("//"), QLatin1String("/"));
            if (!files.contains(name))
                files << name;
        }
        // Names differ only by blanks and line ends when they name the same file.
        QSet<QString> seen;
        QStringList distinct;
        for (const QString &name : qAsConst(files)) {
            if (!seen.contains(name.trimmed())) {
                seen.insert(name.trimmed());
                distinct << name;
            }
        }

        if (distinct.isEmpty()) {
            overall += partShare;
            showOverall(overall);
        } else {
            if (m_progress)
                m_progress->fileBar()->setRange(0, distinct.size());
            downloadFileList(distinct, m_courseFolder, fetch, overall, partShare / distinct.size());
        }
    }
}

void CourseInstaller::fetchAndWait(const QString &target, const QString &address)
{
    auto *downloader = new FileDownloader(target, this);
    QEventLoop loop;
    connect(downloader, &FileDownloader::downloaded, &loop, &QEventLoop::quit);
    downloader->download(QUrl(address));
    loop.exec();
}

bool CourseInstaller::downloadFile(const QString &courseFolder, const QString &name, const QString &partAddress)
{
    const QString target = kestCoursePath::inside(courseFolder, name);
    if (target.isEmpty()) {
        qCWarning(lcApp).noquote() << QStringLiteral("Refused to fetch a file outside the course folder: ")
                + name.trimmed();
        return false;
    }
    const QString source = kestPaths::joinPath(partAddress.left(partAddress.lastIndexOf(QLatin1Char('/')) + 1), name);
    // The old file stays until a new body has arrived whole (the downloader writes it aside first).
    QDir().mkpath(QFileInfo(target).absolutePath());
    FileDownloader downloader(target);
    QEventLoop loop;
    connect(&downloader, &FileDownloader::downloaded, &loop, &QEventLoop::quit);
    connect(&downloader, &FileDownloader::error, &loop, &QEventLoop::quit);
    connect(&downloader, &FileDownloader::error, this, [this](const QString &text) {
        m_downloadError = true;
        emit warning(text);
    });
    downloader.download(QUrl(source));
    loop.exec();
    return true;
}

void CourseInstaller::downloadFileList(
    const QStringList &names, const QString &courseFolder, const QString &partAddress, double &overall, double share)
{
    QStringList distinct = names;
    distinct.removeDuplicates();
    int count = 0;
    for (const QString &name : qAsConst(distinct)) {
        if (m_downloadError)
            qCDebug(lcApp).noquote() << QStringLiteral("Donwload error = true");
        else
            downloadFile(courseFolder, name, partAddress);
        ++count;
        overall += share;
        if (m_progress) {
            m_progress->fileBar()->setValue(count);
            m_progress->fileBar()->setAccessibleName(percentText(overall));
        }
        showOverall(overall);
    }
}

void CourseInstaller::showOverall(double overall)
{
    if (!m_progress)
        return;
    m_progress->overallBar()->setValue(int(overall));
    m_progress->overallBar()->setAccessibleName(percentText(overall));
}

void CourseInstaller::merge()
{
    if (!m_downloaded || m_downloadError)
        return;
    qCDebug(lcApp).noquote() << QStringLiteral("Einfügen des heruntergeladenen Kurses in die xml Datei.");
    const QString local = localCataloguePath(m_userFolder);
    QDomElement root = m_writableCatalogue.documentElement();
    if (root.isNull()) {
        if (!QFileInfo::exists(local))
            qCDebug(lcApp).noquote() << QStringLiteral("Neues xml daher root knoten erzeugen");
        root = m_writableCatalogue.createElement(QStringLiteral("root"));
        m_writableCatalogue.appendChild(root);
    }
    root.appendChild(m_writableCatalogue.importNode(m_installedCopy, true));

    // Written aside and renamed over the old catalogue, which survives a failed write.
    QSaveFile file(local);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcApp).noquote() << QStringLiteral("Cannot write the course catalogue ") + local;
        return;
    }
    QTextStream out(&file);
    m_writableCatalogue.save(out, 1);
    out.flush();
    if (!file.commit())
        qCWarning(lcApp).noquote() << QStringLiteral("Cannot write the course catalogue ") + local;
}
