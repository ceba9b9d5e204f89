#include "controllers/filetransaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include "app/logging.h"
#include "controllers/installpaths.h"

namespace KOV::Controllers {

namespace {

bool present(const QFileInfo &info)
{
    return info.exists() || info.isSymLink();
}

} // namespace

FileTransaction::FileTransaction()
    : m_asidePrefix(QStringLiteral(".KOV_replaced_") + QUuid::createUuid().toString(QUuid::WithoutBraces)
                    + QLatin1Char('_'))
{
}

FileTransaction::~FileTransaction()
{
    if (m_open)
        rollback();
}

bool FileTransaction::fail(const QString &path)
{
    m_failedPath = path;
    qCWarning(lcInstall) << "Cannot change : " << path;
    return false;
}

bool FileTransaction::makeParents(const QString &path)
{
    // Made one level at a time so that rollback removes exactly the folders made here.
    QStringList missing;
    QString folder = QFileInfo(path).absolutePath();
    while (!QFileInfo(folder).isDir()) {
        if (present(QFileInfo(folder)))
            return fail(folder);
        missing.prepend(folder);
        const QString up = QFileInfo(folder).absolutePath();
        if (up == folder)
            return fail(folder);
        folder = up;
    }
    for (const QString &made : qAsConst(missing)) {
        if (!QDir().mkdir(made))
            return fail(made);
        m_steps.append({ MadeFolder, made, QString() });
    }
    return true;
}

bool FileTransaction::moveAside(const QString &path)
{
    if (!present(QFileInfo(path)))
        return true;
    // Numbered, so that a path and a path inside it moved aside later never collide.
    const QString aside
        = QFileInfo(path).absolutePath() + QLatin1Char('/') + m_asidePrefix + QString::number(m_counter++);
    if (!QDir().rename(path, aside))
        return fail(path);
    m_steps.append({ MovedAside, path, aside });
    return true;
}

bool FileTransaction::moveInto(const QString &source, const QString &destination)
{
    if (present(QFileInfo(destination)))
        return fail(destination);
    if (!makeParents(destination))
        return false;
    if (!QDir().rename(source, destination) && !copyPath(source, destination))
        return fail(destination);
    m_steps.append({ Placed, destination, QString() });
    return true;
}

bool FileTransaction::copyInto(const QString &source, const QString &destination)
{
    if (!moveAside(destination) || !makeParents(destination))
        return false;
    if (!copyPath(source, destination))
        return fail(destination);
    m_steps.append({ Placed, destination, QString() });
    return true;
}

bool FileTransaction::commit()
{
    m_open = false;
    bool removed = true;
    for (const Step &step : qAsConst(m_steps)) {
        if (step.kind == MovedAside && !removePath(step.aside)) {
            qCWarning(lcInstall) << "Could not delete replaced files : " << step.aside;
            removed = false;
        }
    }
    m_steps.clear();
    return removed;
}

bool FileTransaction::rollback()
{
    m_open = false;
    bool restored = true;
    for (int i = m_steps.size() - 1; i >= 0; --i) {
        const Step &step = m_steps.at(i);
        switch (step.kind) {
        case Placed:
            restored = removePath(step.path) && restored;
            break;
        case MadeFolder:
            // Only an empty folder goes: anything in it was not made here.
            QDir().rmdir(step.path);
            break;
        case MovedAside:
            if (!removePath(step.path) || !QDir().rename(step.aside, step.path)) {
                qCCritical(lcInstall)
                    << "Could not put back : " << step.path << " (kept in " << step.aside << ")";
                restored = false;
            }
            break;
        }
    }
    m_steps.clear();
    return restored;
}

} // namespace KOV::Controllers
