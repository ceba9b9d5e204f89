#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QVector>

namespace KOV::Ui {

/**
 * What a tile and the detail page say while a package is on its way: "12.3 MiB of 40.0 MiB · 5.1 MiB/s ·
 * 6 s left" while it downloads, with the speed smoothed over a few seconds, and what the installation is
 * doing while it installs.
 */
class ProgressText final
{
    Q_DECLARE_TR_FUNCTIONS(KOV::Ui::ProgressText)
public:
    /** A new transfer: the speed starts anew. */
    void restart();
    /** Notes `done` bytes of `total` now; the text of the transfer as it stands. */
    QString downloaded(qint64 done, qint64 total) { return downloaded(done, total, m_clock.isValid() ? m_clock.elapsed() : 0); }
    /** The same at `milliseconds` since restart(), for the tests. */
    QString downloaded(qint64 done, qint64 total, qint64 milliseconds);
    /** The step of an installation in words: "saving", "unpacking", "placing", "cleaning". */
    static QString installStep(const QString &step);
    /** "6 s left", "3 min left", "1 h 5 min left" */
    static QString timeLeft(qint64 seconds);

private:
    struct Sample
    {
        qint64 at;
        qint64 bytes;
    };
    QElapsedTimer m_clock;
    QVector<Sample> m_samples;
};

} // namespace KOV::Ui
