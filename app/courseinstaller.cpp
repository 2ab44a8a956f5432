// SPDX-License-Identifier: GPL-3.0-or-later
#include "courseinstaller.h"

#include "coursecatalogue.h"
#include "coursescanner.h"
#include "filedownloader.h"
#include "kestlog.h"
#include "kestpaths.h"
#include "kestprogress.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QProgressBar>
#include <QSaveFile>
#include <QSet>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

#include <unistd.h>

namespace {

const QString VariablesFileName = QStringLiteral("variables_win.txt");

QString localCataloguePath(const QString &userFolder)
{
    return userFolder + QStringLiteral("tavelo.xml");
}

// Every part of every course of a catalogue, in document order; a course listed twice counts once.
QList<QDomElement> allParts(const QDomDocument &catalogue)
{
    QList<QDomElement> found;
    for (const QDomElement &course : kestCatalogue::courses(catalogue))
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

// A hidden name beside folder (same file system, so renames between them are atomic).
QString beside(const QString &folder, const QString &suffix)
{
    const QFileInfo info(QDir::cleanPath(folder));
    return info.path() + QStringLiteral("/.") + info.fileName() + suffix;
}

// Every file below folder, relative to it.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    return files;
}

// A second name for the file (no copy of its content), or a copy where that is not possible.
bool linkOrCopy(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 || QFile::copy(from, to);
}

QSet<QString> readRecord(const QString &path)
{
    QSet<QString> files;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (!line.isEmpty())
                files.insert(line);
        }
    }
    return files;
}

} // namespace

CourseInstaller::CourseInstaller(
    const QString &userFolder, const QString &serverHost, const QString &credentials, QObject *parent)
    : QObject(parent)
    , m_userFolder(userFolder)
    , m_serverHost(serverHost)
    , m_credentials(credentials)
    , m_stallMs(FileDownloader::StallTimeoutMs)
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

bool CourseInstaller::addressAllowed(const QString &partAddress) const
{
    const QUrl url(partAddress);
    const QUrl server(QStringLiteral("http://") + m_serverHost);
    const bool web = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    return url.isValid() && web && url.userInfo().isEmpty()
        && url.host().compare(server.host(), Qt::CaseInsensitive) == 0 && url.port() == server.port();
}

QString CourseInstaller::recordPath(const QString &folderName) const
{
    const QString folder = kestCoursePath::inside(m_userFolder, folderName);
    return folder.isEmpty() ? QString() : beside(folder, QStringLiteral(".installed"));
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
        // A page that offers no course (a portal's or a server's error page) is no catalogue.
        m_catalogue = kestCatalogue::read(temporary, &ok);
        QFile::remove(temporary);
        if (!ok || kestCatalogue::courses(m_catalogue).isEmpty()) {
            qCWarning(lcApp).noquote() << QStringLiteral("The course server sent no usable catalogue");
            m_downloadList.clear();
            return false;
        }
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
    // One message for the whole start, however many files failed.
    if (!m_failed.isEmpty())
        emit warning(QStringLiteral("Error downloading file: %1 (%2 of the course's files failed; the installed "
                                    "course stays as it was and is updated at the next start)")
                         .arg(m_failed.first())
                         .arg(m_failed.size()));
}

