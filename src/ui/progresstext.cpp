#include "ui/progresstext.h"

#include <QLocale>

namespace KOV::Ui {

namespace {

// The speed is what arrived over the last few seconds: steady enough to read, quick to follow a change.
constexpr qint64 windowMs = 3000;

} // namespace

void ProgressText::restart()
{
    m_clock.start();
    m_samples.clear();
}

QString ProgressText::downloaded(qint64 done, qint64 total, qint64 milliseconds)
{
    if (!m_clock.isValid())
        m_clock.start();
    if (!m_samples.isEmpty() && done < m_samples.last().bytes)
        m_samples.clear();
    m_samples.append({ milliseconds, done });
    while (m_samples.size() > 2 && m_samples.at(1).at <= milliseconds - windowMs)
        m_samples.removeFirst();
    const QLocale locale;
    QString text = total > 0 ? tr("%1 of %2").arg(locale.formattedDataSize(done, 1), locale.formattedDataSize(total, 1))
                             : locale.formattedDataSize(done, 1);
    const qint64 span = milliseconds - m_samples.first().at;
    if (span < 500)
        return text;
    const double perSecond = (done - m_samples.first().bytes) * 1000.0 / span;
    text += QStringLiteral(" \u00b7 ") + tr("%1/s").arg(locale.formattedDataSize(qint64(perSecond), 1));
    if (total > done && perSecond >= 1)
        text += QStringLiteral(" \u00b7 ") + timeLeft(qint64((total - done) / perSecond + 0.5));
    return text;
}

QString ProgressText::installStep(const QString &step)
{
    if (step == QLatin1String("saving"))
        return tr("Saving your files");
    if (step == QLatin1String("unpacking"))
        return tr("Unpacking");
    if (step == QLatin1String("placing"))
        return tr("Putting files in place");
    if (step == QLatin1String("cleaning"))
        return tr("Cleaning up");
    return tr("Checking the archive");
}

QString ProgressText::timeLeft(qint64 seconds)
{
    if (seconds < 60)
        return tr("%1 s left").arg(seconds);
    if (seconds < 3600)
        return tr("%1 min left").arg((seconds + 30) / 60);
    return tr("%1 h %2 min left").arg(seconds / 3600).arg((seconds % 3600 + 30) / 60);
}

} // namespace KOV::Ui
