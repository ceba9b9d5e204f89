#pragma once

#include <QTextBrowser>

namespace KOV::Components {

/**
 * Shows a catalogue's HTML without ever loading a resource: no image, style sheet or file is opened for it,
 * local or remote, so a description cannot read the disk or hang on a device. Links open in the browser,
 * http and https only.
 */
class InertHtmlView final : public QTextBrowser
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InertHtmlView)
public:
    explicit InertHtmlView(QWidget *parent = nullptr);

    /** The same markup with every image and background image taken out, for a label or a message box. */
    static QString strip(const QString &html);

    QVariant loadResource(int type, const QUrl &name) override;
};

} // namespace KOV::Components