QStringList CourseInstaller::downloadCatalogue(
    const QString &target, const QString &address, bool collectParts, bool *ok)
{
    // Whether the file exists afterwards is the test of success, so a copy left by an earlier
    // run must not pass for a fresh one.
    QFile::remove(target);
    {
        // The wait ends at the first watchdog signal when no data comes; a reply still running
        // then is given up with its downloader.
        FileDownloader downloader(target);
        downloader.setStallTimeout(m_stallMs);
        QEventLoop loop;
        connect(&downloader, &FileDownloader::downloaded, &loop, &QEventLoop::quit);
        downloader.download(QUrl(address));
        loop.exec();
    }

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
    // A start ended between the two renames of a swap: the old course is put back first.
    const QString old = beside(folder, QStringLiteral(".old"));
    if (!QFileInfo::exists(folder) && QFileInfo(old).isDir() && QDir().rename(old, folder))
        qCWarning(lcApp).noquote() << QStringLiteral("Put back the course folder of an interrupted update: ") + folder;

    // A part whose address has the course's folder as a segment changed: the course is
    // installed afresh (what the learner added goes along).
    for (const QString &address : qAsConst(m_downloadList))
        m_stale = m_stale || address.split(QLatin1Char('/')).contains(folderName);
    m_stale = m_stale && m_online && QFileInfo(folder).isDir();

    const QList<QDomElement> parts = kestCatalogue::parts(course);
    QStringList needed;
    for (const QDomElement &part : parts) {
        const QString address = part.attribute(QStringLiteral("Url"));
        const QString name = kestCatalogue::partFileName(address);
        const QString partFile = kestCoursePath::inside(m_courseFolder, name);
        if (partFile.isEmpty()) {
            qCWarning(lcApp).noquote() << QStringLiteral("Refused a part whose file name leaves the course folder: ")
                    + address;
            continue;
        }
        if (part.attribute(QStringLiteral("main")) == QLatin1String("True"))
            m_mainProjectFile = partFile;
        if (m_online && (m_stale || !QFileInfo::exists(partFile) || m_downloadList.contains(address)))
            needed << address;
    }
    if (needed.isEmpty())
        return;
    m_downloaded = true;
    for (const QString &address : qAsConst(needed)) {
        if (!addressAllowed(address)) {
            qCWarning(lcApp).noquote() << QStringLiteral(
                                              "Refused a part address that does not lead to the course server: ")
                    + address;
            noteFailure(address);
            return;
        }
    }

    // The new course is put together beside the old one: linked to the old files where only
    // some parts changed, empty when the course is installed afresh.
    const QString staging = beside(folder, QStringLiteral(".staging"));
    m_stagingFolder = staging + QLatin1Char('/');
    QDir(staging).removeRecursively();
    QDir().mkpath(staging);
    if (!m_stale) {
        for (const QString &file : filesBelow(folder)) {
            if (!linkOrCopy(m_courseFolder + file, m_stagingFolder + file)) {
                qCWarning(lcApp).noquote() << QStringLiteral("Cannot prepare the course update in ") + staging;
                noteFailure(m_courseFolder + file);
                break;
            }
        }
    }
    if (!m_downloadError && stageCourse(parts, needed, m_stagingFolder) && swapIn(staging, m_stale))
        m_swapped = true;
    QDir(staging).removeRecursively();
}

bool CourseInstaller::stageCourse(const QList<QDomElement> &parts, const QStringList &needed, const QString &staging)
{
    double overall = 0;
    if (m_progress)
        m_progress->overallBar()->setMinimum(0);
    const double partShare = parts.isEmpty() ? 0 : 100.0 / parts.size();
    CourseScanner scanner([this](const QString &courseFolder, const QString &name, const QString &partAddress) {
        return downloadFile(courseFolder, name, partAddress);
    });

    for (const QDomElement &part : parts) {
        const QString address = part.attribute(QStringLiteral("Url"));
        if (!needed.contains(address))
            continue;
        const QString partFile = kestCoursePath::inside(staging, kestCatalogue::partFileName(address));
        const QString fetch = fetchAddress(address);
        const QString variables = staging + VariablesFileName;
        if (!fetchAndWait(partFile, fetch)
            || !fetchAndWait(variables, fetch.left(fetch.lastIndexOf(QLatin1Char('/')) + 1) + VariablesFileName, true))
            return false;
        m_variablesFilePath = m_courseFolder + VariablesFileName;

        QStringList files;
        scanner.collectVariableFileReferences(variables, QLatin1Char('/') + VariablesFileName, files, fetch);
        QStringList named = scanner.collectProjectReferences({}, partFile, staging, fetch);
        if (m_downloadError)
            return false;
        named.erase(
            std::remove_if(named.begin(), named.end(),
                [&staging](const QString &name) { return QFileInfo::exists(kestPaths::joinPath(staging, name)); }),
            named.end());
        // A set beside the list: a course names thousands of files, and a list lookup per name
        // made this quadratic.
        QSet<QString> listed;
        for (const QString &name : qAsConst(files))
            listed.insert(name);
        for (QString name : qAsConst(named)) {
            name.replace(QLatin1String("//"), QLatin1String("/"));
            if (!listed.contains(name)) {
                listed.insert(name);
                files << name;
            }
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
            downloadFileList(distinct, staging, fetch, overall, partShare / distinct.size());
        }
        if (m_downloadError)
            return false;
    }
    return true;
}

