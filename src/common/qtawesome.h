#pragma once

#include <QFont>
#include <QIcon>
#include <QObject>
#include <QSharedPointer>
#include <QVariantMap>

namespace KOV {

class QtAwesomeIconPainter;

/** Turns Font Awesome 4.7 codepoints into icons drawn in colours that follow the widget's mode and state. */
class QtAwesome final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtAwesome)
public:
    explicit QtAwesome(QObject *parent = nullptr);
    ~QtAwesome() override;

    bool initFontAwesome();
    QIcon icon(int codepoint, const QVariantMap &options = QVariantMap());

    void setDefaultOption(const QString &name, const QVariant &value);
    QVariant defaultOption(const QString &name) const;
    const QVariantMap &defaultOptions() const { return m_defaultOptions; }

    QString fontName() const { return m_fontName; }
    QFont font(int pixelSize) const;

private:
    QVariantMap m_defaultOptions;
    QString m_fontName;
    QSharedPointer<QtAwesomeIconPainter> m_charPainter;
};

/** The program's icon factory: white glyphs, created on first use and owned by the application. */
QtAwesome *sharedIcons();

/** Options for glyphs on light backgrounds: black in every mode. */
QVariantMap darkIconOptions();

} // namespace KOV
