#include "controllers/filetransaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <iterator>

#include "app/logging.h"
#include "controllers/installpaths.h"

namespace KOV::Controllers {

namespace {

bool present(const QFileInfo &info)
{
    return info.exists() || info.isSymLink();
}

const char kindLetters[] = { 'A', 'P', 'F' };

QByteArray encoded(const QString &path)
{
    return path.toUtf8().toPercentEncoding("/");
}

QString decoded(const QByteArray &field)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(field));
}

std::function<void(int)> &stepHook()
{
    static std::function<void(int)> hook;
    return hook;
}

bool writeLine(QFile *log, const QByteArray &line)
{
    // Unbuffered: the line is the kernel's before the step is taken, so a killed process leaves it behind.
    return !log || log->write(line + '\n') == line.size() + 1;
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

bool FileTransaction::setLog(const QString &path)
{
    m_log.setFileName(path);
    if (m_log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    qCWarning(lcInstall) << "Cannot write : " << path << " : " << m_log.errorString();
    return fail(path);
}

bool FileTransaction::addStep(Kind kind, const QString &path, const QString &aside)
{
    // Recorded before it is taken, so that undoing covers a step that was only begun.
    const Step step { kind, path, aside, m_steps.size() };
    QByteArray line = kindLetters[kind] + QByteArray(" ") + encoded(path);
    if (kind == MovedAside)
        line += ' ' + encoded(aside);
    if (m_log.isOpen() && !writeLine(&m_log, line))
        return fail(m_log.fileName());
    m_steps.append(step);
    if (m_log.isOpen() && stepHook())
        stepHook()(step.index);
    return true;
}

void FileTransaction::setStepHook(std::function<void(int)> hook)
{
    stepHook() = std::move(hook);
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
        if (!addStep(MadeFolder, made) || !QDir().mkdir(made))
            return fail(made);
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
    if (!addStep(MovedAside, path, aside) || !QDir().rename(path, aside))
        return fail(path);
    return true;
}

bool FileTransaction::moveInto(const QString &source, const QString &destination)
{
    if (present(QFileInfo(destination)))
        return fail(destination);
    if (!makeParents(destination) || !addStep(Placed, destination))
        return false;
    if (!QDir().rename(source, destination) && !copyPath(source, destination))
        return fail(destination);
    return true;
}

bool FileTransaction::copyInto(const QString &source, const QString &destination)
{
    if (!moveAside(destination) || !makeParents(destination) || !addStep(Placed, destination))
        return false;
    if (!copyPath(source, destination))
        return fail(destination);
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
    m_log.close();
    return removed;
}

bool FileTransaction::rollback()
{
    m_open = false;
    const bool restored = undoSteps(m_steps, m_log.isOpen() ? &m_log : nullptr);
    m_steps.clear();
    m_log.close();
    return restored;
}

bool FileTransaction::undoSteps(const QVector<Step> &steps, QFile *log)
{
    // Each undo may run twice (a process killed while undoing): it looks before it changes anything.
    bool restored = true;
    for (int i = steps.size() - 1; i >= 0; --i) {
        const Step &step = steps.at(i);
        bool undone = true;
        switch (step.kind) {
        case Placed:
            undone = removePath(step.path);
            break;
        case MadeFolder:
            // Only an empty folder goes: anything in it was not made here.
            QDir().rmdir(step.path);
            break;
        case MovedAside:
            if (present(QFileInfo(step.aside))
                && (!removePath(step.path) || !QDir().rename(step.aside, step.path))) {
                qCCritical(lcInstall)
                    << "Could not put back : " << step.path << " (kept in " << step.aside << ")";
                undone = false;
            }
            break;
        }
        if (undone)
            writeLine(log, "U " + QByteArray::number(step.index));
        restored = undone && restored;
    }
    return restored;
}

QVector<FileTransaction::Step> FileTransaction::readLog(const QString &path)
{
    QFile file(path);
    QVector<Step> steps;
    if (!file.open(QIODevice::ReadOnly))
        return steps;
    QSet<int> undone;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        // A line cut short by the kill was never acted on.
        if (!line.endsWith('\n'))
            break;
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() == 2 && fields.at(0) == "U") {
            undone.insert(fields.at(1).toInt());
            continue;
        }
        const int kind
            = fields.isEmpty() || fields.at(0).size() != 1
                  ? -1
                  : int(std::find(std::begin(kindLetters), std::end(kindLetters), fields.at(0).at(0))
                        - std::begin(kindLetters));
        if (kind < 0 || kind > MadeFolder || fields.size() != (kind == MovedAside ? 3 : 2)) {
            qCWarning(lcInstall) << "Unreadable line in " << path << " : " << line;
            continue;
        }
        steps.append({ Kind(kind), decoded(fields.at(1)),
                       kind == MovedAside ? decoded(fields.at(2)) : QString(), steps.size() });
    }
    QVector<Step> pending;
    for (const Step &step : qAsConst(steps)) {
        if (!undone.contains(step.index))
            pending.append(step);
    }
    return pending;
}

bool FileTransaction::undoLog(const QString &path)
{
    const QVector<Step> steps = readLog(path);
    if (steps.isEmpty())
        return true;
    QFile log(path);
    if (!log.open(QIODevice::Append | QIODevice::Unbuffered))
        return steps.isEmpty();
    return undoSteps(steps, &log);
}

bool FileTransaction::finishLog(const QString &path)
{
    bool removed = true;
    for (const Step &step : readLog(path)) {
        if (step.kind == MovedAside && !removePath(step.aside)) {
            qCWarning(lcInstall) << "Could not delete replaced files : " << step.aside;
            removed = false;
        }
    }
    return removed;
}

} // namespace KOV::Controllers