bool CourseInstaller::swapIn(const QString &staging, bool fresh)
{
    const QString folder = QDir::cleanPath(m_courseFolder);
    const QString record = beside(folder, QStringLiteral(".installed"));
    const QSet<QString> installedBefore = readRecord(record);
    // The learner's files: whatever the installer did not put there, unless the new course
    // brings a file of that name.
    if (fresh) {
        for (const QString &file : filesBelow(folder)) {
            if (installedBefore.contains(file) || QFileInfo::exists(m_stagingFolder + file))
                continue;
            if (!linkOrCopy(m_courseFolder + file, m_stagingFolder + file)) {
                qCWarning(lcApp).noquote() << QStringLiteral("Cannot carry the learner's file over: ") + file;
                noteFailure(m_courseFolder + file);
                return false;
            }
        }
    }
    QSet<QString> installed = fresh ? QSet<QString>() : installedBefore;
    for (const QString &file : qAsConst(m_fetched))
        installed.insert(file);

    const QString old = beside(folder, QStringLiteral(".old"));
    QDir(old).removeRecursively();
    const bool hadFolder = QFileInfo(folder).isDir();
    if ((hadFolder && !QDir().rename(folder, old)) || !QDir().rename(staging, folder)) {
        if (hadFolder)
            QDir().rename(old, folder);
        qCWarning(lcApp).noquote() << QStringLiteral("Cannot move the updated course into ") + folder;
        noteFailure(folder);
        return false;
    }
    QDir(old).removeRecursively();

    QStringList lines = installed.values();
    lines.sort();
    QSaveFile file(record);
    if (!file.open(QIODevice::WriteOnly) || file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n') < 0
        || !file.commit())
        qCWarning(lcApp).noquote() << QStringLiteral("Cannot write the record of installed files ") + record;
    return true;
}

bool CourseInstaller::notProvided(const FileDownloader &downloader, const QString &target) const
{
    if (downloader.httpStatus() != 404)
        return false;
    // Documents also name files the learner makes (recordings) and files a course does without.
    qCWarning(lcApp).noquote() << QStringLiteral("Not on the course server, left out: ")
            + QDir(m_stagingFolder).relativeFilePath(target);
    return true;
}

bool CourseInstaller::fetchAndWait(const QString &target, const QString &address, bool optional)
{
    QDir().mkpath(QFileInfo(target).absolutePath());
    FileDownloader downloader(target);
    downloader.setStallTimeout(m_stallMs);
    QEventLoop loop;
    connect(&downloader, &FileDownloader::finished, &loop, &QEventLoop::quit);
    downloader.download(QUrl(address));
    if (!downloader.isFinished())
        loop.exec();
    if (downloader.hasError() || !downloader.isFinished()) {
        if (optional && notProvided(downloader, target))
            return true;
        noteFailure(target);
        return false;
    }
    m_fetched << QDir(m_stagingFolder).relativeFilePath(target);
    return true;
}

void CourseInstaller::noteFailure(const QString &target)
{
    m_downloadError = true;
    QString shown = target;
    if (!m_stagingFolder.isEmpty() && shown.startsWith(m_stagingFolder))
        shown = m_courseFolder + shown.mid(m_stagingFolder.size());
    m_failed << shown;
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
    return fetchAndWait(target, source, true);
}

