#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QSharedPointer>

#include "models/package.h"
#include "ui/progresstext.h"

namespace KOV::Ui {

/** Beside a progress bar: how far a package's download is and how fast, or what its installation is doing. */
class ProgressLabel final : public QLabel
{
    Q_OBJECT
public:
    explicit ProgressLabel(QWidget *parent = nullptr);

    void setPackage(const QSharedPointer<Models::Package> &package);

private:
    void onState(Models::Package::State state);
    void onDownloaded(qint64 done);

    QSharedPointer<Models::Package> m_package;
    ProgressText m_text;
    // The text changes at most a few times a second: readable, and cheap with many tiles.
    QElapsedTimer m_lastShown;
};

} // namespace KOV::Ui