void CourseInstaller::downloadFileList(
    const QStringList &names, const QString &courseFolder, const QString &partAddress, double &overall, double share)
{
    QStringList distinct = names;
    distinct.removeDuplicates();
    const QString base = partAddress.left(partAddress.lastIndexOf(QLatin1Char('/')) + 1);
    int next = 0;
    int count = 0;
    std::map<FileDownloader *, std::unique_ptr<FileDownloader>> running;
    QEventLoop loop;
    QSet<QString> folders; // made already

    // The bars follow at most every ProgressIntervalMs and at the last file: painting the window
    // for each of a course's thousands of small files cost more than fetching them.
    QElapsedTimer shown;
    const auto advance = [&] {
        ++count;
        overall += share;
        if (shown.isValid() && shown.elapsed() < ProgressIntervalMs && count < distinct.size())
            return;
        shown.start();
        if (m_progress) {
            m_progress->fileBar()->setValue(count);
            m_progress->fileBar()->setAccessibleName(percentText(overall));
        }
        showOverall(overall);
    };
    // Keeps up to InFlight fetches running; after a failure none is started.
    std::function<void()> startMore = [&] {
        while (!m_downloadError && int(running.size()) < InFlight && next < distinct.size()) {
            const QString name = distinct.at(next++);
            const QString target = kestCoursePath::inside(courseFolder, name);
            if (target.isEmpty()) {
                qCWarning(lcApp).noquote()
                    << QStringLiteral("Refused to fetch a file outside the course folder: ") + name.trimmed();
                advance();
                continue;
            }
            const QString folder = target.left(target.lastIndexOf(QLatin1Char('/')));
            if (!folders.contains(folder)) {
                QDir().mkpath(folder);
                folders.insert(folder);
            }
            auto downloader = std::make_unique<FileDownloader>(target);
            downloader->setStallTimeout(m_stallMs);
            // The staging folder is swapped in only whole.
            downloader->setWriteInPlace(true);
            FileDownloader *raw = downloader.get();
            connect(raw, &FileDownloader::finished, &loop, [&, raw, target](bool ok) {
                if (ok)
                    m_fetched << QDir(m_stagingFolder).relativeFilePath(target);
                else if (!notProvided(*raw, target))
                    noteFailure(target);
                advance();
                auto it = running.find(raw);
                it->second.release()->deleteLater();
                running.erase(it);
                if (m_downloadError)
                    running.clear(); // the fetches still running are given up
                startMore();
                if (running.empty())
                    loop.quit();
            });
            running.emplace(raw, std::move(downloader));
            raw->download(QUrl(kestPaths::joinPath(base, name)));
        }
    };
    startMore();
    if (!running.empty())
        loop.exec();
    for (; next < distinct.size(); ++next) {
        qCDebug(lcApp).noquote() << QStringLiteral("Donwload error = true");
        advance();
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
    if (!m_downloaded || m_downloadError || !m_swapped)
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
    // One entry per course: the new copy replaces the course's entries, and an installation
    // afresh also the entry that described its folder.
    const QString title = m_installedCopy.attribute(QStringLiteral("Name"));
    const QString folder = m_installedCopy.attribute(QStringLiteral("Folder"));
    bool folderEntryGone = !m_stale;
    for (QDomElement entry = root.firstChildElement(QStringLiteral("project")); !entry.isNull();) {
        const QDomElement next = entry.nextSiblingElement(QStringLiteral("project"));
        const bool sameFolder = !folderEntryGone && entry.attribute(QStringLiteral("Folder")) == folder;
        if (entry.attribute(QStringLiteral("Name")) == title || sameFolder) {
            folderEntryGone = folderEntryGone || sameFolder;
            root.removeChild(entry);
        }
        entry = next;
    }
    root.appendChild(m_writableCatalogue.importNode(m_installedCopy, true));
    for (QDomNode node = m_writableCatalogue.firstChild(); !node.isNull();) {
        const QDomNode next = node.nextSibling();
        if (node.isProcessingInstruction() && node.nodeName() == QLatin1String("xml"))
            m_writableCatalogue.removeChild(node);
        node = next;
    }

    // Written aside and renamed over the old catalogue, which survives a failed write; in UTF-8,
    // which the declaration says and the reader assumes.
    QSaveFile file(local);
    bool written = file.open(QIODevice::WriteOnly);
    if (written) {
        QTextStream out(&file);
        out.setCodec("UTF-8");
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        m_writableCatalogue.save(out, 1);
        out.flush();
        written = out.status() == QTextStream::Ok && file.commit();
    }
    if (!written) {
        qCWarning(lcApp).noquote() << QStringLiteral("Cannot write the course catalogue ") + local;
        emit warning(QStringLiteral("Cannot write the course catalogue ") + local
            + QStringLiteral(": the course is checked again at the next start"));
    }
}
